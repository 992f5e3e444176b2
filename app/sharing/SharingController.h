#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <variant>

class QMenu;
class QWidget;
class Tape;
class TapeLibraryArrayController;

// One thing being shared: a tape, or a title that goes with it.
using ShareItem = std::variant<std::shared_ptr<Tape>, QString>;
using ShareItems = QList<ShareItem>;

// One entry of the share menu: a title, an image and what it does with the
// items it is performed with.
class SharingService {
public:
    SharingService(QString identifier, QString title, QIcon image,
                   std::function<void(const ShareItems&)> handler);
    const QString& identifier() const { return mIdentifier; }
    const QString& title() const { return mTitle; }
    const QIcon& image() const { return mImage; }
    void perform(const ShareItems& items) const;

private:
    QString mIdentifier;
    QString mTitle;
    QIcon mImage;
    std::function<void(const ShareItems&)> mHandler;
};

// The deck's sharing commands: the share button's menu and the "Sharing"
// submenus of the main menu and the tape menu. The desktop has no service
// picker, so the menus list our own services for the items (mail, a copy on
// the clipboard) and then the custom ones, which act on tapes alone, each
// tape once: the video upload, the movie saved to a file and the music
// library.
class SharingController : public QObject {
    Q_OBJECT

public:
    // `tapeToOperateOn` answers the deck's tape to operate on for a tape (or
    // none): the tape itself, the menu's tape, else the selected tape.
    SharingController(TapeLibraryArrayController* library,
                      std::function<std::shared_ptr<Tape>(const std::shared_ptr<Tape>&)> tapeToOperateOn,
                      QObject* parent = nullptr);

    // Opens the upload window for a tape; without it there is no "YouTube" service.
    void setYouTubeSender(std::function<void(const std::shared_ptr<Tape>&)> sender) {
        mYouTubeSender = std::move(sender);
    }
    // Saves a tape's movie to a file; without it there is no "Save Movie…" service.
    void setMovieSaver(std::function<void(const std::shared_ptr<Tape>&)> saver) {
        mMovieSaver = std::move(saver);
    }

    // The items for tapes: each tape, then its title.
    static ShareItems itemsForTapes(const QList<std::shared_ptr<Tape>>& tapes);

    // The desktop's own services for the items: mail and the clipboard.
    QList<SharingService> sharingServicesForItems(const ShareItems& items) const;
    // "YouTube" (when there is an upload window), "Save Movie…" (when movies
    // can be saved) and "Music Library", in that order, each holding `tapes`
    // and acting on them whatever it is performed with.
    QList<SharingService> createCustomServicesForItems(const QList<std::shared_ptr<Tape>>& tapes);
    // Everything the menus offer for the items and tapes, in menu order.
    QList<SharingService> servicesForTapes(const QList<std::shared_ptr<Tape>>& tapes);

    // Fills `submenu` with one item per service for `tapes`.
    void createSharingSubmenuForMenu(QMenu* submenu, const QList<std::shared_ptr<Tape>>& tapes);
    // The share button's menu for the selected tape, shown under `anchor`
    // (in `sender`'s coordinates). Returns the menu (it deletes itself when
    // closed); nothing when there is no tape.
    QMenu* shareButtonPressed(QWidget* sender, const QRectF& anchor);
    // The rectangle the share menu hangs from: the share button's on the
    // cassette, else the sender's bounds.
    static QRectF anchorRectForSender(QWidget* sender);

    void sendToYouTube(const std::shared_ptr<Tape>& tape);
    void saveMovie(const std::shared_ptr<Tape>& tape);
    void sendToMusicLibrary(const std::shared_ptr<Tape>& tape);

private:
    QPointer<TapeLibraryArrayController> mLibrary;
    std::function<std::shared_ptr<Tape>(const std::shared_ptr<Tape>&)> mTapeToOperateOn;
    std::function<void(const std::shared_ptr<Tape>&)> mYouTubeSender;
    std::function<void(const std::shared_ptr<Tape>&)> mMovieSaver;
};
