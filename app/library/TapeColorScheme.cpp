#include "app/library/TapeColorScheme.h"

#include "audio/format/InternalInconsistencyException.h"

#include <array>

namespace {

struct SchemeRow {
    const char* name;
    QColor background;
    QColor letter;
    QColor title;
};

const std::array<SchemeRow, TapeColorScheme::SchemeCount>& schemeTable() {
    static const std::array<SchemeRow, TapeColorScheme::SchemeCount> table = {{
        {"red", QColor::fromRgbF(1, 0, 0), Qt::white, QColor::fromRgbF(1, 0, 0)},
        {"blue", QColor::fromRgbF(0, 0, 1), Qt::white, QColor::fromRgbF(0, 0, 1)},
        {"yellow", QColor::fromRgbF(0.95f, 0.95f, 0.0f), Qt::black, Qt::black},
        {"green", QColor::fromRgbF(0.0f, 0.7f, 0.0f), Qt::white,
         QColor::fromRgbF(0.0f, 0.5f, 0.0f)},
        {"orange", QColor::fromRgbF(1, 0.5f, 0), Qt::white, QColor::fromRgbF(1, 0.5f, 0)},
        {"purple", QColor::fromRgbF(0.5f, 0, 0.5f), Qt::white, QColor::fromRgbF(0.5f, 0, 0.5f)},
        {"black", Qt::black, Qt::white, Qt::black},
        {"gray", QColor::fromRgbF(0.5f, 0.5f, 0.5f), Qt::black, QColor::fromRgbF(0.3f, 0.3f, 0.3f)},
    }};
    return table;
}

} // namespace

std::shared_ptr<TapeColorScheme> TapeColorScheme::colorSchemeWithIndex(unsigned index) {
    return std::make_shared<TapeColorScheme>(index);
}

TapeColorScheme::TapeColorScheme(unsigned index) {
    setIndex(index);
}

void TapeColorScheme::setIndex(unsigned index) {
    if (index >= SchemeCount) {
        throw InternalInconsistencyException("Invalid parameter not satisfying: index < 8",
                                             "TapeColorScheme", __LINE__);
    }
    const SchemeRow& row = schemeTable()[index];
    mIndex = index;
    mBackgroundColor = row.background;
    mLetterColor = row.letter;
    mTitleColor = row.title;
}

QString TapeColorScheme::colorName() const {
    return colorNameForIndex(mIndex);
}

QString TapeColorScheme::colorNameForIndex(unsigned index) {
    return index < SchemeCount ? QString::fromLatin1(schemeTable()[index].name) : QString();
}

std::optional<unsigned> TapeColorScheme::indexForColorName(const QString& name) {
    for (unsigned index = 0; index < SchemeCount; ++index) {
        if (name.compare(QLatin1String(schemeTable()[index].name), Qt::CaseInsensitive) == 0) {
            return index;
        }
    }
    return std::nullopt;
}

void TapeColorScheme::advanceColorScheme() {
    setIndex(mIndex == SchemeCount - 1 ? 0 : mIndex + 1);
}

std::shared_ptr<TapeColorScheme> TapeColorScheme::nextColorScheme() const {
    return colorSchemeWithIndex(mIndex == SchemeCount - 1 ? 0 : mIndex + 1);
}

QString TapeColorScheme::description() const {
    return QStringLiteral("color: ") + colorName();
}

void TapeColorScheme::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeInteger(QStringLiteral("index"), mIndex);
}

std::shared_ptr<TapeColorScheme>
TapeColorScheme::initWithCoder(const KeyedUnarchiver::Object& coder) {
    const auto index = coder.decodeInteger(QStringLiteral("index"));
    if (!index || *index < 0 || *index >= SchemeCount) {
        return nullptr;
    }
    return colorSchemeWithIndex(static_cast<unsigned>(*index));
}
