#include "app/shell/SharingCommands.h"

#include "app/library/Tape.h"
#include "app/library/TapeImport.h"
#include "app/sharing/TapeExport.h"
#include "app/sharing/TapeMovie.h"
#include "app/shell/CommandSupport.h"
#include "app/shell/LibraryLocation.h"
#include "platform/desktop/FileNames.h"
#include "platform/media/Mp4Boxes.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

// Empty when `path` is a readable MPEG-4 audio file, else why not.
QString checkTapeFile(const QString& path) {
    if (!FileNames::exists(path)) {
        return QStringLiteral("no such file: %1").arg(path);
    }
    if (!FileNames::isRegularFile(path) ||
        ::access(FileNames::encode(path).constData(), R_OK) != 0) {
        return QStringLiteral("cannot read %1").arg(path);
    }
    if (!readMp4AudioTrackInfo(FileNames::encode(path).toStdString())) {
        return QStringLiteral("%1 is not an MPEG-4 audio file (or it is damaged)").arg(path);
    }
    return {};
}

// Empty when a new file can be made at `destination`, else why not: an
// existing file is never overwritten.
QString destinationProblem(const QString& destination) {
    if (FileNames::exists(destination)) {
        return QStringLiteral("%1 exists; it is not overwritten").arg(destination);
    }
    const QString folder = QFileInfo(destination).absolutePath();
    return FileNames::isDirectory(folder) ? QString()
                                          : QStringLiteral("no such folder: %1").arg(folder);
}

void drawProgressBar(double progress) {
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(progress * kWidth + 0.5);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '-');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), static_cast<int>(progress * 100 + 0.5));
    std::fflush(stderr);
}

} // namespace

int runMovieCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Write the movie to FILE."),
                                    QStringLiteral("FILE"));
    parser.addOption(output);
    if (!CommandSupport::parse(parser, QStringLiteral("movie"), arguments)) {
        return 1;
    }
    if (parser.positionalArguments().size() != 1) {
        return CommandSupport::fail(QStringLiteral("movie needs one tape"));
    }
    const QString path = FileNames::absolute(parser.positionalArguments().front());
    if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
        return CommandSupport::fail(problem);
    }
    QString destination = parser.value(output);
    if (destination.isEmpty()) {
        destination =
            QDir::current().filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".mov"));
    }
    destination = FileNames::absolute(destination);
    if (const QString problem = destinationProblem(destination); !problem.isEmpty()) {
        return CommandSupport::fail(problem);
    }

    auto tape = std::make_shared<Tape>(path);
    tape->setCommitsOnDestruction(false);
    TapeMovie movie(tape, destination);

    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::optional<TapeMovieError> failure;
    std::atomic<double> progress{0};
    movie.setProgressUpdateBlock([&progress](double value) {
        progress = value;
        return true;
    });
    CommandSupport::catchInterrupts();
    movie.performMovieExport([&](const std::optional<TapeMovieError>& error) {
        std::lock_guard guard(lock);
        failure = error;
        done = true;
        finished.notify_all();
    });

    const bool terminal = ::isatty(STDERR_FILENO);
    bool cancelled = false;
    std::unique_lock guard(lock);
    while (!done) {
        finished.wait_for(guard, std::chrono::milliseconds(100));
        if (CommandSupport::interrupted() && !cancelled) {
            movie.cancel();
            cancelled = true;
        }
        if (terminal && !done) {
            drawProgressBar(progress);
        }
    }
    guard.unlock();
    if (terminal) {
        if (!failure) {
            drawProgressBar(1.0);
        }
        std::fputc('\n', stderr);
    }
    if (failure) {
        if (failure->isCancellation()) {
            std::fprintf(stderr, "cassora: stopped; no movie was made\n");
            return 130;
        }
        return CommandSupport::fail(failure->description);
    }
    std::printf("%s\n", FileNames::encode(destination).constData());
    return 0;
}

int runImportCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    if (!CommandSupport::parse(parser, QStringLiteral("import"), arguments)) {
        return 1;
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        return CommandSupport::fail(QStringLiteral("import needs at least one tape"));
    }
    const QString folder = tapeLibraryPath();
    if (folder.isEmpty()) {
        return CommandSupport::fail(QStringLiteral("the library folder cannot be made"));
    }
    int status = 0;
    for (const QString& file : files) {
        const QString path = FileNames::absolute(file);
        if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
            status = CommandSupport::fail(problem);
            continue;
        }
        const TapeImport::Result result = TapeImport::copyTape(path, folder);
        switch (result.outcome) {
        case TapeImport::Outcome::Copied:
            std::printf("%s\n", FileNames::encode(result.destination).constData());
            break;
        case TapeImport::Outcome::AlreadyThere:
            std::printf("skipped (the library has a tape of that name): %s\n",
                        FileNames::encode(path).constData());
            break;
        case TapeImport::Outcome::Failed:
            status = CommandSupport::fail(result.error);
            break;
        }
    }
    return status;
}

