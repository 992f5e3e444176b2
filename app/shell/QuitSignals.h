#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the main thread, so that a
// logout, a kill or Ctrl-C in the terminal closes the deck as its window's
// close button does: the transport stops, a recording is finished and every
// tape is committed.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(std::function<void(int signal)> handler, QObject* parent = nullptr);
    ~QuitSignals() override;

private:
    void readSignal();

    std::function<void(int)> mHandler;
    QSocketNotifier* mNotifier = nullptr;
};
