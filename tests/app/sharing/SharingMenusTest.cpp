#include "app/deck/AppController.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/WindowController.h"
#include "platform/audio/MainQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QMenu* submenuNamed(const QList<QAction*>& actions, const QString& title) {
    for (QAction* action : actions) {
        if (action->text() == title && action->menu()) {
            return action->menu();
        }
    }
    return nullptr;
}

QStringList titles(const QMenu* menu) {
    QStringList result;
    for (const QAction* action : menu->actions()) {
        result << action->text();
    }
    return result;
}

} // namespace

// The whole deck, as the program starts it, against the private audio
// server: the "Sharing" submenus of the Tape menu and of the tape menu.
TEST(SharingMenus, TheDecksTapeMenusOfferSharingForTheirTape) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toLocal8Bit());
    MainQueue::setDispatcher([](MainQueue::Job job) {
        QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
    });
    {
        AppController application;
        application.start();
        WindowController* deck = application.windowController();
        // A new library starts with the welcome tape, selected.
        QElapsedTimer timer;
        timer.start();
        while (!deck->selectedTape() && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_TRUE(deck->selectedTape());

        QMenu* tapeMenu = submenuNamed(deck->window()->menuBar()->actions(), "&Tape");
        ASSERT_NE(tapeMenu, nullptr);
        QMenu* sharing = submenuNamed(tapeMenu->actions(), "Sharing");
        ASSERT_NE(sharing, nullptr);
        emit tapeMenu->aboutToShow();
        EXPECT_EQ(titles(sharing),
                  QStringList({"Email", "Copy", "YouTube", "Save Movie…", "Music Library"}));
        EXPECT_TRUE(sharing->menuAction()->isEnabled());

        QStringList contextItems = titles(application.tapeMenu());
        contextItems.removeAll(QString());
        EXPECT_EQ(contextItems, QStringList({"Reveal Tape in File Manager", "Move Tape to Trash",
                                             "Email Tape…", "Copy Tape to Music Library",
                                             "Send to YouTube…", "Save Movie…", "Sharing"}));
        QMenu* contextSharing = submenuNamed(application.tapeMenu()->actions(), "Sharing");
        ASSERT_NE(contextSharing, nullptr);
        emit application.tapeMenu()->aboutToShow();
        EXPECT_EQ(titles(contextSharing),
                  QStringList({"Email", "Copy", "YouTube", "Save Movie…", "Music Library"}));
        deck->windowWillClose();
    }
    MainQueue::setDispatcher(nullptr);
}
