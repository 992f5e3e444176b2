#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <atomic>

class NSXException;

// Helpers shared by the command-line commands.
namespace CommandSupport {

// Parses `arguments` (those after the command's name) with `parser`; on bad
// arguments prints one line and returns false. "--help" prints the
// command's usage and options and ends the program.
bool parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments);

// Prints "cassora: <message>" (printable) on standard error and returns 1.
int fail(const QString& message);
// Text as a terminal can show it without being steered by it: bytes of a
// name that are not UTF-8 as "\xNN", control characters as "\xNN" (new
// lines and tabs kept) and the marks that reorder text (U+202E...) as "\uNNNN".
QString printable(const QString& text);
// The one-line explanation of an engine error.
QString describe(const NSXException& exception);

// Set by SIGINT and SIGTERM once `catchInterrupts` has run.
const std::atomic<bool>& interrupted();
void catchInterrupts();
// Sleeps until the engine posts a notice or an interrupt comes (once
// `catchInterrupts` has run), then runs the notices waiting. Nothing wakes
// the caller in between.
void runNextNotices();

} // namespace CommandSupport
