#include "app/shell/DeckInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QFileInfo>
#include <QUrl>

namespace {

constexpr const char* kApplicationInterface = "org.freedesktop.Application";
// A deck that is still starting answers once its window is up.
constexpr int kHandOverTimeoutMs = 20000;

} // namespace

DeckInstance::DeckInstance(QObject* parent) : QObject(parent) {
    new FreedesktopApplicationAdaptor(this);
}

DeckInstance::~DeckInstance() {
    if (mRegistered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QLatin1String(kServiceName));
        bus.unregisterObject(QLatin1String(kObjectPath));
    }
}

bool DeckInstance::sessionBusIsThere() {
    const QString runtimeBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo::exists(runtimeBus));
}

DeckInstance::Claim DeckInstance::claim(const QStringList& files, QString* error) {
    if (!sessionBusIsThere()) {
        return Claim::NoBus;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return Claim::NoBus;
    }
    // The object first, so that calls that come with the name find it; they
    // are answered once the event loop runs.
    if (bus.registerObject(QLatin1String(kObjectPath), this, QDBusConnection::ExportAdaptors) &&
        bus.registerService(QLatin1String(kServiceName))) {
        mRegistered = true;
        return Claim::Registered;
    }
    bus.unregisterObject(QLatin1String(kObjectPath));

    QStringList uris;
    for (const QString& file : files) {
        uris << QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString();
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kServiceName), QLatin1String(kObjectPath),
        QLatin1String(kApplicationInterface),
        uris.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"));
    if (!uris.isEmpty()) {
        call << uris;
    }
    QVariantMap platformData;
    if (const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN"); !token.isEmpty()) {
        platformData.insert(QStringLiteral("activation-token"), QString::fromUtf8(token));
    }
    if (const QByteArray id = qgetenv("DESKTOP_STARTUP_ID"); !id.isEmpty()) {
        platformData.insert(QStringLiteral("desktop-startup-id"), QString::fromUtf8(id));
    }
    call << platformData;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kHandOverTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return Claim::HandedOver;
    }
    if (error) {
        *error =
            tr("Another Cassora deck is running but does not answer: %1").arg(reply.errorMessage());
    }
    return Claim::Failed;
}

void DeckInstance::open(const QStringList& files) {
    if (mOpen) {
        mOpen(files);
    }
}

FreedesktopApplicationAdaptor::FreedesktopApplicationAdaptor(DeckInstance* instance)
    : QDBusAbstractAdaptor(instance), mInstance(instance) {}

void FreedesktopApplicationAdaptor::Activate(const QVariantMap&) {
    mInstance->open({});
}

void FreedesktopApplicationAdaptor::Open(const QStringList& uris, const QVariantMap&) {
    QStringList files;
    for (const QString& uri : uris) {
        const QUrl url(uri);
        // Only files on this machine can be imported.
        if (url.isLocalFile()) {
            files << url.toLocalFile();
        }
    }
    mInstance->open(files);
}

void FreedesktopApplicationAdaptor::ActivateAction(const QString&, const QVariantList&,
                                                   const QVariantMap&) {
    // The deck offers no named actions; being asked still brings it forward.
    mInstance->open({});
}
