#include "app/library/TapeRecovery.h"

#include "app/library/Tape.h"
#include "app/library/TapeLetter.h"
#include "platform/desktop/FileNames.h"
#include "platform/media/RecordingJournal.h"
#include "platform/media/RecordingRecovery.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

using Outcome = TapeRecovery::Result::Outcome;

// The deck and the command line name a new recording by a fresh UUID; any
// other name was chosen by someone and stays.
bool hasGeneratedName(const QString& filename) {
    static const QRegularExpression uuid(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    return uuid.match(QFileInfo(filename).completeBaseName()).hasMatch();
}

QString fromNative(const std::string& path) {
    return FileNames::fromNative(path);
}

// Labels `path` as the deck labels a new recording; the tape's result.
TapeRecovery::Result labelTape(const QString& path, const RecoveredRecording& recovered,
                               const QString& author, bool cutShort) {
    TapeRecovery::Result result;
    result.outcome = Outcome::Recovered;
    result.filename = path;
    result.duration =
        recovered.sampleRate > 0 ? static_cast<double>(recovered.frames) / recovered.sampleRate : 0;
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    tape.setKeepsFileName(!hasGeneratedName(path));
    tape.setTitle(QStringLiteral("Untitled"));
    tape.setDate(recovered.startedAt > 0 ? QDateTime::fromSecsSinceEpoch(recovered.startedAt)
                                         : QDateTime::currentDateTime());
    tape.setArtist(author);
    if (cutShort) {
        tape.setNotes(TapeRecovery::recoveredNote());
    }
    tape.setTapeLetter(TapeLetter::tapeLetter(QStringLiteral("A")));
    if (!tape.commitAttributes()) {
        // The audio is safe and plays; only the label is missing.
        result.error = QStringLiteral("recovered, but the label could not be written: %1")
                           .arg(tape.lastError());
    }
    result.filename = tape.filename();
    return result;
}

// A finished recording whose journal was still there: the labelling was
// cut short, unless the file has a label already.
QList<TapeRecovery::Result> labelFinished(const RecoveredRecording& recovered,
                                          const QString& author) {
    const QString path = fromNative(recovered.path);
    bool labelled = false;
    {
        Tape tape(path);
        tape.setCommitsOnDestruction(false);
        labelled = !tape.title().isEmpty() || tape.hasStoredLetter();
    }
    QList<TapeRecovery::Result> results;
    if (!labelled) {
        const TapeRecovery::Result result = labelTape(path, recovered, author, false);
        if (!result.error.isEmpty()) {
            TapeRecovery::Result failed = result;
            failed.outcome = Outcome::Failed;
            return {failed}; // the journal stays, so the next run tries again
        }
        results << result;
    }
    RecordingJournal::removeFinished(recovered.path);
    return results;
}

} // namespace

QString TapeRecovery::recoveredNote() {
    return QStringLiteral("Recovered after an interruption: the recording was cut short and "
                          "its last second may be missing.");
}

QList<TapeRecovery::Result> TapeRecovery::recoverFolder(const QString& folder,
                                                        const QString& author) {
    QList<Result> results;
    const std::string native = FileNames::toNative(folder);
    for (const std::string& journal : RecordingRecovery::journalsIn(native)) {
        results += recoverJournal(fromNative(journal), author);
    }
    for (const std::string& removed : RecordingRecovery::removeLeftovers(native)) {
        Result result;
        result.filename = fromNative(removed);
        const bool recording = QFileInfo(result.filename).suffix().compare(
                                   QLatin1String("m4a"), Qt::CaseInsensitive) == 0;
        result.outcome = recording ? Outcome::Removed : Outcome::Tidied;
        results << result;
    }
    return results;
}

QList<TapeRecovery::Result> TapeRecovery::recoverFile(const QString& filename,
                                                      const QString& author) {
    const std::string path = FileNames::toNative(filename);
    if (!RecordingRecovery::needsRecovery(path)) {
        return {};
    }
    return recoverJournal(fromNative(RecordingJournal::pathFor(path)), author);
}

void TapeRecovery::releaseFinishedRecording(const QString& recordedPath) {
    RecordingJournal::removeFinished(FileNames::toNative(recordedPath));
}

QList<TapeRecovery::Result> TapeRecovery::recoverJournal(const QString& journal,
                                                         const QString& author) {
    const RecoveredRecording recovered = RecordingRecovery::recover(FileNames::toNative(journal));
    Result result;
    result.filename = fromNative(recovered.path);
    result.error = fromNative(recovered.error);
    using Recovery = RecoveredRecording::Outcome;
    switch (recovered.outcome) {
    case Recovery::Recovered:
        return {labelTape(result.filename, recovered, author, true)};
    case Recovery::Complete:
        return labelFinished(recovered, author);
    case Recovery::Finished:
    case Recovery::Abandoned:
        return {}; // nothing was wrong with the tape
    case Recovery::Empty:
        result.outcome = Outcome::Removed;
        return {result};
    case Recovery::InUse:
        result.outcome = Outcome::InUse;
        return {result};
    case Recovery::Failed:
        break;
    }
    result.outcome = Outcome::Failed;
    return {result};
}
