#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>

class CassoraSoftwarePlayThroughManager;
class AboutController;
class MPRISService;
class PreferencesController;
class QAction;
class QMenuBar;
class SharingController;
class WindowController;

// Opens the release page when asked to check for updates. Cassora has no
// updater of its own: a person decides when to install a new version.
class SUUpdater : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    static QString releasePageURL();

public slots:
    void checkForUpdates();
};

// The application delegate: brings the deck up (preferences and their
// defaults, interrupted recordings recovered, the deck window and its
// menus), keeps the quality and channel menus in step with the settings, and
// takes the deck down again when its window closes.
class AppController : public QObject {
    Q_OBJECT

public:
    explicit AppController(QObject* parent = nullptr);
    ~AppController() override;

    // Start-up in its order; `filesToOpen` are tapes named on the command
    // line, imported into the library once the deck is up.
    void start(const QStringList& filesToOpen = {});

    WindowController* windowController() const { return mWindowController.get(); }
    PreferencesController* preferencesController() const { return mPreferencesController; }
    CassoraSoftwarePlayThroughManager* softwarePlaythroughManager() const {
        return mSoftwarePlaythroughManager.get();
    }
    QMenu* tapeMenu() const { return mTapeMenu; }
    SharingController* sharingController() const { return mSharingController; }
    QString soundFilePath() const;

    // Tapes opened from the desktop or the command line go into the library.
    void openFiles(const QStringList& paths);

    // Feedback mail: "mailto:ADDRESS?SUBJECT=...&BODY=..." with the version
    // and the system.
    static QString feedbackURL();
    static QString versionString();
    // PRETTY_NAME of the system's os-release, read once.
    static QString currentSystemVersionString();

    QAction* qualityMenuItem(int index) const;
    QAction* stereoMenuItem() const { return mStereoMenuItem; }
    // Record, Play, Rewind, Fast Forward, Stop and Pause, in segment order.
    const QList<QAction*>& transportMenuItems() const { return mTransportMenuItems; }
    // The transport items name the keys as the keyboard layout labels them
    // now (done whenever their menu opens).
    void nameTransportKeys();
    QAction* monoMenuItem() const { return mMonoMenuItem; }

    AboutController* aboutController() const { return mAboutController; }
    MPRISService* mprisService() const { return mMPRISService.get(); }

public slots:
    void showPreferences();
    // Made on first use and kept.
    void showAbout();
    void sendFeedback();
    void setRecordingQuality(int index);
    void updateQualityMenu();
    void setRecordingChannelCount(bool stereo);
    void updateChannelMenu();
    // Closes the deck, which stops the transport, finishes a recording and
    // commits every tape; the application then quits.
    void quit();

private:
    void buildMainMenu(QMenuBar* bar);
    void buildTapeMenu();
    void setUpSharing();
    void validateTapeCommands(QMenu* menu);
    void validateAllTapeCommands();
    void recoverInterruptedRecordings();

    PreferencesController* mPreferencesController = nullptr;
    std::unique_ptr<WindowController> mWindowController;
    std::unique_ptr<CassoraSoftwarePlayThroughManager> mSoftwarePlaythroughManager;
    SUUpdater* mSparkleUpdater = nullptr;
    QPointer<QMenu> mTapeMenu;
    QList<QAction*> mQualityMenuItems;
    QAction* mStereoMenuItem = nullptr;
    QAction* mMonoMenuItem = nullptr;
    QAction* mCheckForUpdatesMenuItem = nullptr;
    QList<QAction*> mTapeCommandItems;
    // Items that act on the tape in the deck itself (its label).
    QList<QAction*> mDeckTapeItems;
    QList<QAction*> mTransportMenuItems;
    SharingController* mSharingController = nullptr;
    AboutController* mAboutController = nullptr;
    std::unique_ptr<MPRISService> mMPRISService;
};
