#pragma once

#include "platform/desktop/KeyedArchive.h"

#include <QColor>
#include <QString>

#include <memory>
#include <optional>

// One of the eight colour schemes of a cassette label, chosen by index:
// red, blue, yellow, green, orange, purple, black, gray.
class TapeColorScheme : public KeyedArchivable {
public:
    static constexpr unsigned SchemeCount = 8;

    static std::shared_ptr<TapeColorScheme> colorSchemeWithIndex(unsigned index);
    explicit TapeColorScheme(unsigned index = 0);

    unsigned index() const { return mIndex; }
    // Sets the index and the colours of that row; the index must be below 8.
    void setIndex(unsigned index);
    QColor backgroundColor() const { return mBackgroundColor; }
    QColor letterColor() const { return mLetterColor; }
    QColor titleColor() const { return mTitleColor; }
    // "red", "blue", ...; empty for an index of 8 or more.
    QString colorName() const;

    // In place: 7 becomes 0, anything else grows by one.
    void advanceColorScheme();
    // A new scheme with the next index; this one is unchanged.
    std::shared_ptr<TapeColorScheme> nextColorScheme() const;

    // "color: red"
    QString description() const;

    static QString colorNameForIndex(unsigned index);
    // The index of a colour name, or nothing.
    static std::optional<unsigned> indexForColorName(const QString& name);

    QString archiveClassName() const override { return QStringLiteral("TapeColorScheme"); }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<TapeColorScheme> initWithCoder(const KeyedUnarchiver::Object& coder);

private:
    unsigned mIndex = 0;
    QColor mBackgroundColor;
    QColor mLetterColor;
    QColor mTitleColor;
};
