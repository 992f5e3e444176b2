#include "app/shell/QuitSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Async-signal-safe: one byte naming the signal into the pipe.
void onSignal(int signal) {
    const int savedErrno = errno;
    const char code = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &code, 1);
    errno = savedErrno;
}

} // namespace

QuitSignals::QuitSignals(std::function<void(int)> handler, QObject* parent)
    : QObject(parent), mHandler(std::move(handler)) {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    mNotifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &QuitSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        sigaction(signal, &action, nullptr);
    }
}

QuitSignals::~QuitSignals() {
    for (const int signal : kSignals) {
        std::signal(signal, SIG_DFL);
    }
    if (gSignalPipe[0] >= 0) {
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
}

void QuitSignals::readSignal() {
    char code = 0;
    while (::read(gSignalPipe[0], &code, 1) == 1) {
        if (mHandler) {
            mHandler(code);
        }
    }
}
