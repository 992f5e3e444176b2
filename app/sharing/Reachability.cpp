#include "app/sharing/Reachability.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>

Reachability::Reachability(const QString& host, quint16 port, QObject* parent)
    : QObject(parent), mHost(host), mPort(port) {
    connect(&mTimer, &QTimer::timeout, this, &Reachability::check);
}

Reachability* Reachability::reachabilityWithHostName(const QString& host, quint16 port,
                                                     QObject* parent) {
    return host.isEmpty() ? nullptr : new Reachability(host, port, parent);
}

bool Reachability::startNotifier(int intervalMilliseconds) {
    mTimer.start(std::max(100, intervalMilliseconds));
    check();
    return true;
}

void Reachability::stopNotifier() {
    mTimer.stop();
}

void Reachability::check() {
    auto* socket = new QTcpSocket(this);
    QPointer<Reachability> self = this;
    const auto settle = [self, socket](uint32_t flags) {
        socket->deleteLater();
        if (!self) {
            return;
        }
        const bool changed = !self->mChecked || flags != self->mFlags;
        self->mFlags = flags;
        self->mChecked = true;
        if (changed) {
            emit self->reachabilityChanged(self);
        }
    };
    connect(socket, &QTcpSocket::connected, this, [socket, settle] {
        uint32_t flags = Reachable;
        if (socket->peerAddress().isLoopback()) {
            flags |= IsLocalAddress | IsDirect;
        }
        socket->abort();
        settle(flags);
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [settle](QAbstractSocket::SocketError) {
        settle(0);
    });
    socket->connectToHost(mHost, mPort);
}

int Reachability::currentReachabilityStatus() const {
    return networkStatusForFlags(mFlags);
}

int Reachability::networkStatusForFlags(uint32_t flags) {
    if (!(flags & Reachable)) {
        return NotReachable;
    }
    if (!(flags & ConnectionRequired)) {
        return ReachableViaNetwork;
    }
    if ((flags & (ConnectionOnDemand | ConnectionOnTraffic)) && !(flags & InterventionRequired)) {
        return ReachableViaNetwork;
    }
    return NotReachable;
}

int Reachability::localWiFiStatusForFlags(uint32_t flags) {
    return (flags & Reachable) && (flags & IsDirect) ? ReachableViaNetwork : NotReachable;
}

QString Reachability::describeFlags(uint32_t flags) {
    const auto bit = [flags](uint32_t mask, char c) { return QChar((flags & mask) ? c : '-'); };
    QString text;
    text += bit(Reachable, 'R');
    text += bit(TransientConnection, 't');
    text += ' ';
    text += bit(ConnectionRequired, 'c');
    text += bit(ConnectionOnTraffic, 'C');
    text += bit(InterventionRequired, 'i');
    text += bit(ConnectionOnDemand, 'D');
    text += bit(IsLocalAddress, 'l');
    text += bit(IsDirect, 'd');
    return text;
}
