#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

// Whether a host can be reached, watched in the background. The flags keep
// the classic reachability bits; here they come from resolving the host and
// connecting to it (port 443), checked every `interval` while the notifier
// runs. A change is announced by `reachabilityChanged`.
class Reachability : public QObject {
    Q_OBJECT

public:
    enum Flag : uint32_t {
        TransientConnection = 1,
        Reachable = 2,
        ConnectionRequired = 4,
        ConnectionOnTraffic = 8,
        InterventionRequired = 16,
        ConnectionOnDemand = 32,
        IsLocalAddress = 0x10000,
        IsDirect = 0x20000,
    };
    enum Status { NotReachable = 0, ReachableViaNetwork = 1 };

    // Nothing for an empty host name.
    static Reachability* reachabilityWithHostName(const QString& host, quint16 port = 443,
                                                  QObject* parent = nullptr);

    bool startNotifier(int intervalMilliseconds = 30000);
    void stopNotifier();
    int currentReachabilityStatus() const;
    bool connectionRequired() const { return (mFlags & ConnectionRequired) != 0; }
    uint32_t flags() const { return mFlags; }

    static int networkStatusForFlags(uint32_t flags);
    static int localWiFiStatusForFlags(uint32_t flags);
    // "Rt cCiDld", a dash for each clear bit.
    static QString describeFlags(uint32_t flags);

signals:
    void reachabilityChanged(Reachability* reachability);

private:
    Reachability(const QString& host, quint16 port, QObject* parent);
    void check();

    QString mHost;
    quint16 mPort;
    uint32_t mFlags = 0;
    bool mChecked = false;
    QTimer mTimer;
};
