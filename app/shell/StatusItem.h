#pragma once

#include "app/hotkeys/PTKeyCombo.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>

class DeckHotKeys;
class QAction;
class QSystemTrayIcon;
class WindowController;

// The deck's status item: a small cassette in the desktop's status area
// (the system tray) whose menu records, pauses and stops without bringing
// the window forward, shows the global hot keys, and checks Pause while a
// recording is paused. Its image shows a recording while the deck records.
// It follows the setting "ShowNSStatusItem".
class StatusItem : public QObject {
    Q_OBJECT

public:
    explicit StatusItem(WindowController& deck, QObject* parent = nullptr);
    ~StatusItem() override;

    // Installs or removes the item as the setting says, now and on every change.
    void startObservingDefaults();

    // Creates the item when there is none.
    void installStatusItem();
    // Removes the item from the status area.
    void removeStatusItem();
    bool isInstalled() const { return mStatusItem != nullptr; }
    QSystemTrayIcon* trayIcon() const { return mStatusItem; }

    // The pause item's check mark follows the paused recording.
    void refreshStatusItemState();
    // The image follows the deck: "crstatus-recording" while it records,
    // else "crstatus".
    void refreshImage();
    // Shows the hot keys' combinations beside the transport items.
    void setKeyEquivalents(const DeckHotKeys& hotKeys);

    // "crstatus", "crstatus-hilite" or "crstatus-recording"; empty when the
    // item is not installed.
    QString imageName() const { return mStatusItem ? mImageName : QString(); }
    static QIcon image(const QString& name);

    QMenu* menu() const { return mStatusItemMenu; }
    QAction* recordItem() const { return mRecordItem; }
    QAction* pauseItem() const { return mPauseItem; }
    QAction* stopItem() const { return mStopItem; }
    QAction* showDeckItem() const { return mShowDeckItem; }

public slots:
    // Brings the deck window to the front.
    void activateApp();

private:
    void setImage(const QString& name);

    WindowController& mDeck;
    QPointer<QMenu> mStatusItemMenu;
    QAction* mRecordItem = nullptr;
    QAction* mPauseItem = nullptr;
    QAction* mStopItem = nullptr;
    QAction* mShowDeckItem = nullptr;
    QAction* mQuitItem = nullptr;
    QSystemTrayIcon* mStatusItem = nullptr;
    QString mImageName;
    QString mRestingImageName;
    bool mReportedNoTray = false;
};
