#include "app/deck/DeckTitleBarView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

DeckTitleBarView::DeckTitleBarView(QWidget* parent) : QWidget(parent) {}

void DeckTitleBarView::setTapeTitle(const QString& title) {
    if (title != mTapeTitle) {
        mTapeTitle = title;
        update();
    }
}

void DeckTitleBarView::setNotice(const QString& headline, const QString& detail) {
    setToolTip(headline.isEmpty() ? QString() : detail);
    if (headline != mNotice) {
        mNotice = headline;
        update();
    }
}

void DeckTitleBarView::setMonitoring(bool monitoring) {
    if (monitoring != mMonitoring) {
        mMonitoring = monitoring;
        update();
    }
}

namespace {

// A small lamp and its legend, lit in the deck's amber, starting at `left`;
// returns the width taken.
qreal paintMonitorLamp(QPainter& painter, const QRectF& area, qreal left) {
    QFont legend(QStringLiteral("DejaVu Sans"));
    legend.setPixelSize(9);
    legend.setBold(true);
    legend.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    const QString text = DeckTitleBarView::tr("MONITOR");
    const qreal textWidth = QFontMetricsF(legend).horizontalAdvance(text);
    const QPointF centre(left + 4, area.center().y());
    QRadialGradient glow(centre, 7);
    glow.setColorAt(0.0, QColor(0xff, 0x9a, 0x2e, 160));
    glow.setColorAt(1.0, QColor(0xff, 0x9a, 0x2e, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, 7, 7);
    painter.setBrush(QColor(0xff, 0xb3, 0x4a));
    painter.drawEllipse(centre, 2.5, 2.5);
    painter.setFont(legend);
    painter.setPen(QColor(0xf2, 0xb1, 0x3c));
    const QRectF textArea(left + 11, area.top(), textWidth + 2, area.height());
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, text);
    return 11 + textWidth + 2;
}

} // namespace

void DeckTitleBarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect();
    QLinearGradient metal(area.topLeft(), area.bottomLeft());
    metal.setColorAt(0.0, QColor(0x4a, 0x4b, 0x50));
    metal.setColorAt(0.5, QColor(0x32, 0x33, 0x37));
    metal.setColorAt(1.0, QColor(0x24, 0x25, 0x28));
    painter.fillRect(area, metal);
    painter.setPen(QColor(0, 0, 0, 200));
    painter.drawLine(area.bottomLeft(), area.bottomRight());

    QFont mark(QStringLiteral("DejaVu Sans"));
    mark.setPixelSize(11);
    mark.setBold(true);
    mark.setLetterSpacing(QFont::AbsoluteSpacing, 3.0);
    painter.setFont(mark);
    const QRectF markArea = area.adjusted(14, 0, -14, 0);
    // Engraved: a dark shadow under light lettering.
    painter.setPen(QColor(0, 0, 0, 180));
    painter.drawText(markArea.translated(0, 1), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("CASSORA"));
    painter.setPen(QColor(0xd8, 0xd9, 0xdc));
    painter.drawText(markArea, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("CASSORA"));

    qreal markWidth = QFontMetricsF(mark).horizontalAdvance(QStringLiteral("CASSORA"));
    if (mMonitoring) {
        markWidth += 14 + paintMonitorLamp(painter, area, markArea.left() + markWidth + 14);
    }
    QFont caption(QStringLiteral("DejaVu Sans"));
    caption.setPixelSize(10);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    painter.setFont(caption);
    const QRectF titleArea = markArea.adjusted(markWidth + 16, 0, 0, 0);
    if (!mNotice.isEmpty()) {
        painter.setPen(QColor(0xf2, 0xb1, 0x3c));
        painter.drawText(titleArea, Qt::AlignRight | Qt::AlignVCenter,
                         QFontMetricsF(caption).elidedText(QStringLiteral("\u26a0 ") + mNotice,
                                                           Qt::ElideMiddle, titleArea.width()));
        return;
    }
    const QString text =
        mTapeTitle.isEmpty()
            ? tr("STEREO CASSETTE DECK")
            : QFontMetricsF(caption).elidedText(mTapeTitle, Qt::ElideRight, titleArea.width());
    painter.setPen(mTapeTitle.isEmpty() ? QColor(0x8a, 0x8c, 0x92) : QColor(0xc8, 0xca, 0xce));
    painter.drawText(titleArea, Qt::AlignRight | Qt::AlignVCenter, text);
}
