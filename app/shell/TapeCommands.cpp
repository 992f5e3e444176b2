#include "app/shell/TapeCommands.h"

#include "app/library/DurationFormatter.h"
#include "app/library/MP4Tags.h"
#include "app/library/Tape.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/shell/CommandSupport.h"
#include "app/shell/LibraryLocation.h"
#include "app/shell/RecoverCommand.h"
#include "platform/desktop/FileNames.h"
#include "platform/desktop/NaturalDateParser.h"
#include "platform/desktop/UserDefaults.h"
#include "platform/media/Mp4Boxes.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// Only MPEG-4 files with a movie box are tapes; anything else is refused
// before the file is touched.
QString checkTapeFile(const QString& path) {
    const QString shown = FileNames::displayable(path);
    if (!FileNames::exists(path)) {
        return QStringLiteral("no such file: %1").arg(shown);
    }
    if (!FileNames::isRegularFile(path) ||
        ::access(FileNames::encode(path).constData(), R_OK) != 0) {
        return QStringLiteral("cannot read %1").arg(shown);
    }
    if (!readMp4AudioTrackInfo(FileNames::toNative(path))) {
        return QStringLiteral("%1 is not an MPEG-4 audio file (or it is damaged)").arg(shown);
    }
    return {};
}

bool isBidiControl(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x200E && u <= 0x200F) || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069) || u == 0x061C;
}

// Control characters are shown escaped, so that a label cannot move the
// cursor, clear the screen, forge lines of output or turn text around; the
// bytes of a name that are not UTF-8 show as "\xNN".
QString printable(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : FileNames::displayable(text)) {
        if (isBidiControl(c)) {
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else if (c.category() != QChar::Other_Control) {
            shown += c;
        } else if (c == QLatin1Char('\n')) {
            shown += QLatin1String("\\n");
        } else if (c == QLatin1Char('\t')) {
            shown += QLatin1String("\\t");
        } else if (c == QLatin1Char('\r')) {
            shown += QLatin1String("\\r");
        } else {
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        }
    }
    return shown;
}

// JSON escapes the controls below 0x20 itself; DEL and the C1 controls are
// escaped here as well.
QByteArray printableJson(const QJsonDocument& document) {
    const QString text = QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if ((c.category() == QChar::Other_Control && c.unicode() >= 0x7F) || isBidiControl(c)) {
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    return shown.toUtf8();
}

QJsonObject attributes(const Tape& tape, const QString& artist) {
    const auto letter = tape.tapeLetter();
    return {
        {"filename", FileNames::displayable(tape.filename())},
        {"title", tape.title()},
        {"artist", artist},
        {"notes", tape.notes()},
        {"date", tape.date().isValid() ? tape.date().toUTC().toString(Qt::ISODate) : QString()},
        {"letter", letter ? letter->letter() : QString()},
        {"color", letter ? letter->colorScheme()->colorName() : QString()},
        {"duration", tape.duration()},
        {"bitrate", static_cast<qint64>(tape.bitrate())},
        {"stereo", tape.stereo()},
        {"samplerate", static_cast<qint64>(tape.samplerate())},
        {"quality", tape.quality()},
    };
}

QString storedArtist(const QString& path) {
    const auto tags = MP4Tags::forReading(path);
    return tags ? tags->artist().value_or(QString()) : QString();
}

// Notes as UTF-8 text from a file, or from standard input for "-"; no more
// than a label can reasonably hold.
std::optional<QString> readNotesFile(const QString& name) {
    constexpr qsizetype kLargestNotes = 64 << 20;
    const bool standardInput = name == QLatin1String("-");
    const int fd = standardInput ? STDIN_FILENO
                                 : ::open(FileNames::encode(name).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    QByteArray bytes;
    char block[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, block, sizeof(block))) != 0 && bytes.size() <= kLargestNotes) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;
        }
        bytes.append(block, got);
    }
    if (!standardInput) {
        ::close(fd);
    }
    if (got < 0 || bytes.size() > kLargestNotes) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

QString tapeAuthor() {
    const QString stored = UserDefaults::standard().stringForKey(QStringLiteral("TapeAuthor"));
    if (!stored.isEmpty()) {
        return stored;
    }
    if (const passwd* user = getpwuid(getuid())) {
        const QString gecos = QString::fromLocal8Bit(user->pw_gecos ? user->pw_gecos : "");
        const QString name = gecos.section(QLatin1Char(','), 0, 0).trimmed();
        return name.isEmpty() ? QString::fromLocal8Bit(user->pw_name) : name;
    }
    return {};
}

