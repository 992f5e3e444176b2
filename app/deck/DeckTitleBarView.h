#pragma once

#include <QWidget>

// The 22-pixel name plate across the top of the deck: the maker's mark on
// the left and the title of the tape in the deck on the right, or, while
// something stands in the way of recording and playing, a notice in amber
// (its whole text in the tool tip). While the recording input is monitored
// a lamp lit "MONITOR" sits beside the maker's mark.
class DeckTitleBarView : public QWidget {
    Q_OBJECT

public:
    explicit DeckTitleBarView(QWidget* parent = nullptr);

    QString tapeTitle() const { return mTapeTitle; }
    void setTapeTitle(const QString& title);
    QString notice() const { return mNotice; }
    // An empty headline takes the notice away.
    void setNotice(const QString& headline, const QString& detail);
    bool isMonitoring() const { return mMonitoring; }
    void setMonitoring(bool monitoring);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString mTapeTitle;
    QString mNotice;
    bool mMonitoring = false;
};
