#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

class WindowController;

// The deck on the session bus as an MPRIS 2 media player
// ("org.mpris.MediaPlayer2.cassora"), so media keys and the desktop's media
// controls drive it: Play, Pause, PlayPause and Stop work the transport,
// Next and Previous choose the tape, and Metadata describes the tape in the
// deck (title, artist, length, cover art). Changes are announced through
// PropertiesChanged.
class MPRISService : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.cassora";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    explicit MPRISService(WindowController& deck, QObject* parent = nullptr);
    ~MPRISService() override;

    // Takes the bus name and publishes the player; false, with the reason in
    // `error`, when there is no session bus or the name is taken.
    bool registerOnSessionBus(QString* error = nullptr);

    // "Playing", "Paused" or "Stopped".
    QString playbackStatus() const;
    QVariantMap metadata() const;
    qlonglong position() const;
    bool canPlay() const;

    void playPause();
    void play();
    void pause();
    void stop();
    void next();
    void previous();
    void raise();
    void quit();

    // Compares with what was last announced and announces the changes.
    void announceChanges();

private:
    QString coverArtURL() const;

    WindowController& mDeck;
    QTimer mWatch;
    QString mAnnouncedStatus;
    QVariantMap mAnnouncedMetadata;
    bool mRegistered = false;
    mutable QString mCoverArtTape;
    mutable QString mCoverArtFile;
};

// org.mpris.MediaPlayer2
class MPRISRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    MPRISRootAdaptor(MPRISService* service, QObject* object);
    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Cassora"); }
    QString desktopEntry() const { return QStringLiteral("org.cassora.Cassora"); }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public slots:
    void Raise() { mService->raise(); }
    void Quit() { mService->quit(); }

private:
    MPRISService* mService;
};

// org.mpris.MediaPlayer2.Player
class MPRISPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canControl)
    Q_PROPERTY(bool CanGoPrevious READ canControl)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canControl)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    MPRISPlayerAdaptor(MPRISService* service, QObject* object);
    QString playbackStatus() const { return mService->playbackStatus(); }
    double rate() const { return 1.0; }
    QVariantMap metadata() const { return mService->metadata(); }
    double volume() const { return 1.0; }
    qlonglong position() const { return mService->position(); }
    bool canPlay() const { return mService->canPlay(); }
    bool canSeek() const { return false; }
    bool canControl() const { return true; }

public slots:
    void Next() { mService->next(); }
    void Previous() { mService->previous(); }
    void Pause() { mService->pause(); }
    void PlayPause() { mService->playPause(); }
    void Stop() { mService->stop(); }
    void Play() { mService->play(); }
    // The deck winds with REW and FFWD; a jump is not offered (CanSeek is false).
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    MPRISService* mService;
};
