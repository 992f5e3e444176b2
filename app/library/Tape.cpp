#include "app/library/Tape.h"

#include "app/library/MP4Atom.h"
#include "app/library/MP4LabelWriter.h"
#include "app/library/MP4Tags.h"
#include "app/library/TapeQuality.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"
#include "platform/desktop/FileNames.h"
#include "platform/desktop/NaturalDateParser.h"
#include "platform/media/FileTransfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

void logError(const QString& message) {
    std::fprintf(stderr, "(ERROR) Tape : %s\n", message.toUtf8().constData());
}

} // namespace

Tape::Tape(const QString& filename, QObject* parent) : QObject(parent), mFilename(filename) {
    loadAttributes();
}

std::shared_ptr<Tape> Tape::forNewRecording(const QString& filename) {
    const int fd = ::open(FileNames::encode(filename).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno == EEXIST) {
        return nullptr; // someone else's file
    }
    return std::make_shared<Tape>(filename);
}

Tape::~Tape() {
    if (mCommitsOnDestruction && dirty()) {
        commitAttributes();
    }
}

void Tape::markDirty(bool& flag) {
    if (mLoading) {
        return;
    }
    const bool wasDirty = dirty();
    flag = true;
    if (!wasDirty) {
        emit dirtyChanged();
    }
}

bool Tape::dirty() const {
    return mTitleDirty || mArtistDirty || mNotesDirty || mDateDirty || tapeLetterDirty();
}

void Tape::setFilename(const QString& filename) {
    mFilename = filename;
    emit filenameChanged();
}

void Tape::setTitle(const QString& title) {
    mTitle = title;
    markDirty(mTitleDirty);
    emit titleChanged();
}

void Tape::setArtist(const QString& artist) {
    mArtist = artist;
    markDirty(mArtistDirty);
    emit artistChanged();
}

void Tape::setNotes(const QString& notes) {
    mNotes = notes.isNull() ? QStringLiteral("") : notes;
    markDirty(mNotesDirty);
    emit notesChanged();
}

void Tape::setDate(const QDateTime& date) {
    mDate = date;
    markDirty(mDateDirty);
    emit dateChanged();
}

void Tape::setTapeLetter(const std::shared_ptr<TapeLetter>& letter) {
    mTapeLetter = letter ? letter->copy() : nullptr;
    markDirty(mTapeLetterDirty);
    emit tapeLetterChanged();
}

void Tape::setQuality(const QString& quality) {
    if (quality != mQuality) {
        mQuality = quality;
        emit headersChanged();
    }
}

void Tape::setHeaders(double duration, uint bitrate, bool stereo, uint samplerate) {
    mDuration = duration;
    mBitrate = bitrate;
    mStereo = stereo;
    mSamplerate = samplerate;
    emit headersChanged();
}

// Loading

void Tape::loadAttributes() {
    mLoading = true;
    // Reading never writes and never creates: a read-only tape reads
    // whole, and a file that vanished stays gone.
    const bool wasDirty = dirty();
    const auto tags = MP4Tags::forReading(mFilename);
    // One descriptor and one read cache for the label and the headers.
    std::optional<MP4ReadCache> cache;
    if (tags) {
        cache.emplace(tags->fileHandle());
    }
    if (!tags && !mTapeLetter) {
        // No file yet (a new recording's) or none any more: the default
        // letter, to be stored by the next commit.
        setTapeLetter(TapeLetter::tapeLetter(QStringLiteral("A")));
        mLetterMissing = true;
    }
    if (tags) {
        adoptStoredLabel(*tags, Fields::All);
    }
    mLoading = false;
    if (dirty() != wasDirty) {
        emit dirtyChanged();
    }
    if (tags) {
        parseMP4FileHeaders(tags->fileHandle());
    }
}

void Tape::adoptStoredLabel(const MP4Tags& tags, Fields fields) {
    const bool wasLoading = std::exchange(mLoading, true);
    const auto items = tags.readAllAtoms();
    const auto text = [&](uint32_t item) -> std::optional<QString> {
        const auto found = items.find(item);
        if (found == items.end() || found->second.typeId() != QMetaType::QString) {
            return std::nullopt;
        }
        return found->second.toString();
    };
    const auto wanted = [&](bool dirtyHere) { return fields == Fields::All || !dirtyHere; };
    if (const auto title = text(MP4Tags::itemTitle()); title && wanted(mTitleDirty)) {
        setTitle(*title);
    }
    if (const auto lyrics = text(MP4Tags::itemLyrics()); lyrics && wanted(mNotesDirty)) {
        setNotes(*lyrics);
    }
    if (const auto released = text(MP4Tags::itemReleaseDate()); released && wanted(mDateDirty)) {
        if (const auto date = NaturalDateParser::parseDate(*released)) {
            setDate(*date);
        }
    }
    // A file without a letter shows the default one, which the next commit
    // stores, unless another commit stored a letter first; it is never a
    // change of its own that would write over someone else's letter.
    const auto letter = tags.tapeLetter();
    mLetterMissing = !letter;
    if (letter) {
        if (wanted(mTapeLetterDirty)) {
            setTapeLetter(letter);
        }
    } else if (!mTapeLetterDirty && (fields == Fields::All || !mTapeLetter)) {
        setTapeLetter(TapeLetter::tapeLetter(QStringLiteral("A")));
    }
    mLoading = wasLoading;
}

