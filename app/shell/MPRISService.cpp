#include "app/shell/MPRISService.h"

#include "app/deck/DeckWindow.h"
#include "app/deck/WindowController.h"
#include "app/library/Tape.h"
#include "app/shell/DeckInstance.h"
#include "app/transport/Cassora_sm.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// How often the deck's state is compared with what was announced.
constexpr int kWatchIntervalMs = 250;

enum class DeckStatus { Stopped, Playing, Paused, Busy };

DeckStatus deckStatus(const WindowController& deck) {
    if (deck.transport().isInTransition()) {
        return DeckStatus::Busy;
    }
    const WindowControllerState* state = &deck.transport().state();
    if (state == TapeMap::Paused()) {
        return DeckStatus::Paused;
    }
    if (state == TapeMap::Recording()) {
        return deck.isRecordingPaused() ? DeckStatus::Paused : DeckStatus::Playing;
    }
    if (state == TapeMap::Playing() || state == TapeMap::Cueing() ||
        state == TapeMap::Reviewing()) {
        return DeckStatus::Playing;
    }
    return DeckStatus::Stopped;
}

} // namespace

MPRISRootAdaptor::MPRISRootAdaptor(MPRISService* service, QObject* object)
    : QDBusAbstractAdaptor(object), mService(service) {}

MPRISPlayerAdaptor::MPRISPlayerAdaptor(MPRISService* service, QObject* object)
    : QDBusAbstractAdaptor(object), mService(service) {}

MPRISService::MPRISService(WindowController& deck, QObject* parent) : QObject(parent), mDeck(deck) {
    new MPRISRootAdaptor(this, this);
    new MPRISPlayerAdaptor(this, this);
    mWatch.setInterval(kWatchIntervalMs);
    connect(&mWatch, &QTimer::timeout, this, &MPRISService::announceChanges);
}

MPRISService::~MPRISService() {
    if (mRegistered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QLatin1String(kObjectPath));
        bus.unregisterService(QLatin1String(kServiceName));
    }
    if (!mCoverArtFile.isEmpty()) {
        QFile::remove(mCoverArtFile);
    }
}

bool MPRISService::registerOnSessionBus(QString* error) {
    // A session without a bus has no media controls to offer anyway.
    if (!DeckInstance::sessionBusIsThere()) {
        if (error) {
            *error = tr("There is no session bus.");
        }
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (error) {
            *error = tr("There is no session bus: %1").arg(bus.lastError().message());
        }
        return false;
    }
    if (!bus.registerObject(QLatin1String(kObjectPath), this, QDBusConnection::ExportAdaptors)) {
        if (error) {
            *error = tr("The media player object cannot be published: %1")
                         .arg(bus.lastError().message());
        }
        return false;
    }
    if (!bus.registerService(QLatin1String(kServiceName))) {
        if (error) {
            *error = tr("The bus name %1 is taken (is another Cassora running?)")
                         .arg(QLatin1String(kServiceName));
        }
        bus.unregisterObject(QLatin1String(kObjectPath));
        return false;
    }
    mRegistered = true;
    mAnnouncedStatus = playbackStatus();
    mAnnouncedMetadata = metadata();
    mWatch.start();
    return true;
}

QString MPRISService::playbackStatus() const {
    switch (deckStatus(mDeck)) {
    case DeckStatus::Playing:
        return QStringLiteral("Playing");
    case DeckStatus::Paused:
        return QStringLiteral("Paused");
    case DeckStatus::Busy:
        return mAnnouncedStatus.isEmpty() ? QStringLiteral("Stopped") : mAnnouncedStatus;
    case DeckStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MPRISService::metadata() const {
    const std::shared_ptr<Tape> tape = mDeck.selectedTape();
    if (!tape || tape->filename().isEmpty()) {
        return {
            {QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack"))}};
    }
    // Object paths take letters, digits and underscores only.
    const QByteArray id =
        QCryptographicHash::hash(tape->filename().toUtf8(), QCryptographicHash::Sha1).toHex();
    QVariantMap map{
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/cassora/Cassora/Tape/T") +
                                             QString::fromLatin1(id)))},
        {QStringLiteral("xesam:title"), tape->title()},
        {QStringLiteral("xesam:url"), QUrl::fromLocalFile(tape->filename()).toString()},
        {QStringLiteral("mpris:length"), static_cast<qlonglong>(tape->duration() * 1e6)},
    };
    if (!tape->artist().isEmpty()) {
        map.insert(QStringLiteral("xesam:artist"), QStringList{tape->artist()});
    }
    if (const QString art = coverArtURL(); !art.isEmpty()) {
        map.insert(QStringLiteral("mpris:artUrl"), art);
    }
    return map;
}

QString MPRISService::coverArtURL() const {
    const std::shared_ptr<Tape> tape = mDeck.selectedTape();
    if (!tape) {
        return {};
    }
    // The cassette as it looks now, redrawn when its label changes.
    const QString key = tape->filename() + QLatin1Char('\n') + tape->title() + QLatin1Char('\n') +
                        tape->artist() + QLatin1Char('\n') +
                        (tape->tapeLetter() ? tape->tapeLetter()->letter() : QString());
    if (key != mCoverArtTape) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (!QDir().mkpath(folder)) {
            return {};
        }
        if (!mCoverArtFile.isEmpty()) {
            QFile::remove(mCoverArtFile);
        }
        mCoverArtFile = QDir(folder).filePath(
            QStringLiteral("mpris-cover-%1.png")
                .arg(QString::fromLatin1(
                    QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex())));
        const QImage art = Tape::renderCoverArt(*tape);
        if (art.isNull() || !art.save(mCoverArtFile, "PNG")) {
            mCoverArtFile.clear();
        }
        mCoverArtTape = key;
    }
    return mCoverArtFile.isEmpty() ? QString() : QUrl::fromLocalFile(mCoverArtFile).toString();
}

qlonglong MPRISService::position() const {
    return 0;
}

bool MPRISService::canPlay() const {
    return mDeck.selectedTape() != nullptr;
}

void MPRISService::play() {
    switch (deckStatus(mDeck)) {
    case DeckStatus::Paused:
        mDeck.pauseTape(); // releases PAUSE
        break;
    case DeckStatus::Stopped:
        mDeck.playTape();
        break;
    case DeckStatus::Playing:
    case DeckStatus::Busy:
        break;
    }
}

void MPRISService::pause() {
    if (deckStatus(mDeck) == DeckStatus::Playing) {
        mDeck.pauseTape();
    }
}

void MPRISService::playPause() {
    if (deckStatus(mDeck) == DeckStatus::Playing) {
        pause();
    } else {
        play();
    }
}

void MPRISService::stop() {
    mDeck.stopTape();
}

void MPRISService::next() {
    mDeck.nextTape();
}

void MPRISService::previous() {
    mDeck.previousTape();
}

void MPRISService::raise() {
    mDeck.raiseWindow();
}

void MPRISService::quit() {
    mDeck.window()->close();
}

void MPRISService::announceChanges() {
    if (!mRegistered) {
        return;
    }
    QVariantMap changed;
    const QString status = playbackStatus();
    if (status != mAnnouncedStatus) {
        changed.insert(QStringLiteral("PlaybackStatus"), status);
        mAnnouncedStatus = status;
    }
    const QVariantMap data = metadata();
    if (data != mAnnouncedMetadata) {
        changed.insert(QStringLiteral("Metadata"), data);
        changed.insert(QStringLiteral("CanPlay"), canPlay());
        mAnnouncedMetadata = data;
    }
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}
