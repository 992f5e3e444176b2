#include "app/shell/CommandSupport.h"

#include "audio/format/NSXException.h"
#include "platform/audio/AudioHardwareService.h"

#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> gInterrupted{false};

void onSignal(int) {
    gInterrupted = true;
}

} // namespace

namespace CommandSupport {

bool parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QStringList withProgram = arguments;
    withProgram.prepend(QStringLiteral("cassora ") + command);
    if (!parser.parse(withProgram)) {
        fail(parser.errorText());
        return false;
    }
    return true;
}

int fail(const QString& message) {
    std::fprintf(stderr, "cassora: %s\n", message.toLocal8Bit().constData());
    return 1;
}

QString describe(const NSXException& exception) {
    const NSXError& error = exception.error();
    if (!error.stringDetail(NSXLocalizedDescriptionKey).empty()) {
        return QString::fromStdString(error.localizedDescription());
    }
    if (error.domain() == NSXMachErrorDomain) {
        return QString::fromStdString(AudioHardwareStatusDescription(error.code()));
    }
    return QString::fromStdString(error.localizedDescription());
}

const std::atomic<bool>& interrupted() {
    return gInterrupted;
}

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace CommandSupport
