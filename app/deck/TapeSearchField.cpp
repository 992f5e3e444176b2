#include "app/deck/TapeSearchField.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

// A magnifier drawn at twice the size, so it stays sharp on scaled screens.
QIcon magnifierIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xa8, 0xab, 0xb2), 3.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawEllipse(QRectF(6, 6, 14, 14));
    painter.drawLine(QPointF(18.5, 18.5), QPointF(26, 26));
    painter.end();
    pixmap.setDevicePixelRatio(2.0);
    return QIcon(pixmap);
}

} // namespace

TapeSearchField::TapeSearchField(QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(tr("Search"));
    setClearButtonEnabled(true);
    addAction(magnifierIcon(), QLineEdit::LeadingPosition);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setStyleSheet(QStringLiteral(
        "QLineEdit { background: #17181b; color: #e4e6ea; border: 1px solid #3b3e44;"
        " border-radius: 10px; padding: 2px 4px; selection-background-color: rgb(0,120,180); }"
        "QLineEdit:focus { border: 1px solid rgb(0,180,255); }"));
    connect(this, &QLineEdit::textChanged, this, &TapeSearchField::search);
}

void TapeSearchField::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && !text().isEmpty()) {
        clear(); // a search of nothing: every tape again
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
