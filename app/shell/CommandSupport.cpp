#include "app/shell/CommandSupport.h"

#include "app/shell/CommandLine.h"
#include "platform/desktop/FileNames.h"

#include "audio/format/NSXException.h"
#include "platform/audio/AudioHardwareService.h"

#include "platform/audio/MainQueue.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <semaphore.h>
#include <thread>

namespace {

std::atomic<bool> gInterrupted{false};
sem_t gInterruptPosted;

void onSignal(int) {
    gInterrupted = true;
    sem_post(&gInterruptPosted); // async-signal-safe, unlike the main queue
}

// Turns every interrupt into a main-queue notice, so that a main thread
// asleep in the queue wakes for it.
void startInterruptWaker() {
    sem_init(&gInterruptPosted, 0, 0);
    std::thread([] {
        for (;;) {
            if (sem_wait(&gInterruptPosted) == 0) {
                MainQueue::post([] {});
            }
        }
    }).detach();
}

} // namespace

namespace CommandSupport {

bool parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this command's usage and options."));
    parser.addOption(help);
    QStringList withProgram = arguments;
    withProgram.prepend(QStringLiteral("cassora ") + command);
    if (!parser.parse(withProgram)) {
        fail(parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        // Qt's own list of the options, after its usage line.
        const QString listed = parser.helpText();
        const qsizetype options = listed.indexOf(QLatin1String("Options:"));
        std::fputs(CommandLine::commandHelpText(command, options < 0 ? QString() : listed.mid(options))
                       .toUtf8()
                       .constData(),
                   stdout);
        std::fflush(stdout);
        std::exit(0);
    }
    return true;
}

int fail(const QString& message) {
    std::fprintf(stderr, "cassora: %s\n", printable(message).toUtf8().constData());
    return 1;
}

QString printable(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : FileNames::displayable(text)) {
        const char16_t u = c.unicode();
        // Controls, and the marks that reorder text on a terminal.
        const bool control = u < 0x20 || (u >= 0x7F && u < 0xA0);
        const bool bidi = (u >= 0x200E && u <= 0x200F) || (u >= 0x202A && u <= 0x202E) ||
                          (u >= 0x2066 && u <= 0x2069) || u == 0x061C;
        if (u == '\n' || u == '\t') {
            shown += c;
        } else if (control) {
            shown += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        } else if (bidi) {
            shown += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    return shown;
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
    static std::once_flag waker;
    std::call_once(waker, startInterruptWaker);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void runNextNotices() {
    constexpr double kLongSleep = 3600.0; // a notice or an interrupt ends it
    MainQueue::runPendingFor(kLongSleep);
}

} // namespace CommandSupport
