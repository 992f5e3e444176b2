#pragma once

#include "audio/hardware/VELKAudioDevice.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class PreferencesWindow;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class UserDefaults;

// Posts the two device notices. One process-wide object, so that every
// controller (and the deck) hears what either preferences controller posts.
class PreferencesNotifier : public QObject {
    Q_OBJECT

public:
    static PreferencesNotifier& instance();

    static constexpr const char* kRecordDeviceChangedNotificationName =
        "CassoraRecordDeviceChangedNotificationName";
    static constexpr const char* kRecordDeviceChannelsChangedNotificationName =
        "CassoraRecordDeviceChannelsChangedNotificationName";

signals:
    void recordDeviceChanged();
    void recordDeviceChannelsChanged();

private:
    PreferencesNotifier() = default;
};

// Owns the preferences window and answers the program's questions about the
// user's settings: the recording device and its channels, the playback
// device, the switches and the library folder. Every setting lives in
// UserDefaults::standard(); answers are read at the moment of the call.
// Main thread only.
class PreferencesController : public QObject {
    Q_OBJECT

public:
    // Once per process, before anything reads the defaults: counts the launch,
    // registers this controller's defaults, makes the default library folder
    // ("Cassora" in the music folder) with its icon and the welcome tape.
    // Calling it again does nothing.
    static void initializeClass();
    // One launch's worth of the above on `defaults`, every time it is called.
    static void initializeDefaults(UserDefaults& defaults);
    // The welcome tape copied into a new library folder; the application's
    // resource ":/cassora/cr-welcome.m4a" unless told otherwise.
    static void setWelcomeTapeSource(const QString& path);
    static QString welcomeTapeSource();
    // Shows an error to the user. The default logs it and opens a message box
    // that does not block (one per text at a time).
    static void setErrorPresenter(std::function<void(const QString&)> presenter);
    static void presentError(const QString& message);

    static PreferencesController& sharedInstance();

    // The device that the UID stored under `key` names, when it is still there
    // and has channels in `direction`; else the system default device of that
    // direction. nullptr without a server or a device.
    static std::shared_ptr<VELKAudioDevice> storedAudioDevice(const QString& key,
                                                              int32_t direction);

    explicit PreferencesController(QObject* parent = nullptr);
    ~PreferencesController() override;

    bool playSoundEffects() const;
    bool showNSStatusItem() const;
    bool enableHotKeys() const;
    // The stored device when it is there; the system default otherwise (also
    // when the stored one has gone). nullptr without a server or a device.
    std::shared_ptr<VELKAudioDevice> recordingAudioDevice() const;
    std::shared_ptr<VELKAudioDevice> playbackAudioDevice() const;
    // Zero-based device channels: two in stereo, one in mono, always ones the
    // recording device has. A stored list that does not fit falls back to the
    // first channels.
    std::vector<int32_t> recordingAudioDeviceChannels() const;
    bool recordingIsStereo() const;

    // The library folder's absolute path; empty when it cannot be resolved.
    QString tapeLibraryURL() const;
    // Makes `folder` the library folder. A folder that is missing or that the
    // user cannot write to is refused: false, with the reason in `error`.
    bool setTapeLibraryFolder(const QString& folder, QString* error = nullptr);

    // Forgets stored devices that are no longer there and rebuilds the
    // device pop-ups. Called when the device list or the default input changes.
    void checkDefaultAudioDevices();

    void showWindow();
    QWidget* window();
    QWidget* currentlyVisibleView();
    void selectPreferencesTab();
    void selectHotkeysTab();
    void selectAudioTab();

    // The window's controls (the window is made on first use).
    QComboBox* recordDevicePopUp();
    QLabel* recordDeviceChannelsLabel();
    QComboBox* recordDeviceChannelsPopUp();
    QComboBox* playbackDevicePopUp();
    QCheckBox* monitorRecordDeviceCheckbox();
    QLineEdit* tapeLibraryLocationPathControl();
    QPushButton* chooseTapeLibraryLocationButton();
    QCheckBox* playSoundEffectsCheckbox();
    QCheckBox* showNSStatusItemCheckbox();
    QCheckBox* automaticallyCheckForUpdatesCheckbox();
    QCheckBox* enableHotKeysCheckbox();
    QLineEdit* recordHotKeyTextField();
    QLineEdit* pauseHotKeyTextField();
    QLineEdit* stopHotKeyTextField();
    QPushButton* recordHotKeyChangeButton();
    QPushButton* pauseHotKeyChangeButton();
    QPushButton* stopHotKeyChangeButton();
    QLabel* hotKeysUnavailableLabel();

    // The stored combinations, as plists ("keyCode", "modifiers").
    QVariantMap recordHotKeyCombo() const;
    QVariantMap pauseHotKeyCombo() const;
    QVariantMap stopHotKeyCombo() const;
    void setRecordHotKeyCombo(const QVariantMap& plist);
    void setPauseHotKeyCombo(const QVariantMap& plist);
    void setStopHotKeyCombo(const QVariantMap& plist);

public slots:
    // The audio page's actions, run when the user picks an item.
    void recordDeviceChanged();
    void recordDeviceChannelsChanged();
    void playbackDeviceChanged();
    // Asks for a folder and makes it the library folder.
    void chooseTapeLibraryFolder();
    // The Hot Keys page's Change… buttons: the key-combination panel, as a
    // sheet on the preferences window, asks for the new combination.
    void changeRecordHotkey();
    void changePauseHotkey();
    void changeStopHotkey();
    // The panel has ended: on code 1 its combination is stored for the hot
    // key it was shown for.
    void hotKeySheetDidEndWithReturnCode(int code);

signals:
    void tapeLibraryURLChanged(const QString& path);

private:
    void loadWindow();
    void bindCheckBox(QCheckBox* box, const QString& key);
    void bindHotKeyField(QLineEdit* field, const QString& key);
    void populateRecordDevicePopUp();
    void populatePlaybackDevicePopUp();
    void populateRecordDeviceChannelsPopUp();
    void selectStoredChannels();
    void showTapeLibraryLocation();
    void recordingIsStereoDidChange();
    void tapeLibraryLocationDidChange(const QVariant& stored);
    void runHotKeyPanel(const QString& bindingName, const QString& key);

    QPointer<PreferencesWindow> mWindow;
    mutable std::mutex mTapeLibraryURLLock;
    QString mTapeLibraryURL;
    // The binding the key-combination panel was last shown for.
    QString mHotKeyBindingName;
};
