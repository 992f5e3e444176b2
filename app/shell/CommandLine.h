#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// The program's command line: `cassora` alone opens the deck window;
// `cassora COMMAND ...` runs one command without a window.
struct CommandLineCommand {
    QString name;
    QString usage;   // arguments after the name, for the help text
    QString summary; // one line
    // Runs with the arguments after the command's name; returns the exit status.
    std::function<int(const QStringList& arguments)> run;
};

class CommandLine {
public:
    // Every command of the program, in the order the help lists them.
    static const std::vector<CommandLineCommand>& commands();
    static const CommandLineCommand* find(const QString& name);

    // Whether `arguments` (as the program got them, program name first) ask
    // for a command rather than the window.
    static bool isCommand(const QStringList& arguments);
    // Runs the command that `arguments` name; prints usage on unknown ones.
    static int run(const QStringList& arguments);

    static QString version();
    static QString helpText();
    // One command's usage, summary and options (`optionsHelp`, as its parser
    // lists them); empty for an unknown command.
    static QString commandHelpText(const QString& name, const QString& optionsHelp);
};