void Tape::discardChanges() {
    const bool wasDirty = dirty();
    // The label as a tape newly made for the file reads it.
    Tape onFile(mFilename);
    onFile.setCommitsOnDestruction(false);
    mLoading = true;
    setTitle(onFile.title());
    setArtist(onFile.artist());
    setNotes(onFile.notes());
    setDate(onFile.date());
    setTapeLetter(onFile.tapeLetter());
    mLoading = false;
    mTitleDirty = onFile.mTitleDirty;
    mArtistDirty = onFile.mArtistDirty;
    mNotesDirty = onFile.mNotesDirty;
    mDateDirty = onFile.mDateDirty;
    mTapeLetterDirty = onFile.mTapeLetterDirty;
    if (wasDirty != dirty()) {
        emit dirtyChanged();
    }
}

void Tape::parseMP4FileHeaders() {
    const FileDescriptor file(
        ::open(FileNames::encode(mFilename).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd() >= 0) {
        parseMP4FileHeaders(file.fd());
    }
}

void Tape::parseMP4FileHeaders(int fd) {
    const MP4ReadCache cache(fd); // the walk only reads
    try {
        const auto moov = MP4Atom::fileAtomWithType(FourCC("moov"), fd);
        const auto mvhd = moov ? moov->childFileAtomWithType(FourCC("mvhd")) : nullptr;
        if (!mvhd) {
            return;
        }
        const QByteArray header = mvhd->childData();
        uint32_t timeScale = 0;
        uint64_t length = 0;
        if (mp4ReadUInt32(header, 0) == 0) {
            timeScale = mp4ReadUInt32(header, 12);
            length = mp4ReadUInt32(header, 16);
        } else {
            timeScale = mp4ReadUInt32(header, 20);
            length = uint64_t{mp4ReadUInt32(header, 24)} << 32 | mp4ReadUInt32(header, 28);
        }
        // In double: a single-precision division is milliseconds off after a day.
        const double duration =
            timeScale ? static_cast<double>(length) / static_cast<double>(timeScale) : 0.0;
        setHeaders(duration, mBitrate, mStereo, timeScale);

        const auto trak = moov->childFileAtomWithType(FourCC("trak"));
        const auto mdia = trak ? trak->childFileAtomWithType(FourCC("mdia")) : nullptr;
        // The movie's time scale is the sample rate only when the writer made
        // it so (many use 1000); the audio track's own time scale is its rate.
        if (const auto mdhd = mdia ? mdia->childFileAtomWithType(FourCC("mdhd")) : nullptr) {
            const QByteArray media = mdhd->childData();
            const uint32_t rate = mp4ReadUInt32(media, mp4ReadUInt32(media, 0) == 0 ? 12 : 20);
            if (rate > 0) {
                setHeaders(mDuration, mBitrate, mStereo, rate);
            }
        }
        const auto minf = mdia ? mdia->childFileAtomWithType(FourCC("minf")) : nullptr;
        const auto stbl = minf ? minf->childFileAtomWithType(FourCC("stbl")) : nullptr;
        const auto stsd = stbl ? stbl->childFileAtomWithType(FourCC("stsd")) : nullptr;
        if (!stsd) {
            return;
        }
        if (const auto mp4a = stsd->findChildFileAtomWithType(FourCC("mp4a"))) {
            if (const auto esds = mp4a->findChildFileAtomWithType(FourCC("esds"))) {
                parseESDS(esds->childData());
            }
        } else if (const auto alac = stsd->findChildFileAtomWithType(FourCC("alac"))) {
            // A lossless entry says its channels in the sample entry itself.
            const QByteArray entry = alac->childData();
            mStereo = mp4ReadUInt32(entry, 16) >> 16 >= 2;
        }
        mQuality = TapeQuality::qualityForBitrate(mBitrate, mSamplerate, mStereo);
        emit headersChanged();
    } catch (const InternalInconsistencyException& failure) {
        // A damaged file: the headers keep what they had.
        logError(QStringLiteral("%1: %2").arg(mFilename, QString::fromUtf8(failure.what())));
    }
}

void Tape::parseESDS(const QByteArray& payload) {
    if (mp4ReadUInt32(payload, 0) != 0) {
        logError(QStringLiteral("Encountered unexpected ESDS version. Bailing."));
        return;
    }
    if (payload.size() < 9) {
        return;
    }
    auto byteAt = [&](qsizetype at) -> int {
        return at < payload.size() ? static_cast<unsigned char>(payload[at]) : -1;
    };
    qsizetype p = 4;
    do {
        const uint32_t header = mp4ReadUInt32(payload, p);
        if (header == 0x03808080) {
            p += 8;
        } else if (header == 0x04808080) {
            if (p + 18 <= payload.size()) {
                mBitrate = mp4ReadUInt32(payload, p + 14);
            }
            p += 18;
        } else if (header == 0x05808080) {
            p += 6;
            const int configuration = byteAt(p);
            if (configuration >= 0) {
                mStereo = (configuration & 0x70) != 0;
            }
        } else {
            break;
        }
    } while (p + 4 < payload.size());
}

// Committing

MP4LabelEdit Tape::labelEdit() const {
    MP4LabelEdit edit;
    if (mTitleDirty) {
        edit.setItem(MP4Tags::itemTitle(), MP4Tags::TypeText, mTitle.toUtf8());
    }
    if (mNotesDirty) {
        edit.setItem(MP4Tags::itemLyrics(), MP4Tags::TypeText, mNotes.toUtf8());
    }
    if (mDateDirty) {
        edit.setItem(MP4Tags::itemReleaseDate(), MP4Tags::TypeText,
                     NaturalDateParser::storedForm(mDate).toUtf8());
    }
    if (mArtistDirty) {
        edit.setItem(MP4Tags::itemArtist(), MP4Tags::TypeText, mArtist.toUtf8());
    }
    // The cover shows the title, notes, date and letter; the artist alone
    // does not redraw it.
    if (tapeLetterDirty() || mTitleDirty || mNotesDirty || mDateDirty) {
        edit.setItem(FourCC("covr"), MP4Tags::TypePNG, MP4Tags::pngData(renderCoverArt(*this)));
    }
    if (tapeLetterDirty() && mTapeLetter) {
        edit.setUserData(dataWithUUID(QString::fromLatin1(MP4Tags::TapeLetterUUID)),
                         MP4Tags::TypeBinary, mTapeLetter->archivedData());
    }
    return edit;
}

bool Tape::commitAttributes() {
    mLastError.clear();
    if (!FileNames::exists(mFilename)) {
        mLastError = QStringLiteral("%1 does not exist").arg(mFilename);
        return false;
    }
    if (!dirty()) {
        return true;
    }
    // Everything that could refuse the commit is checked before the file
    // changes: a rename the folder will not allow is refused here.
    const bool renames = mTitleDirty && !mKeepsFileName && !nameFitsTitle(mTitle);
    const QString folder = QFileInfo(mFilename).absolutePath();
    if (renames && ::access(FileNames::encode(folder).constData(), W_OK) != 0) {
        mLastError = QStringLiteral("cannot rename %1 after its title: the folder %2 is not "
                                    "writable")
                         .arg(mFilename, folder);
        logError(mLastError);
        return false;
    }
    MP4LabelWriter writer(mFilename);
    if (!writer.lock()) {
        mLastError = writer.error();
        logError(mLastError);
        return false;
    }
    // Under the lock, the label as it is now: what other commits wrote since
    // this tape was read is kept, and only this tape's own edits change it.
    if (const auto stored = MP4Tags::forReadingDescriptor(writer.fileHandle())) {
        adoptStoredLabel(*stored, Fields::NotEditedHere);
    }
    if (!dirty()) {
        return true; // another commit stored the letter this one would have
    }
    if (!writer.commit(labelEdit())) {
        mLastError = writer.error();
        logError(mLastError);
        return false;
    }
    mTitleDirty = mNotesDirty = mDateDirty = mArtistDirty = mTapeLetterDirty = false;
    mLetterMissing = false;
    emit dirtyChanged();
    // Renamed while the file is still locked, so that no other commit
    // starts on the old name.
    if (renames && !renameFile(mTitle)) {
        mLastError = QStringLiteral("the label of %1 was written, but the file keeps its name: %2")
                         .arg(mFilename, mLastError);
        return false;
    }
    return true;
}

namespace {

// A file name is at most this many bytes.
constexpr qsizetype kNameLimit = 255;
// Room kept for " 12345", the number a taken name gets.
constexpr qsizetype kNumberRoom = 8;

// Cut at a character boundary so that the UTF-8 form fits `bytes`.
QString cutToBytes(const QString& text, qsizetype bytes) {
    if (text.toUtf8().size() <= bytes) {
        return text;
    }
    QString cut;
    qsizetype used = 0;
    for (const char32_t codePoint : text.toUcs4()) {
        const QString character = QString::fromUcs4(&codePoint, 1);
        used += character.toUtf8().size();
        if (used > bytes) {
            break;
        }
        cut += character;
    }
    return cut.trimmed();
}

} // namespace

QString Tape::fileFriendlyName(const QString& name) {
    QString friendly;
    friendly.reserve(name.size());
    bool lastWasSpace = false;
    for (const QChar c : name) {
        // Control characters, the marks that turn text around (which would
        // disguise a name's extension) and every kind of space become one
        // plain space.
        const char16_t u = c.unicode();
        const bool bidi = (u >= 0x200E && u <= 0x200F) || (u >= 0x202A && u <= 0x202E) ||
                          (u >= 0x2066 && u <= 0x2069) || u == 0x061C;
        const bool space = c.isSpace() || c.category() == QChar::Other_Control || bidi;
        if (space) {
            if (!lastWasSpace) {
                friendly += QLatin1Char(' ');
            }
        } else if (c == QLatin1Char(':') || c == QLatin1Char('/')) {
            friendly += QLatin1Char('_');
        } else {
            friendly += c;
        }
        lastWasSpace = space;
    }
    friendly = friendly.trimmed();
    // No hidden files, and never "." or "..".
    for (qsizetype i = 0; i < friendly.size() && friendly[i] == QLatin1Char('.'); ++i) {
        friendly[i] = QLatin1Char('_');
    }
    return friendly;
}

QString Tape::fileNameForTitle(const QString& title) const {
    const QString dateText =
        mDate.isValid() ? mDate.toLocalTime().toString(QStringLiteral("[yyyy-MM-dd]")) : QString();
    QString friendly = fileFriendlyName(dateText.isEmpty() ? title
                                        : title.isEmpty()  ? dateText
                                                           : dateText + QLatin1Char(' ') + title);
    if (friendly.isEmpty()) {
        friendly = QStringLiteral("Untitled");
    }
    const QString suffix = QFileInfo(mFilename).suffix();
    const qsizetype extension = suffix.isEmpty() ? 0 : suffix.toUtf8().size() + 1;
    return cutToBytes(friendly, kNameLimit - extension - kNumberRoom);
}

bool Tape::nameFitsTitle(const QString& title) const {
    const QString wanted = fileNameForTitle(title);
    const QString current = QFileInfo(mFilename).completeBaseName();
    if (current == wanted) {
        return true;
    }
    // The same name with the number a taken name gets.
    static const QRegularExpression numbered(QStringLiteral("^(.*) [0-9]+$"));
    const auto match = numbered.match(current);
    return match.hasMatch() && match.captured(1) == wanted;
}

bool Tape::renameFile(const QString& title) {
    const QFileInfo current(mFilename);
    const QString friendly = fileNameForTitle(title);
    const QString extension =
        current.suffix().isEmpty() ? QString() : QLatin1Char('.') + current.suffix();
    for (int n = 0;; ++n) {
        const QString name = n == 0 ? friendly : QStringLiteral("%1 %2").arg(friendly).arg(n);
        const QString candidate = current.dir().filePath(name + extension);
        if (FileNames::exists(candidate)) {
            continue;
        }
        // Never over a file that appeared since the check.
        if (::renameat2(AT_FDCWD, FileNames::encode(mFilename).constData(), AT_FDCWD,
                        FileNames::encode(candidate).constData(), RENAME_NOREPLACE) == 0) {
            setFilename(candidate);
            return true;
        }
        if (errno != EEXIST) {
            mLastError = QStringLiteral("cannot rename it to %1: %2")
                             .arg(candidate, QString::fromLocal8Bit(strerror(errno)));
            logError(mLastError);
            return false;
        }
    }
}

QString Tape::description() const {
    return QStringLiteral("<Tape: %1, Duration: %2s, Date: %3>")
        .arg(mTitle)
        .arg(mDuration, 0, 'f', 6)
        .arg(NaturalDateParser::storedForm(mDate));
}

QMimeData* Tape::pasteboardData() const {
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(mFilename)});
    return data;
}