namespace {

// Where one tape of an export goes.
QString exportDestination(const QString& tape, TapeExport::Format format, const QString& output,
                          const QString& folder) {
    if (!output.isEmpty()) {
        return FileNames::absolute(TapeExport::correctedFilename(output, format));
    }
    const QString name =
        QFileInfo(tape).completeBaseName() + QLatin1Char('.') + TapeExport::info(format).extension;
    return QDir(folder.isEmpty() ? QDir::currentPath() : folder).absoluteFilePath(name);
}

// Exports one tape; 0, or 1 after saying why not.
int exportOneTape(const QString& path, const QString& destination, TapeExport::Format format,
                  int bitRate, bool terminal) {
    if (destination == path) {
        return CommandSupport::fail(QStringLiteral("%1 is the tape itself").arg(destination));
    }
    if (const QString problem = destinationProblem(destination); !problem.isEmpty()) {
        return CommandSupport::fail(problem);
    }
    auto tape = std::make_shared<Tape>(path);
    tape->setCommitsOnDestruction(false);
    TapeExport exporting(path, ExportTags::ofTape(*tape), destination, format);
    if (bitRate > 0) {
        exporting.setBitRate(bitRate);
    }
    std::atomic<bool> stopping{false};
    const TapeExport::Result result = exporting.run([&](double progress) {
        if (CommandSupport::interrupted() && !stopping) {
            stopping = true;
            exporting.cancel();
        }
        if (terminal) {
            drawProgressBar(progress);
        }
    });
    if (terminal) {
        std::fputc('\n', stderr);
    }
    switch (result.outcome) {
    case TapeExport::Outcome::Exported:
        std::printf("%s\n", FileNames::encode(result.destination).constData());
        return 0;
    case TapeExport::Outcome::AlreadyThere:
        return CommandSupport::fail(
            QStringLiteral("%1 exists; it is not overwritten").arg(destination));
    case TapeExport::Outcome::Stopped:
        std::fprintf(stderr, "cassora: stopped; %s was not made\n",
                     FileNames::encode(destination).constData());
        return 130;
    case TapeExport::Outcome::Failed:
        break;
    }
    return CommandSupport::fail(result.error);
}

} // namespace

int runExportCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption format(
        QStringLiteral("format"), QStringLiteral("m4a (the tape itself), wav, flac, opus or mp3."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Write the one tape to FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption folder(QStringLiteral("to"),
                                    QStringLiteral("Write the tapes into DIR (named after them)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption bitRate(
        QStringLiteral("bitrate"),
        QStringLiteral("kbit/s for opus and mp3 (96 and 192 unless given)."),
        QStringLiteral("KBITS"));
    parser.addOptions({format, output, folder, bitRate});
    if (!CommandSupport::parse(parser, QStringLiteral("export"), arguments)) {
        return 1;
    }
    QStringList tapes = parser.positionalArguments();
    QString outputFile = parser.value(output);
    QString outputFolder = parser.value(folder);
    // The older form, TAPE DIR|FILE, still works as it did.
    if (tapes.size() == 2 && !parser.isSet(format) && !parser.isSet(output) &&
        !parser.isSet(folder)) {
        const QString target = tapes.takeLast();
        (FileNames::isDirectory(target) ? outputFolder : outputFile) = target;
    }
    if (tapes.isEmpty()) {
        return CommandSupport::fail(QStringLiteral("export needs at least one tape"));
    }
    if (!outputFile.isEmpty() && (!outputFolder.isEmpty() || tapes.size() > 1)) {
        return CommandSupport::fail(
            QStringLiteral("--output names one file: for several tapes give --to DIR"));
    }
    if (!outputFolder.isEmpty() && !FileNames::isDirectory(outputFolder)) {
        return CommandSupport::fail(QStringLiteral("no such folder: %1").arg(outputFolder));
    }
    // The format named, else the output file's, else the tape's own.
    std::optional<TapeExport::Format> chosen = parser.isSet(format)
                                                   ? TapeExport::formatNamed(parser.value(format))
                                                   : TapeExport::formatOfFilename(outputFile);
    if (parser.isSet(format) && !chosen) {
        return CommandSupport::fail(QStringLiteral("unknown format %1: m4a, wav, flac, opus or mp3")
                                        .arg(parser.value(format)));
    }
    int kilobits = 0;
    if (parser.isSet(bitRate)) {
        bool number = false;
        kilobits = parser.value(bitRate).toInt(&number);
        if (!number || kilobits < 6 || kilobits > 512) {
            return CommandSupport::fail(QStringLiteral("--bitrate is in kbit/s, from 6 to 512: %1")
                                            .arg(parser.value(bitRate)));
        }
    }
    const TapeExport::Format target = chosen.value_or(TapeExport::Format::MPEG4);
    CommandSupport::catchInterrupts();
    const bool terminal = ::isatty(STDERR_FILENO);
    int status = 0;
    for (const QString& tape : tapes) {
        const QString path = FileNames::absolute(tape);
        if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
            status = CommandSupport::fail(problem);
            continue;
        }
        const int result =
            exportOneTape(path, exportDestination(path, target, outputFile, outputFolder), target,
                          kilobits * 1000, terminal);
        if (result == 130) {
            return result;
        }
        status = std::max(status, result);
    }
    return status;
}
