#pragma once

#include <QWidget>

// The 22-pixel name plate across the top of the deck: the maker's mark on
// the left and the title of the tape in the deck on the right.
class DeckTitleBarView : public QWidget {
    Q_OBJECT

public:
    explicit DeckTitleBarView(QWidget* parent = nullptr);

    QString tapeTitle() const { return mTapeTitle; }
    void setTapeTitle(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString mTapeTitle;
};
