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

// The clear button: a light cross in a grey disc, visible on the dark field.
QIcon clearIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x74, 0x78, 0x80));
    painter.drawEllipse(QRectF(5, 5, 22, 22));
    painter.setPen(QPen(QColor(0x17, 0x18, 0x1b), 2.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(12, 12), QPointF(20, 20));
    painter.drawLine(QPointF(20, 12), QPointF(12, 20));
    painter.end();
    pixmap.setDevicePixelRatio(2.0);
    return QIcon(pixmap);
}

} // namespace

TapeSearchField::TapeSearchField(QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(tr("Search"));
    setAccessibleName(tr("Search tapes"));
    setClearButtonEnabled(true);
    // The style's clear icon is dark on dark here; the action is Qt's own.
    for (QAction* action : findChildren<QAction*>()) {
        if (action->objectName() == QLatin1String("_q_qlineeditclearaction")) {
            action->setIcon(clearIcon());
            // Its button's name, for screen readers, and its tool tip.
            action->setText(tr("Clear search"));
            action->setToolTip(tr("Clear search"));
        }
    }
    addAction(magnifierIcon(), QLineEdit::LeadingPosition)->setText(tr("Search"));
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
