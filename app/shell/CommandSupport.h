#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <atomic>

class NSXException;

// Helpers shared by the command-line commands.
namespace CommandSupport {

// Parses `arguments` (those after the command's name) with `parser`; on bad
// arguments prints one line and returns false.
bool parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments);

// Prints "cassora: <message>" on standard error and returns 1.
int fail(const QString& message);
// The one-line explanation of an engine error.
QString describe(const NSXException& exception);

// Set by SIGINT and SIGTERM once `catchInterrupts` has run.
const std::atomic<bool>& interrupted();
void catchInterrupts();

} // namespace CommandSupport
