#include "app/deck/DeckDividerView.h"

#include <QPainter>

DeckDividerView::DeckDividerView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void DeckDividerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int x = width() / 2;
    painter.setPen(QColor(0, 0, 0, 190));
    painter.drawLine(x, 0, x, height());
    painter.setPen(QColor(255, 255, 255, 30));
    painter.drawLine(x + 1, 0, x + 1, height());
}
