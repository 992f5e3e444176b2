#include "app/deck/TapeSpineDelegate.h"

#include "app/deck/TapeBoxModel.h"
#include "app/library/TapeColorScheme.h"

#include <QPainter>
#include <QPainterPath>

const QColor TapeSpineDelegate::GlowColor(0, 180, 255);

namespace {

constexpr double kCaseRadius = 3.0;
constexpr int kTitlePixels = 11;
constexpr int kDetailPixels = 8;

} // namespace

TapeSpineDelegate::TapeSpineDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

// Narrow on purpose: the list stretches its rows to the viewport, which a
// scroll bar may narrow; a wider hint would push the spines' ends out of view.
QSize TapeSpineDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return {120, 30};
}

void TapeSpineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const bool enabled = option.state & QStyle::State_Enabled;
    const auto scheme = TapeColorScheme::colorSchemeWithIndex(
        static_cast<unsigned>(index.data(TapeBoxModel::ColorSchemeRole).toInt()) %
        TapeColorScheme::SchemeCount);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    if (!enabled) {
        painter->setOpacity(0.55);
    }

    // The case's edge: 2 px of smoky plastic around the paper insert.
    const QRectF spine = QRectF(option.rect).adjusted(5.5, 2.5, -5.5, -2.5);
    if (selected) {
        QColor glow = GlowColor;
        for (int ring = 4; ring >= 1; --ring) {
            glow.setAlpha(36 + (4 - ring) * 28);
            painter->setPen(QPen(glow, 1.2));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(spine.adjusted(-ring, -ring * 0.5, ring, ring * 0.5),
                                     kCaseRadius + ring, kCaseRadius + ring);
        }
    }
    QPainterPath casePath;
    casePath.addRoundedRect(spine, kCaseRadius, kCaseRadius);
    QLinearGradient plastic(spine.topLeft(), spine.bottomLeft());
    plastic.setColorAt(0.0, QColor(0x5c, 0x60, 0x66));
    plastic.setColorAt(0.45, QColor(0x34, 0x37, 0x3c));
    plastic.setColorAt(1.0, QColor(0x1e, 0x20, 0x23));
    painter->fillPath(casePath, plastic);

    // The paper insert, with the letter block at its left.
    const QRectF paper = spine.adjusted(2.0, 2.0, -2.0, -2.0);
    QLinearGradient card(paper.topLeft(), paper.bottomLeft());
    card.setColorAt(0.0, QColor(0xf4, 0xf0, 0xe4));
    card.setColorAt(1.0, QColor(0xdf, 0xd9, 0xc8));
    painter->fillRect(paper, card);

    const QRectF letterBox(paper.left(), paper.top(), paper.height() + 4.0, paper.height());
    painter->fillRect(letterBox, scheme->backgroundColor());
    QFont letterFont = option.font;
    letterFont.setBold(true);
    letterFont.setPixelSize(static_cast<int>(paper.height() * 0.72));
    painter->setFont(letterFont);
    painter->setPen(scheme->letterColor());
    const QString letter = index.data(TapeBoxModel::LetterRole).toString();
    painter->drawText(letterBox, Qt::AlignCenter,
                      QFontMetrics(letterFont)
                          .elidedText(letter, Qt::ElideRight, static_cast<int>(letterBox.width())));

    // Title on the upper line, details on the lower one.
    const QRectF text = paper.adjusted(letterBox.width() + 5.0, 0.5, -4.0, 0.0);
    QFont titleFont = option.font;
    titleFont.setPixelSize(kTitlePixels);
    titleFont.setBold(true);
    painter->setFont(titleFont);
    painter->setPen(scheme->titleColor());
    const QRectF titleRect(text.left(), text.top(), text.width(), kTitlePixels + 2.0);
    painter->drawText(
        titleRect, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(titleFont).elidedText(index.data(TapeBoxModel::TitleRole).toString(),
                                           Qt::ElideRight, static_cast<int>(titleRect.width())));

    QFont detailFont = option.font;
    detailFont.setPixelSize(kDetailPixels);
    detailFont.setLetterSpacing(QFont::PercentageSpacing, 104);
    painter->setFont(detailFont);
    painter->setPen(QColor(0x5a, 0x57, 0x50));
    QStringList details;
    for (int role :
         {TapeBoxModel::QualityRole, TapeBoxModel::DurationTextRole, TapeBoxModel::DateTextRole}) {
        const QString detail = index.data(role).toString();
        if (!detail.isEmpty()) {
            details << detail;
        }
    }
    const QRectF detailRect(text.left(), titleRect.bottom(), text.width(),
                            text.bottom() - titleRect.bottom());
    painter->drawText(detailRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(detailFont)
                          .elidedText(details.join(QStringLiteral("  \u00b7  ")), Qt::ElideRight,
                                      static_cast<int>(detailRect.width())));

    // A thin highlight along the top of the case and, when selected, a cyan rim.
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(QColor(255, 255, 255, 60), 1.0));
    painter->drawLine(QPointF(spine.left() + kCaseRadius, spine.top() + 0.5),
                      QPointF(spine.right() - kCaseRadius, spine.top() + 0.5));
    if (selected) {
        painter->setPen(QPen(GlowColor, 1.5));
        painter->drawPath(casePath);
    }
    painter->restore();
}
