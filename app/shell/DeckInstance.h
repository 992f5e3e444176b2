#pragma once

#include <QDBusAbstractAdaptor>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// One deck per user session. The first launch takes the session bus name
// "org.cassora.Cassora" and answers the freedesktop Application interface
// at "/org/cassora/Cassora"; a later launch, with or without files, hands
// its files to that deck (Open, or Activate without files), which imports
// them and comes to the front, and then ends.
class DeckInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "org.cassora.Cassora";
    static constexpr const char* kObjectPath = "/org/cassora/Cassora";

    explicit DeckInstance(QObject* parent = nullptr);
    ~DeckInstance() override;

    enum class Claim {
        Registered, // this process is the session's deck
        HandedOver, // another deck has the files; this process is done
        NoBus,      // no session bus: nothing to share, the deck runs alone
        Failed,     // another deck holds the name but did not answer
    };
    // Becomes the session's deck, or hands `files` (paths) to the one there is.
    Claim claim(const QStringList& files, QString* error = nullptr);

    // What the session's deck does when asked: import the files (paths,
    // possibly none) and come to the front.
    void setOpenHandler(std::function<void(const QStringList& files)> handler) {
        mOpen = std::move(handler);
    }
    void open(const QStringList& files);

    // Whether this session has a bus to talk on. Without an address Qt would
    // start a bus of its own, which nobody else would hear.
    static bool sessionBusIsThere();

private:
    bool mRegistered = false;
    std::function<void(const QStringList&)> mOpen;
};

// org.freedesktop.Application on the deck's object.
class FreedesktopApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit FreedesktopApplicationAdaptor(DeckInstance* instance);

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    DeckInstance* mInstance;
};
