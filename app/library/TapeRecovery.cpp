#include "app/library/TapeRecovery.h"

#include "app/library/Tape.h"
#include "app/library/TapeLetter.h"
#include "platform/media/RecordingJournal.h"
#include "platform/media/RecordingRecovery.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

// The deck and the command line name a new recording by a fresh UUID; any
// other name was chosen by someone and stays.
bool hasGeneratedName(const QString& filename) {
    static const QRegularExpression uuid(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    return uuid.match(QFileInfo(filename).completeBaseName()).hasMatch();
}

TapeRecovery::Result labelRecoveredTape(const RecoveredRecording& recovered,
                                        const QString& author) {
    TapeRecovery::Result result;
    result.outcome = TapeRecovery::Result::Outcome::Recovered;
    result.filename = QString::fromStdString(recovered.path);
    result.duration =
        recovered.sampleRate > 0 ? static_cast<double>(recovered.frames) / recovered.sampleRate : 0;
    Tape tape(result.filename);
    tape.setCommitsOnDestruction(false);
    tape.setKeepsFileName(!hasGeneratedName(result.filename));
    tape.setTitle(QStringLiteral("Untitled"));
    tape.setDate(recovered.startedAt > 0 ? QDateTime::fromSecsSinceEpoch(recovered.startedAt)
                                         : QFileInfo(result.filename).lastModified());
    tape.setArtist(author);
    tape.setNotes(TapeRecovery::recoveredNote());
    tape.setTapeLetter(TapeLetter::tapeLetter(QStringLiteral("A")));
    if (!tape.commitAttributes()) {
        // The audio is safe and plays; only the label is missing.
        result.error = QStringLiteral("recovered, but the label could not be written: %1")
                           .arg(tape.lastError());
    }
    result.filename = tape.filename();
    return result;
}

} // namespace

QString TapeRecovery::recoveredNote() {
    return QStringLiteral("Recovered after an interruption: the recording was cut short and "
                          "its last second may be missing.");
}

QList<TapeRecovery::Result> TapeRecovery::recoverFolder(const QString& folder,
                                                        const QString& author) {
    QList<Result> results;
    for (const std::string& journal : RecordingRecovery::journalsIn(folder.toStdString())) {
        results += recoverJournal(QString::fromStdString(journal), author);
    }
    return results;
}

QList<TapeRecovery::Result> TapeRecovery::recoverFile(const QString& filename,
                                                      const QString& author) {
    const std::string path = filename.toStdString();
    if (!RecordingRecovery::needsRecovery(path)) {
        return {};
    }
    return recoverJournal(QString::fromStdString(RecordingJournal::pathFor(path)), author);
}

QList<TapeRecovery::Result> TapeRecovery::recoverJournal(const QString& journal,
                                                         const QString& author) {
    const RecoveredRecording recovered = RecordingRecovery::recover(journal.toStdString());
    Result result;
    result.filename = QString::fromStdString(recovered.path);
    result.error = QString::fromStdString(recovered.error);
    using Outcome = RecoveredRecording::Outcome;
    switch (recovered.outcome) {
    case Outcome::Recovered:
        return {labelRecoveredTape(recovered, author)};
    case Outcome::Finished:
    case Outcome::Abandoned:
        return {}; // nothing was wrong with the tape
    case Outcome::Empty:
        result.outcome = Result::Outcome::Removed;
        return {result};
    case Outcome::InUse:
        result.outcome = Result::Outcome::InUse;
        return {result};
    case Outcome::Failed:
        break;
    }
    result.outcome = Result::Outcome::Failed;
    return {result};
}
