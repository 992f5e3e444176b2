#include "app/library/TapeLetter.h"

namespace {
const QString kRootKey = QStringLiteral("letter");
} // namespace

std::shared_ptr<TapeLetter> TapeLetter::tapeLetter(const QString& letter) {
    return std::make_shared<TapeLetter>(letter);
}

TapeLetter::TapeLetter(QString letter, std::shared_ptr<TapeColorScheme> scheme)
    : mLetter(std::move(letter)), mColorScheme(std::move(scheme)) {}

std::shared_ptr<TapeLetter> TapeLetter::copy() const {
    return std::make_shared<TapeLetter>(mLetter, mColorScheme);
}

std::shared_ptr<TapeLetter> TapeLetter::tapeLetterWithNextColorScheme() const {
    return std::make_shared<TapeLetter>(mLetter, mColorScheme->nextColorScheme());
}

QString TapeLetter::description() const {
    return mLetter + QLatin1Char(' ') + mColorScheme->description();
}

bool TapeLetter::isEqual(const TapeLetter& other) const {
    return mLetter == other.mLetter && mColorScheme->index() == other.mColorScheme->index();
}

void TapeLetter::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(QStringLiteral("colorScheme"), mColorScheme.get());
    coder.encodeString(QStringLiteral("letter"), mLetter);
}

std::shared_ptr<TapeLetter> TapeLetter::initWithCoder(const KeyedUnarchiver::Object& coder) {
    const auto schemeObject = coder.decodeObject(QStringLiteral("colorScheme"));
    std::shared_ptr<TapeColorScheme> scheme =
        schemeObject ? TapeColorScheme::initWithCoder(*schemeObject) : nullptr;
    const auto letter = coder.decodeString(QStringLiteral("letter"));
    if (!letter) {
        return nullptr;
    }
    return std::make_shared<TapeLetter>(*letter,
                                        scheme ? scheme : TapeColorScheme::colorSchemeWithIndex(0));
}

QByteArray TapeLetter::archivedData() const {
    // The archive says nothing but the letter and the scheme's index, and
    // every label commit asks for one: the last one made is kept.
    struct Archived {
        QString letter;
        int scheme = -1;
        QByteArray bytes;
    };
    thread_local Archived last;
    const int scheme = mColorScheme ? static_cast<int>(mColorScheme->index()) : -1;
    if (last.bytes.isEmpty() || last.letter != mLetter || last.scheme != scheme) {
        last = {mLetter, scheme, KeyedArchiver::archivedData(kRootKey, *this)};
    }
    return last.bytes;
}

std::shared_ptr<TapeLetter> TapeLetter::unarchive(const QByteArray& data) {
    const auto unarchiver = KeyedUnarchiver::fromData(data);
    if (!unarchiver) {
        return nullptr;
    }
    const auto root = unarchiver->rootObject(kRootKey);
    if (!root || root->className() != QLatin1String("TapeLetter")) {
        return nullptr;
    }
    return initWithCoder(*root);
}
