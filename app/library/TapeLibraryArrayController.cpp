#include "app/library/TapeLibraryArrayController.h"

#include "platform/desktop/DesktopServices.h"
#include "platform/desktop/FileNames.h"
#include "platform/media/Mp4Boxes.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>
#include <QUrl>

#include <cstdio>

namespace {

void logError(const char* source, const char* message) {
    std::fprintf(stderr, "(ERROR) %s : %s\n", source, message);
}

const char* const kProductAddress = "https://cassora.org";

} // namespace

TapeLibraryArrayController::TapeLibraryArrayController(QString folder, QObject* parent)
    : FilteringArrayController(parent), mFolder(std::move(folder)) {
    mCoalesce.setSingleShot(true);
    mCoalesce.setInterval(200);
    connect(&mCoalesce, &QTimer::timeout, this,
            &TapeLibraryArrayController::checkRecordingDirectory);
    checkRecordingDirectory();
}

TapeLibraryArrayController::~TapeLibraryArrayController() {
    stopMonitoringRecordingDirectory();
}

QStringList TapeLibraryArrayController::soundFileList() const {
    // The file system's own names: one that is not UTF-8 is still listed
    // and opened.
    const QDir folder(mFolder);
    QStringList paths;
    for (const QString& name : FileNames::entries(mFolder)) {
        if (QFileInfo(name).suffix() == QLatin1String("m4a") &&
            !name.startsWith(QLatin1Char('.')) &&
            FileNames::isRegularFile(folder.filePath(name))) {
            paths << folder.filePath(name);
        }
    }
    return paths;
}

void TapeLibraryArrayController::checkRecordingDirectory() {
    const QStringList files = soundFileList();
    TapeList gone;
    QStringList known;
    for (const auto& tape : content()) {
        known << tape->filename();
        if (!files.contains(tape->filename())) {
            gone.push_back(tape);
        }
    }
    TapeList fresh;
    for (const QString& path : files) {
        if (!known.contains(path)) {
            auto tape = std::make_shared<Tape>(path);
            tape->setCommitsOnDestruction(false); // a listing does not write
            if (FileNames::exists(path)) {        // gone since the listing: dropped
                fresh.push_back(tape);
            }
        }
    }
    removeObjects(gone);
    if (!fresh.empty()) {
        keepVisible(fresh); // new tapes show while a search is active
        setSelectsInsertedObjects(false);
        addObjects(fresh);
        setSelectionIndexes({0});
        setSelectsInsertedObjects(true);
    }
}

void TapeLibraryArrayController::scheduleCheck() {
    if (!mPaused) {
        mCoalesce.start();
    }
}

void TapeLibraryArrayController::startMonitoringRecordingDirectory() {
    if (mWatcher) {
        return;
    }
    mWatcher = std::make_unique<QFileSystemWatcher>();
    if (!mWatcher->addPath(mFolder)) {
        logError("TapeLibraryArrayController", "failed to start event stream");
        mWatcher.reset();
        return;
    }
    mPaused = false;
    connect(mWatcher.get(), &QFileSystemWatcher::directoryChanged, this,
            &TapeLibraryArrayController::scheduleCheck);
}

void TapeLibraryArrayController::setSoundFilePath(const QString& folder) {
    if (folder == mFolder) {
        return;
    }
    const bool monitoring = mWatcher != nullptr;
    const bool paused = mPaused;
    stopMonitoringRecordingDirectory();
    mFolder = folder;
    if (monitoring) {
        startMonitoringRecordingDirectory();
        mPaused = paused && mWatcher;
    }
}

void TapeLibraryArrayController::pauseMonitoringRecordingDirectory() {
    if (mWatcher) {
        mPaused = true;
        mCoalesce.stop();
    }
}

void TapeLibraryArrayController::resumeMonitoringRecordingDirectory() {
    if (mWatcher) {
        mPaused = false;
    }
}

