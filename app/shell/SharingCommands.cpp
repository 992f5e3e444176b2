#include "app/shell/SharingCommands.h"

#include "app/library/Tape.h"
#include "app/library/TapeImport.h"
#include "app/shell/CommandSupport.h"
#include "app/shell/LibraryLocation.h"
#include "app/sharing/TapeMovie.h"
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
    const QFileInfo info(path);
    if (!info.exists()) {
        return QStringLiteral("no such file: %1").arg(path);
    }
    if (!info.isFile() || !info.isReadable()) {
        return QStringLiteral("cannot read %1").arg(path);
    }
    if (!readMp4AudioTrackInfo(QFile::encodeName(path).toStdString())) {
        return QStringLiteral("%1 is not an MPEG-4 audio file (or it is damaged)").arg(path);
    }
    return {};
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
    const QString path = QFileInfo(parser.positionalArguments().front()).absoluteFilePath();
    if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
        return CommandSupport::fail(problem);
    }
    QString destination = parser.value(output);
    if (destination.isEmpty()) {
        destination = QDir::current().filePath(QFileInfo(path).completeBaseName() +
                                               QStringLiteral(".mov"));
    }
    destination = QFileInfo(destination).absoluteFilePath();
    if (QFileInfo::exists(destination)) {
        return CommandSupport::fail(
            QStringLiteral("%1 exists; it is not overwritten").arg(destination));
    }
    if (!QFileInfo(QFileInfo(destination).absolutePath()).isDir()) {
        return CommandSupport::fail(
            QStringLiteral("no such folder: %1").arg(QFileInfo(destination).absolutePath()));
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
    std::printf("%s\n", QFile::encodeName(destination).constData());
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
        const QString path = QFileInfo(file).absoluteFilePath();
        if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
            status = CommandSupport::fail(problem);
            continue;
        }
        const TapeImport::Result result = TapeImport::copyTape(path, folder);
        switch (result.outcome) {
        case TapeImport::Outcome::Copied:
            std::printf("%s\n", QFile::encodeName(result.destination).constData());
            break;
        case TapeImport::Outcome::AlreadyThere:
            std::printf("skipped (the library has a tape of that name): %s\n",
                        QFile::encodeName(path).constData());
            break;
        case TapeImport::Outcome::Failed:
            status = CommandSupport::fail(result.error);
            break;
        }
    }
    return status;
}

int runExportCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    if (!CommandSupport::parse(parser, QStringLiteral("export"), arguments)) {
        return 1;
    }
    if (parser.positionalArguments().size() != 2) {
        return CommandSupport::fail(QStringLiteral("export needs a tape and a folder or file"));
    }
    const QString path = QFileInfo(parser.positionalArguments().at(0)).absoluteFilePath();
    if (const QString problem = checkTapeFile(path); !problem.isEmpty()) {
        return CommandSupport::fail(problem);
    }
    QString destination = parser.positionalArguments().at(1);
    if (QFileInfo(destination).isDir()) {
        destination = QDir(destination).filePath(QFileInfo(path).fileName());
    }
    destination = QFileInfo(destination).absoluteFilePath();
    if (destination == path) {
        return CommandSupport::fail(QStringLiteral("%1 is the tape itself").arg(destination));
    }
    if (QFileInfo::exists(destination)) {
        return CommandSupport::fail(
            QStringLiteral("%1 exists; it is not overwritten").arg(destination));
    }
    const TapeImport::Result result = TapeImport::copyFile(path, destination, false);
    if (result.outcome != TapeImport::Outcome::Copied) {
        return CommandSupport::fail(result.error.isEmpty()
                                        ? QStringLiteral("%1 exists; it is not overwritten").arg(destination)
                                        : result.error);
    }
    std::printf("%s\n", QFile::encodeName(result.destination).constData());
    return 0;
}
