#include "app/sharing/SharingController.h"

#include "app/deck/TapeView.h"
#include "app/library/Tape.h"
#include "app/library/TapeLibraryArrayController.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QUrl>
#include <QWidget>

namespace {

// The video service's mark: a red rounded screen with a white play triangle.
QIcon youTubeShareImage() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xe6, 0x21, 0x17));
    painter.drawRoundedRect(QRectF(2, 12, 60, 40), 12, 12);
    painter.setBrush(Qt::white);
    const QPointF triangle[] = {{26, 22}, {26, 42}, {43, 32}};
    painter.drawPolygon(triangle, 3);
    return QIcon(pixmap);
}

QList<std::shared_ptr<Tape>> tapesIn(const ShareItems& items) {
    QList<std::shared_ptr<Tape>> tapes;
    for (const ShareItem& item : items) {
        if (const auto* tape = std::get_if<std::shared_ptr<Tape>>(&item); tape && *tape) {
            tapes << *tape;
        }
    }
    return tapes;
}

QStringList textsIn(const ShareItems& items) {
    QStringList texts;
    for (const ShareItem& item : items) {
        if (const auto* text = std::get_if<QString>(&item)) {
            texts << *text;
        }
    }
    return texts;
}

} // namespace

SharingService::SharingService(QString identifier, QString title, QIcon image,
                               std::function<void(const ShareItems&)> handler)
    : mIdentifier(std::move(identifier)),
      mTitle(std::move(title)),
      mImage(std::move(image)),
      mHandler(std::move(handler)) {}

void SharingService::perform(const ShareItems& items) const {
    if (mHandler) {
        mHandler(items);
    }
}

SharingController::SharingController(
    TapeLibraryArrayController* library,
    std::function<std::shared_ptr<Tape>(const std::shared_ptr<Tape>&)> tapeToOperateOn,
    QObject* parent)
    : QObject(parent), mLibrary(library), mTapeToOperateOn(std::move(tapeToOperateOn)) {}

ShareItems SharingController::itemsForTapes(const QList<std::shared_ptr<Tape>>& tapes) {
    ShareItems items;
    for (const auto& tape : tapes) {
        if (tape) {
            items << ShareItem(tape) << ShareItem(tape->title());
        }
    }
    return items;
}

QList<SharingService> SharingController::sharingServicesForItems(const ShareItems& items) const {
    QList<SharingService> services;
    if (tapesIn(items).isEmpty()) {
        return services;
    }
    QPointer<TapeLibraryArrayController> library = mLibrary;
    services << SharingService(QStringLiteral("mail"), tr("Email"),
                               QIcon::fromTheme(QStringLiteral("mail-message-new")),
                               [library](const ShareItems& shared) {
                                   if (!library) {
                                       return;
                                   }
                                   for (const auto& tape : tapesIn(shared)) {
                                       library->emailTape(*tape);
                                   }
                               });
    // The clipboard gets the tapes as files (what a file manager pastes)
    // and their titles as text.
    services << SharingService(QStringLiteral("copy"), tr("Copy"),
                               QIcon::fromTheme(QStringLiteral("edit-copy")),
                               [](const ShareItems& shared) {
                                   auto* data = new QMimeData;
                                   QList<QUrl> urls;
                                   for (const auto& tape : tapesIn(shared)) {
                                       urls << QUrl::fromLocalFile(tape->filename());
                                   }
                                   data->setUrls(urls);
                                   // What GNOME's and other file managers paste.
                                   QByteArray copied = "copy";
                                   for (const QUrl& url : urls) {
                                       copied += '\n' + url.toEncoded();
                                   }
                                   data->setData(QStringLiteral("x-special/gnome-copied-files"), copied);
                                   data->setText(textsIn(shared).join(QLatin1Char('\n')));
                                   QGuiApplication::clipboard()->setMimeData(data);
                               });
    return services;
}

QList<SharingService>
SharingController::createCustomServicesForItems(const QList<std::shared_ptr<Tape>>& tapes) {
    QList<SharingService> services;
    QPointer<SharingController> self = this;
    if (mYouTubeSender) {
        services << SharingService(QStringLiteral("youtube"), tr("YouTube"),
                                   youTubeShareImage(),
                                   [self, tapes](const ShareItems&) {
                                       for (const auto& tape : tapes) {
                                           if (self && tape) {
                                               self->sendToYouTube(tape);
                                           }
                                       }
                                   });
    }
    if (mMovieSaver) {
        services << SharingService(QStringLiteral("save-movie"), tr("Save Movie…"),
                                   QIcon::fromTheme(QStringLiteral("video-x-generic")),
                                   [self, tapes](const ShareItems&) {
                                       for (const auto& tape : tapes) {
                                           if (self && tape) {
                                               self->saveMovie(tape);
                                           }
                                       }
                                   });
    }
    services << SharingService(QStringLiteral("music-library"), tr("Music Library"),
                               QIcon::fromTheme(QStringLiteral("folder-music")),
                               [self, tapes](const ShareItems&) {
                                   for (const auto& tape : tapes) {
                                       if (self && tape) {
                                           self->sendToMusicLibrary(tape);
                                       }
                                   }
                               });
    return services;
}

QList<SharingService>
SharingController::servicesForTapes(const QList<std::shared_ptr<Tape>>& tapes) {
    return sharingServicesForItems(itemsForTapes(tapes)) + createCustomServicesForItems(tapes);
}

void SharingController::createSharingSubmenuForMenu(QMenu* submenu,
                                                    const QList<std::shared_ptr<Tape>>& tapes) {
    if (!submenu) {
        return;
    }
    submenu->clear();
    const ShareItems items = itemsForTapes(tapes);
    for (const SharingService& service : servicesForTapes(tapes)) {
        QAction* item = submenu->addAction(service.image(), service.title());
        item->setEnabled(true);
        connect(item, &QAction::triggered, this, [service, items] { service.perform(items); });
    }
}

QRectF SharingController::anchorRectForSender(QWidget* sender) {
    if (!sender) {
        return {};
    }
    if (auto* tapeView = qobject_cast<TapeView*>(sender)) {
        return tapeView->shareButtonRect();
    }
    return QRectF(sender->rect());
}

QMenu* SharingController::shareButtonPressed(QWidget* sender, const QRectF& anchor) {
    const std::shared_ptr<Tape> tape = mTapeToOperateOn ? mTapeToOperateOn(nullptr) : nullptr;
    if (!tape) {
        return nullptr;
    }
    auto* menu = new QMenu(sender);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    createSharingSubmenuForMenu(menu, {tape});
    if (sender) {
        // Hangs from the anchor's bottom edge.
        menu->popup(sender->mapToGlobal(anchor.bottomLeft().toPoint()));
    }
    return menu;
}

void SharingController::sendToYouTube(const std::shared_ptr<Tape>& tape) {
    const std::shared_ptr<Tape> target = mTapeToOperateOn ? mTapeToOperateOn(tape) : tape;
    if (target && mYouTubeSender) {
        mYouTubeSender(target);
    }
}

void SharingController::saveMovie(const std::shared_ptr<Tape>& tape) {
    const std::shared_ptr<Tape> target = mTapeToOperateOn ? mTapeToOperateOn(tape) : tape;
    if (target && mMovieSaver) {
        mMovieSaver(target);
    }
}

void SharingController::sendToMusicLibrary(const std::shared_ptr<Tape>& tape) {
    const std::shared_ptr<Tape> target = mTapeToOperateOn ? mTapeToOperateOn(tape) : tape;
    if (target && mLibrary) {
        mLibrary->sendTapeToiTunes(*target);
    }
}