void TapeLibraryArrayController::stopMonitoringRecordingDirectory() {
    mCoalesce.stop();
    mWatcher.reset();
    mPaused = false;
}

// Drag and drop

QMimeData* TapeLibraryArrayController::mimeDataForRow(int row) const {
    if (row < 0 || row >= static_cast<int>(arrangedObjects().size())) {
        return nullptr;
    }
    return arrangedObjects()[static_cast<size_t>(row)]->pasteboardData();
}

QList<QUrl> TapeLibraryArrayController::acceptableDropURLs(const QMimeData* data) {
    QList<QUrl> urls;
    if (!data) {
        return urls;
    }
    const QMimeDatabase database;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QMimeType type =
            database.mimeTypeForFile(url.toLocalFile(), QMimeDatabase::MatchContent);
        const bool audio = type.inherits(QStringLiteral("audio/mp4"));
        // A generic MPEG-4 brand ("isom") sniffs as video: it counts as audio
        // when it holds a sound track.
        const bool container = type.inherits(QStringLiteral("video/mp4")) &&
                               readMp4AudioTrackInfo(url.toLocalFile().toStdString()).has_value();
        if (audio || container) {
            urls << url;
        }
    }
    return urls;
}

bool TapeLibraryArrayController::acceptDrop(const QMimeData* data) {
    const QList<QUrl> urls = acceptableDropURLs(data);
    if (!urls.isEmpty() && mImporter) {
        mImporter(urls);
    }
    return true;
}

// Tape operations

void TapeLibraryArrayController::moveTapeToTrash(const std::shared_ptr<Tape>& tape) {
    if (!DesktopServices::moveToTrash(tape->filename())) {
        logError("TapeLibraryArrayController_TapeOperations", "performFileOperation failed!!!!");
    }
    removeObject(*tape);
}

void TapeLibraryArrayController::revealTapeInFinder(const Tape& tape) {
    if (!DesktopServices::revealInFileManager(tape.filename())) {
        logError("TapeLibraryArrayController_TapeOperations", "no file manager answered");
    }
}

QString TapeLibraryArrayController::emailSubject(const Tape& tape) {
    return tr("Cassora Recording: %1").arg(tape.title());
}

QString TapeLibraryArrayController::emailBody() {
    return QStringLiteral("\n") + tr("Recorded with Cassora") + QStringLiteral("\n") +
           QString::fromLatin1(kProductAddress) + QStringLiteral("\n\n");
}

void TapeLibraryArrayController::emailTape(const Tape& tape) {
    QPointer<TapeLibraryArrayController> self(this);
    DesktopServices::composeMail(
        emailSubject(tape), emailBody(), tape.filename(), [self](const QString& failure) {
            if (failure.isEmpty() || !self) {
                return; // the message is open in the mail program
            }
            logError("TapeLibraryArrayController_TapeOperations", failure.toUtf8().constData());
            emit self->tapeOperationDidFinish(true, tr("The tape could not be emailed"), failure);
        });
}

void TapeLibraryArrayController::sendTapeToiTunes(const Tape& tape) {
    const QString playlist = tr("Cassora");
    const QString track = DesktopServices::addToMusicLibrary(tape.filename(), playlist);
    if (track.isEmpty()) {
        logError("TapeLibraryArrayController_TapeOperations",
                 "could not add the tape to the music library");
        emit tapeOperationDidFinish(
            true, tr("The tape could not be added to the Music Library"),
            tr("It cannot be copied into %1, or the playlist \u201c%2\u201d there cannot be "
               "written.")
                .arg(QDir::toNativeSeparators(DesktopServices::musicFolder()), playlist));
        return;
    }
    emit tapeOperationDidFinish(
        false, tr("The tape is in the Music Library"),
        tr("\u201c%1\u201d is in %2, in the playlist \u201c%3\u201d.")
            .arg(tape.title(), QDir::toNativeSeparators(QFileInfo(track).absolutePath()), playlist));
}
