#include "app/shell/StatusItem.h"

#include "app/deck/DeckWindow.h"
#include "app/deck/WindowController.h"
#include "app/shell/DeckHotKeys.h"
#include "platform/desktop/UserDefaults.h"

#include <QAction>
#include <QCursor>
#include <QSystemTrayIcon>

#include <cstdio>

static void initShellResources() {
    Q_INIT_RESOURCE(shell);
}

namespace {

const QString kShowNSStatusItem = QStringLiteral("ShowNSStatusItem");
const QString kNormalImage = QStringLiteral("crstatus");
const QString kHighlightedImage = QStringLiteral("crstatus-hilite");
const QString kRecordingImage = QStringLiteral("crstatus-recording");

} // namespace

StatusItem::StatusItem(WindowController& deck, QObject* parent) : QObject(parent), mDeck(deck) {
    initShellResources();
    mStatusItemMenu = new QMenu;
    mRecordItem = mStatusItemMenu->addAction(tr("Record"));
    mPauseItem = mStatusItemMenu->addAction(tr("Pause"));
    mPauseItem->setCheckable(true);
    mStopItem = mStatusItemMenu->addAction(tr("Stop"));
    mStatusItemMenu->addSeparator();
    mShowDeckItem = mStatusItemMenu->addAction(tr("Show Cassora"));
    mStatusItemMenu->addSeparator();
    mQuitItem = mStatusItemMenu->addAction(tr("Quit Cassora"));

    // Triggered, not toggled: the check mark follows the recording, not the click.
    connect(mRecordItem, &QAction::triggered, &mDeck, [this] { mDeck.recordTape(); });
    connect(mPauseItem, &QAction::triggered, &mDeck, [this] {
        refreshStatusItemState();
        mDeck.pauseTape();
    });
    connect(mStopItem, &QAction::triggered, &mDeck, [this] { mDeck.stopTape(); });
    connect(mShowDeckItem, &QAction::triggered, this, &StatusItem::activateApp);
    connect(mQuitItem, &QAction::triggered, &mDeck, [this] { mDeck.window()->close(); });
    // The menu's keys are the global hot keys; they act from anywhere, so
    // the menu only names them.
    for (QAction* item : {mRecordItem, mPauseItem, mStopItem}) {
        item->setShortcutContext(Qt::WidgetShortcut);
    }
    connect(mStatusItemMenu, &QMenu::aboutToShow, this, [this] {
        mRestingImageName = mImageName;
        setImage(kHighlightedImage);
    });
    connect(mStatusItemMenu, &QMenu::aboutToHide, this, [this] {
        if (mImageName == kHighlightedImage) {
            setImage(mRestingImageName);
        }
    });
    connect(&mDeck, &WindowController::recordingStateChanged, this, [this] {
        refreshStatusItemState();
        refreshImage();
    });
    refreshStatusItemState();
}

StatusItem::~StatusItem() {
    removeStatusItem();
    delete mStatusItemMenu;
}

void StatusItem::startObservingDefaults() {
    UserDefaults::standard().observe(
        kShowNSStatusItem, this,
        [this](const QVariant& show) {
            if (show.toBool()) {
                installStatusItem();
            } else {
                removeStatusItem();
            }
        },
        true);
}

QIcon StatusItem::image(const QString& name) {
    initShellResources();
    return QIcon(QStringLiteral(":/cassora/status/%1.svg").arg(name));
}

void StatusItem::installStatusItem() {
    if (mStatusItem) {
        return;
    }
    mStatusItem = new QSystemTrayIcon(this);
    mStatusItem->setToolTip(tr("Cassora"));
    mStatusItem->setContextMenu(mStatusItemMenu);
    connect(mStatusItem, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A click opens the menu too, as the right button does.
                if (reason == QSystemTrayIcon::Trigger) {
                    mStatusItemMenu->popup(QCursor::pos());
                }
            });
    refreshImage();
    mStatusItem->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable() && !mReportedNoTray) {
        mReportedNoTray = true;
        std::fprintf(stderr, "(ERROR) StatusItem : %s\n",
                     tr("The desktop shows no status area; the status item appears once it "
                        "does.")
                         .toLocal8Bit()
                         .constData());
    }
}

void StatusItem::removeStatusItem() {
    if (!mStatusItem) {
        return;
    }
    mStatusItem->hide();
    delete mStatusItem;
    mStatusItem = nullptr;
}

void StatusItem::refreshStatusItemState() {
    mPauseItem->setChecked(mDeck.isRecordingPaused());
}

void StatusItem::refreshImage() {
    setImage(mDeck.audioFileRecorder() ? kRecordingImage : kNormalImage);
}

void StatusItem::setImage(const QString& name) {
    mImageName = name;
    if (mStatusItem) {
        mStatusItem->setIcon(image(name));
    }
}

void StatusItem::setKeyEquivalents(const DeckHotKeys& hotKeys) {
    const std::pair<QAction*, const char*> items[] = {
        {mRecordItem, "Record"}, {mPauseItem, "Pause"}, {mStopItem, "Stop"}};
    for (const auto& [item, identifier] : items) {
        const PTHotKey* hotKey = hotKeys.hotKey(QLatin1String(identifier));
        item->setShortcut(hotKey ? hotKey->keyCombo().keySequence() : QKeySequence());
    }
}

void StatusItem::activateApp() {
    DeckWindow* window = mDeck.window();
    window->show();
    window->raise();
    window->activateWindow();
}
