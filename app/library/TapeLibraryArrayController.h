#pragma once

#include "app/library/FilteringArrayController.h"

#include <QFileSystemWatcher>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

// The tape box's controller: one tape per "m4a" file of the library folder,
// kept in step with the folder by watching it (changes coalesced over 0.2 s),
// the tape operations, and drag and drop.
class TapeLibraryArrayController : public FilteringArrayController {
    Q_OBJECT

public:
    // Lists the folder once.
    explicit TapeLibraryArrayController(QString folder, QObject* parent = nullptr);
    ~TapeLibraryArrayController() override;

    const QString& soundFilePath() const { return mFolder; }
    // Follows the library to another folder (watched as this one was); the
    // next `checkRecordingDirectory` lists it.
    void setSoundFilePath(const QString& folder);
    // The folder's files with the extension "m4a" (exactly), as full paths;
    // empty when the folder cannot be listed.
    QStringList soundFileList() const;
    void checkRecordingDirectory();

    void startMonitoringRecordingDirectory();
    void pauseMonitoringRecordingDirectory();
    void resumeMonitoringRecordingDirectory();
    void stopMonitoringRecordingDirectory();
    bool isMonitoring() const { return mWatcher != nullptr && !mPaused; }

    // Drag and drop: a row's tape as its file; drops of MPEG-4 audio files
    // (judged by their content) are copies handed to the importer.
    QMimeData* mimeDataForRow(int row) const;
    static QList<QUrl> acceptableDropURLs(const QMimeData* data);
    bool validateDrop(const QMimeData* data) const { return !acceptableDropURLs(data).isEmpty(); }
    bool acceptDrop(const QMimeData* data);
    void setImporter(std::function<void(const QList<QUrl>&)> importer) {
        mImporter = std::move(importer);
    }
    bool hasImporter() const { return static_cast<bool>(mImporter); }

    // Tape operations.
    void moveTapeToTrash(const std::shared_ptr<Tape>& tape);
    void revealTapeInFinder(const Tape& tape);
    // Both say how they went through `tapeOperationDidFinish` (the mail,
    // once the mail program has answered).
    void emailTape(const Tape& tape);
    void sendTapeToiTunes(const Tape& tape);
    static QString emailSubject(const Tape& tape);
    static QString emailBody();

signals:
    // A tape operation that people wait to see the result of has ended:
    // `failed` tells a failure from a success, both told in words.
    void tapeOperationDidFinish(bool failed, const QString& message, const QString& informative);

private:
    void scheduleCheck();

    QString mFolder;
    std::unique_ptr<QFileSystemWatcher> mWatcher;
    QTimer mCoalesce;
    bool mPaused = false;
    std::function<void(const QList<QUrl>&)> mImporter;
};
