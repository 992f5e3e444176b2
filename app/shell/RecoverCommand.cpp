#include "app/shell/RecoverCommand.h"

#include "app/library/DurationFormatter.h"
#include "app/library/TapeRecovery.h"
#include "app/shell/CommandSupport.h"
#include "app/shell/LibraryLocation.h"
#include "app/shell/TapeCommands.h"
#include "platform/desktop/FileNames.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

QString describe(const TapeRecovery::Result& result) {
    using Outcome = TapeRecovery::Result::Outcome;
    const QString name = CommandSupport::printable(result.filename);
    const QString error = CommandSupport::printable(result.error);
    switch (result.outcome) {
    case Outcome::Recovered: {
        QString line = QStringLiteral("recovered %1 (%2)").arg(
            name, DurationFormatter::tapeDurationToString(result.duration));
        if (!error.isEmpty()) {
            line += QStringLiteral("; ") + error;
        }
        return line;
    }
    case Outcome::Removed:
        return QStringLiteral("removed %1: the recording was interrupted before any audio "
                              "reached the disk")
            .arg(name);
    case Outcome::Tidied:
        return QStringLiteral("removed %1, left by an interrupted import or label edit").arg(name);
    case Outcome::InUse:
        return QStringLiteral("left %1 alone: it is still being recorded").arg(name);
    case Outcome::Failed:
        return QStringLiteral("cannot recover %1: %2").arg(name, error);
    }
    return {};
}

bool anyFailed(const QList<TapeRecovery::Result>& results) {
    for (const auto& result : results) {
        if (result.outcome == TapeRecovery::Result::Outcome::Failed) {
            return true;
        }
    }
    return false;
}

} // namespace

int runRecoverCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    if (!CommandSupport::parse(parser, QStringLiteral("recover"), arguments)) {
        return 1;
    }
    if (parser.positionalArguments().size() > 1) {
        return CommandSupport::fail(QStringLiteral("recover takes one folder or file"));
    }
    QString target = parser.positionalArguments().value(0);
    if (target.isEmpty()) {
        target = tapeLibraryPath();
        if (target.isEmpty()) {
            return CommandSupport::fail(QStringLiteral("cannot find the library folder"));
        }
    }
    const QString absolute = FileNames::absolute(target);
    QList<TapeRecovery::Result> results;
    if (FileNames::isDirectory(absolute)) {
        results = TapeRecovery::recoverFolder(absolute, tapeAuthor());
    } else if (FileNames::exists(absolute)) {
        results = TapeRecovery::recoverFile(absolute, tapeAuthor());
    } else {
        return CommandSupport::fail(QStringLiteral("no such file or folder: %1").arg(target));
    }
    if (results.isEmpty()) {
        std::printf("nothing to recover in %s\n",
                    CommandSupport::printable(absolute).toUtf8().constData());
        return 0;
    }
    for (const auto& result : results) {
        std::printf("%s\n", describe(result).toUtf8().constData());
    }
    return anyFailed(results) ? 1 : 0;
}

bool recoverInterruptedRecordings(const QString& folder) {
    const auto results = TapeRecovery::recoverFolder(folder, tapeAuthor());
    for (const auto& result : results) {
        if (result.outcome != TapeRecovery::Result::Outcome::InUse) {
            std::fprintf(stderr, "cassora: %s\n", describe(result).toUtf8().constData());
        }
    }
    return !anyFailed(results);
}