bool labelNewRecording(Tape& tape, const QDateTime& started) {
    tape.setTitle(QStringLiteral("Untitled"));
    tape.setDate(started.isValid() ? started : QDateTime::currentDateTime());
    tape.setArtist(tapeAuthor());
    tape.setTapeLetter(TapeLetter::tapeLetter(QStringLiteral("A")));
    const bool committed = tape.commitAttributes();
    tape.loadAttributes();
    return committed;
}

int runInfoCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    parser.addOption(json);
    if (!CommandSupport::parse(parser, QStringLiteral("info"), arguments)) {
        return 1;
    }
    if (parser.positionalArguments().size() != 1) {
        return CommandSupport::fail(QStringLiteral("info needs one file"));
    }
    const QString path = FileNames::absolute(parser.positionalArguments().front());
    if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
        return CommandSupport::fail(problem);
    }
    Tape tape(path);
    tape.setCommitsOnDestruction(false); // looking changes nothing
    const QJsonObject object = attributes(tape, storedArtist(path));
    if (parser.isSet(json)) {
        std::fputs(printableJson(QJsonDocument(object)).constData(), stdout);
        return 0;
    }
    const auto row = [](const char* name, const QString& value) {
        std::printf("%-11s %s\n", name, printable(value).toUtf8().constData());
    };
    row("File", tape.filename());
    row("Title", tape.title());
    row("Artist", object.value("artist").toString());
    row("Notes", tape.notes());
    row("Date", tape.date().isValid()
                    ? QLocale().toString(tape.date().toLocalTime(), QLocale::LongFormat)
                    : QString());
    row("Letter", object.value("letter").toString());
    row("Color", object.value("color").toString());
    row("Duration", DurationFormatter::tapeDurationToString(tape.duration()) +
                        QStringLiteral(" (%1 s)").arg(tape.duration(), 0, 'f', 3));
    row("Bit rate", QString::number(tape.bitrate()));
    row("Stereo", tape.stereo() ? QStringLiteral("yes") : QStringLiteral("no"));
    row("Sample rate", QString::number(tape.samplerate()));
    row("Quality", tape.quality());
    return 0;
}

int runLabelCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("Title."),
                                   QStringLiteral("text"));
    const QCommandLineOption notes(QStringLiteral("notes"), QStringLiteral("Notes."),
                                   QStringLiteral("text"));
    const QCommandLineOption artist(QStringLiteral("artist"), QStringLiteral("Artist."),
                                    QStringLiteral("text"));
    const QCommandLineOption date(QStringLiteral("date"), QStringLiteral("Date."),
                                  QStringLiteral("date"));
    const QCommandLineOption letter(QStringLiteral("letter"), QStringLiteral("Tape letter."),
                                    QStringLiteral("text"));
    const QCommandLineOption color(QStringLiteral("color"), QStringLiteral("Colour name or index."),
                                   QStringLiteral("color"));
    const QCommandLineOption notesFile(
        QStringLiteral("notes-file"),
        QStringLiteral("Notes read from a file (- for standard input)."), QStringLiteral("file"));
    parser.addOptions({title, notes, notesFile, artist, date, letter, color});
    if (!CommandSupport::parse(parser, QStringLiteral("label"), arguments)) {
        return 1;
    }
    if (parser.positionalArguments().size() != 1) {
        return CommandSupport::fail(QStringLiteral("label needs one file"));
    }
    const QString path = FileNames::absolute(parser.positionalArguments().front());
    if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
        return CommandSupport::fail(problem);
    }
    // Everything is checked before the file is touched.
    if (parser.isSet(letter) && parser.value(letter).toUcs4().size() != 1) {
        return CommandSupport::fail(
            QStringLiteral("the tape letter must be exactly one character, not \"%1\"")
                .arg(printable(parser.value(letter))));
    }
    std::optional<QString> newNotes;
    if (parser.isSet(notes) && parser.isSet(notesFile)) {
        return CommandSupport::fail(QStringLiteral("give --notes or --notes-file, not both"));
    }
    if (parser.isSet(notes)) {
        newNotes = parser.value(notes);
    } else if (parser.isSet(notesFile)) {
        newNotes = readNotesFile(parser.value(notesFile));
        if (!newNotes) {
            return CommandSupport::fail(
                QStringLiteral("cannot read notes from %1 (it must be UTF-8 text of at most 64 MB)")
                    .arg(printable(parser.value(notesFile))));
        }
    }
    std::optional<QDateTime> newDate;
    if (parser.isSet(date)) {
        newDate = NaturalDateParser::parseDate(parser.value(date));
        if (!newDate) {
            return CommandSupport::fail(
                QStringLiteral("cannot read the date \"%1\"").arg(parser.value(date)));
        }
    }
    std::optional<unsigned> colorIndex;
    if (parser.isSet(color)) {
        bool isNumber = false;
        const int index = parser.value(color).toInt(&isNumber);
        if (isNumber && index >= 0 && index < static_cast<int>(TapeColorScheme::SchemeCount)) {
            colorIndex = static_cast<unsigned>(index);
        } else {
            colorIndex = TapeColorScheme::indexForColorName(parser.value(color));
        }
        if (!colorIndex) {
            return CommandSupport::fail(
                QStringLiteral(
                    "unknown colour \"%1\": use red, blue, yellow, green, orange, purple, "
                    "black, gray or 0 to 7")
                    .arg(parser.value(color)));
        }
    }
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    if (parser.isSet(title)) {
        tape.setTitle(parser.value(title));
    }
    if (newNotes) {
        tape.setNotes(*newNotes);
    }
    if (parser.isSet(artist)) {
        tape.setArtist(parser.value(artist));
    }
    if (newDate) {
        tape.setDate(*newDate);
    }
    if (parser.isSet(letter) || colorIndex) {
        auto current =
            tape.tapeLetter() ? tape.tapeLetter() : TapeLetter::tapeLetter(QStringLiteral("A"));
        auto changed = std::make_shared<TapeLetter>(
            parser.isSet(letter) ? parser.value(letter) : current->letter(),
            colorIndex ? TapeColorScheme::colorSchemeWithIndex(*colorIndex)
                       : current->colorScheme());
        tape.setTapeLetter(changed);
    }
    if (!tape.commitAttributes()) {
        if (!tape.dirty()) { // written, but the rename failed
            return CommandSupport::fail(printable(tape.lastError()));
        }
        return CommandSupport::fail(QStringLiteral("cannot label %1: %2; the file is unchanged")
                                        .arg(printable(path), printable(tape.lastError())));
    }
    std::printf("%s\n", printable(tape.filename()).toUtf8().constData());
    return 0;
}

int runLibraryCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption search(QStringLiteral("search"), QStringLiteral("Search terms."),
                                    QStringLiteral("query"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    parser.addOptions({search, json});
    if (!CommandSupport::parse(parser, QStringLiteral("library"), arguments)) {
        return 1;
    }
    if (parser.positionalArguments().size() > 1) {
        return CommandSupport::fail(QStringLiteral("library takes at most one folder"));
    }
    QString folder = parser.positionalArguments().value(0);
    if (folder.isEmpty()) {
        folder = tapeLibraryPath();
    } else if (!FileNames::isDirectory(folder)) {
        return CommandSupport::fail(QStringLiteral("no such folder: %1").arg(folder));
    }
    folder = FileNames::absolute(folder);
    recoverInterruptedRecordings(folder);
    TapeLibraryArrayController library(folder);
    library.setFilterString(parser.value(search));
    if (parser.isSet(json)) {
        QJsonArray array;
        for (const auto& tape : library.arrangedObjects()) {
            array.append(attributes(*tape, storedArtist(tape->filename())));
        }
        std::fputs(printableJson(QJsonDocument(array)).constData(), stdout);
        return 0;
    }
    for (const auto& tape : library.arrangedObjects()) {
        const auto letter = tape->tapeLetter();
        const QString date =
            tape->date().isValid()
                ? tape->date().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                : QStringLiteral("                ");
        // A file without audio headers (empty, damaged, not audio, or still
        // being recorded) has no quality or length to show, and is named by
        // its file.
        const bool headers = tape->samplerate() != 0;
        const QString title = headers || !tape->title().isEmpty()
                                  ? tape->title()
                                  : QFileInfo(tape->filename()).fileName();
        std::printf("%s  %-2s %-6s  %-2s  %9s  %s\n", date.toUtf8().constData(),
                    letter ? printable(letter->letter()).toUtf8().constData() : "",
                    letter ? letter->colorScheme()->colorName().toUtf8().constData() : "",
                    headers ? tape->quality().toUtf8().constData() : "-",
                    headers ? DurationFormatter::tapeDurationToString(tape->duration())
                                  .toUtf8()
                                  .constData()
                            : "-",
                    printable(title).toUtf8().constData());
    }
    return 0;
}
