#pragma once

#include <QWidget>

// A groove in the panel between the deck and the tape box.
class DeckDividerView : public QWidget {
    Q_OBJECT

public:
    explicit DeckDividerView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
