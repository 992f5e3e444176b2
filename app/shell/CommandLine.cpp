#include "app/shell/CommandLine.h"

#include "app/shell/AudioCommands.h"
#include "app/shell/DevicesCommand.h"
#include "app/shell/RecoverCommand.h"
#include "app/shell/SharingCommands.h"
#include "app/shell/TapeCommands.h"
#include "platform/desktop/FileNames.h"

#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

#ifndef CASSORA_VERSION
#define CASSORA_VERSION "0.0.0"
#endif

namespace {

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

int printVersion(const QStringList&) {
    out() << "Cassora " << CommandLine::version() << Qt::endl;
    return 0;
}

int printHelp(const QStringList&) {
    out() << CommandLine::helpText() << Qt::flush;
    return 0;
}

} // namespace

const std::vector<CommandLineCommand>& CommandLine::commands() {
    static const std::vector<CommandLineCommand> table = {
        {QStringLiteral("--version"), {}, QStringLiteral("print the version"), printVersion},
        {QStringLiteral("--help"), {}, QStringLiteral("print this help"), printHelp},
        {QStringLiteral("devices"), QStringLiteral("[--json] [--watch]"),
         QStringLiteral("list the audio devices, or print their changes as they happen"),
         runDevicesCommand},
        {QStringLiteral("record"),
         QStringLiteral("[--quality HQ|MQ|LQ] [--mono] [--device UID] [--channels 1,2] "
                        "[--seconds N] [--output FILE]"),
         QStringLiteral("record a new tape (into the library folder unless --output is given)"),
         runRecordCommand},
        {QStringLiteral("play"),
         QStringLiteral("FILE [--speed S] [--from SECONDS] [--volume DB] [--device UID] "
                        "[--remove-voice]"),
         QStringLiteral("play a tape; a negative speed plays it backwards"), runPlayCommand},
        {QStringLiteral("info"), QStringLiteral("FILE [--json]"),
         QStringLiteral("print a tape's label and format"), runInfoCommand},
        {QStringLiteral("label"),
         QStringLiteral("FILE [--title T] [--notes N | --notes-file FILE|-] [--artist A] "
                        "[--date D] [--letter L] [--color NAME|INDEX]"),
         QStringLiteral("edit a tape's label (the file is renamed after its date and title)"),
         runLabelCommand},
        {QStringLiteral("library"), QStringLiteral("[DIR] [--search QUERY] [--json]"),
         QStringLiteral("list the library's tapes, newest first, narrowed by a search"),
         runLibraryCommand},
        {QStringLiteral("recover"), QStringLiteral("[DIR|FILE]"),
         QStringLiteral("finish recordings that were interrupted (in the library folder unless "
                        "a folder or file is given)"),
         runRecoverCommand},
        {QStringLiteral("meter"), QStringLiteral("[--device UID] [--channels 1,2]"),
         QStringLiteral("print the input levels 15 times a second"), runMeterCommand},
        {QStringLiteral("movie"), QStringLiteral("TAPE [--output FILE]"),
         QStringLiteral("make a movie of the tape's cassette spinning, with its sound"),
         runMovieCommand},
        {QStringLiteral("import"), QStringLiteral("FILE..."),
         QStringLiteral("copy tapes into the library folder (names already there are skipped)"),
         runImportCommand},
        {QStringLiteral("export"),
         QStringLiteral("TAPE... [--format m4a|wav|flac|opus|mp3] [--output FILE|--to DIR] "
                        "[--bitrate KBITS]"),
         QStringLiteral("export tapes as they are or as WAV, FLAC, Opus or MP3, with their "
                        "labels (never over an existing file)"),
         runExportCommand},
    };
    return table;
}

const CommandLineCommand* CommandLine::find(const QString& name) {
    for (const auto& command : commands()) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

bool CommandLine::isCommand(const QStringList& arguments) {
    if (arguments.size() < 2) {
        return false;
    }
    const QString& first = arguments.at(1);
    // Other dashed arguments are Qt's own (-platform, -style, ...); an
    // existing file is a tape to open in the deck.
    return find(first) != nullptr || first == QLatin1String("-h") ||
           (!first.startsWith('-') && !FileNames::exists(first));
}

int CommandLine::run(const QStringList& arguments) {
    QString name = arguments.value(1);
    if (name == QLatin1String("-h")) {
        name = QStringLiteral("--help");
    }
    const CommandLineCommand* command = find(name);
    if (!command) {
        err() << "cassora: unknown command \"" << name << "\"\n\n" << helpText() << Qt::flush;
        return 2;
    }
    return command->run(arguments.mid(2));
}

QString CommandLine::version() {
    return QStringLiteral(CASSORA_VERSION);
}

QString CommandLine::commandHelpText(const QString& name, const QString& optionsHelp) {
    const CommandLineCommand* command = find(name);
    if (!command) {
        return {};
    }
    QString text = QStringLiteral("Usage: cassora %1%2\n\n").arg(
        command->name, command->usage.isEmpty() ? QString() : ' ' + command->usage);
    QString summary = command->summary;
    summary[0] = summary[0].toUpper();
    text += summary + QStringLiteral(".\n");
    if (!optionsHelp.isEmpty()) {
        text += QLatin1Char('\n') + optionsHelp;
    }
    return text;
}

QString CommandLine::helpText() {
    QString text = QStringLiteral("Cassora, a cassette deck for recording and playing tapes.\n\n"
                                  "Usage:\n  cassora                 open the deck window\n");
    text += QStringLiteral("  cassora COMMAND --help\n      print a command's usage and options\n");
    for (const auto& command : commands()) {
        QString line = command.name;
        if (!command.usage.isEmpty()) {
            line += ' ' + command.usage;
        }
        text += QStringLiteral("  cassora %1\n      %2\n").arg(line, command.summary);
    }
    return text;
}
