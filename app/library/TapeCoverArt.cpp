#include "app/library/DurationFormatter.h"
#include "app/library/Tape.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

Tape::CoverArtRenderer& renderer() {
    static Tape::CoverArtRenderer current;
    return current;
}

constexpr QSizeF kLabelSize(320, 200); // the label's natural size in points
constexpr qreal kScale = 2.0;
// Far more than any cover shows, in characters and in lines.
constexpr qsizetype kCoverNotesCharacters = 2000;
constexpr qsizetype kCoverNotesLines = 40;

} // namespace

QString Tape::notesForCover() const {
    QString shown = mNotes.left(kCoverNotesCharacters);
    qsizetype at = -1;
    for (qsizetype line = 0; line < kCoverNotesLines; ++line) {
        at = shown.indexOf(QLatin1Char('\n'), at + 1);
        if (at < 0) {
            return shown;
        }
    }
    return shown.left(at);
}

void Tape::setCoverArtRenderer(CoverArtRenderer replacement) {
    renderer() = std::move(replacement);
}

QImage Tape::renderCoverArt(const Tape& tape) {
    return renderer() ? renderer()(tape) : drawLabel(tape);
}

// The cassette's label: the letter in its colours, the title, date, length,
// quality and notes, drawn at twice its natural size.
QImage Tape::drawLabel(const Tape& tape) {
    QImage image((kLabelSize * kScale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const auto scheme = tape.tapeLetter() ? tape.tapeLetter()->colorScheme()
                                          : TapeColorScheme::colorSchemeWithIndex(0);
    const QRectF card(QPointF(0, 0), kLabelSize);
    QPainterPath outline;
    outline.addRoundedRect(card.adjusted(1, 1, -1, -1), 10, 10);
    QLinearGradient paper(0, 0, 0, card.height());
    paper.setColorAt(0, QColor(0xfb, 0xf8, 0xef));
    paper.setColorAt(1, QColor(0xea, 0xe4, 0xd3));
    painter.fillPath(outline, paper);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1));
    painter.drawPath(outline);

    // The coloured band with the letter.
    const QRectF band(12, 14, card.width() - 24, 56);
    painter.fillRect(band, scheme->backgroundColor());
    QFont letterFont(QStringLiteral("Sans"));
    letterFont.setBold(true);
    letterFont.setPixelSize(40);
    painter.setFont(letterFont);
    painter.setPen(scheme->letterColor());
    const QString letter = tape.tapeLetter() ? tape.tapeLetter()->letter() : QStringLiteral("A");
    painter.drawText(QRectF(band.left() + 8, band.top(), 56, band.height()), Qt::AlignCenter,
                     letter);

    QFont titleFont(QStringLiteral("Sans"));
    titleFont.setBold(true);
    titleFont.setPixelSize(20);
    painter.setFont(titleFont);
    painter.setPen(scheme->letterColor());
    const QString title = tape.title().isEmpty() ? QStringLiteral("Untitled") : tape.title();
    painter.drawText(QRectF(band.left() + 72, band.top(), band.width() - 80, band.height()),
                     Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(title, Qt::ElideRight,
                                                      static_cast<int>(band.width() - 80)));

    // Ruled lines with the date, length and quality, then the notes.
    QFont detailFont(QStringLiteral("Sans"));
    detailFont.setPixelSize(13);
    painter.setFont(detailFont);
    painter.setPen(QColor(0x44, 0x44, 0x44));
    const QString details =
        QStringLiteral("%1   %2   %3")
            .arg(tape.date().isValid()
                     ? QLocale().toString(tape.date().toLocalTime(), QLocale::ShortFormat)
                     : QString(),
                 DurationFormatter::tapeDurationToString(tape.duration()),
                 tape.quality());
    painter.drawText(QRectF(16, 80, card.width() - 32, 22), Qt::AlignLeft | Qt::AlignVCenter,
                     details);
    painter.setPen(QPen(scheme->titleColor(), 0.8));
    for (qreal y = 104; y < card.height() - 12; y += 22) {
        painter.drawLine(QPointF(16, y), QPointF(card.width() - 16, y));
    }
    painter.setPen(QColor(0x33, 0x33, 0x33));
    painter.drawText(QRectF(16, 106, card.width() - 32, card.height() - 118),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, tape.notesForCover());
    painter.end();
    return image;
}
