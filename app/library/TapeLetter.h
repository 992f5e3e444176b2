#pragma once

#include "app/library/TapeColorScheme.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The letter shown large on a cassette label ("A" for a new tape) with its
// colour scheme. A copy shares the scheme.
class TapeLetter : public KeyedArchivable {
public:
    static std::shared_ptr<TapeLetter> tapeLetter(const QString& letter);
    explicit TapeLetter(QString letter, std::shared_ptr<TapeColorScheme> scheme =
                                            TapeColorScheme::colorSchemeWithIndex(0));

    QString letter() const { return mLetter; }
    void setLetter(const QString& letter) { mLetter = letter; }
    std::shared_ptr<TapeColorScheme> colorScheme() const { return mColorScheme; }
    void setColorScheme(std::shared_ptr<TapeColorScheme> scheme) {
        mColorScheme = std::move(scheme);
    }

    // The same string and the same scheme object.
    std::shared_ptr<TapeLetter> copy() const;
    // A copy with the next scheme; this letter and its scheme are unchanged.
    std::shared_ptr<TapeLetter> tapeLetterWithNextColorScheme() const;

    QString description() const;
    bool isEqual(const TapeLetter& other) const;

    QString archiveClassName() const override { return QStringLiteral("TapeLetter"); }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<TapeLetter> initWithCoder(const KeyedUnarchiver::Object& coder);

    // The keyed archive stored in a tape file: the letter under "letter".
    QByteArray archivedData() const;
    // Nothing when the data holds no letter.
    static std::shared_ptr<TapeLetter> unarchive(const QByteArray& data);

private:
    QString mLetter;
    std::shared_ptr<TapeColorScheme> mColorScheme;
};
