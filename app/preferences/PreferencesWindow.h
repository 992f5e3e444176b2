#pragma once

#include <QMainWindow>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolBar;

// The preferences window: a toolbar with three tabs (General, Hot Keys,
// Audio) and one page per tab. Passive: it shows what it is given, and its
// controls' signals are wired by PreferencesController.
class PreferencesWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit PreferencesWindow(QWidget* parent = nullptr);

    // Shows `page` in place of the visible one and fits the window to it; the
    // window's top edge stays where it is.
    void selectAndResizeToView(QWidget* page);
    QWidget* currentlyVisibleView() const { return mCurrentlyVisibleView; }

    QToolBar* mToolbar = nullptr;
    QAction* mPreferencesToolbarItem = nullptr;
    QAction* mHotkeysToolbarItem = nullptr;
    QAction* mAudioToolbarItem = nullptr;
    QWidget* mGeneralSettingsView = nullptr;
    QWidget* mHotkeySettingsView = nullptr;
    QWidget* mAudioSettingsView = nullptr;

    // General
    QLineEdit* mTapeLibraryLocationPathControl = nullptr;
    QPushButton* mChooseTapeLibraryLocationButton = nullptr;
    QCheckBox* mPlaySoundEffectsCheckbox = nullptr;
    QCheckBox* mShowNSStatusItemCheckbox = nullptr;
    QCheckBox* mAutomaticallyCheckForUpdatesCheckbox = nullptr;

    // Hot keys
    QCheckBox* mEnableHotKeysCheckbox = nullptr;
    QLineEdit* mRecordHotKeyTextField = nullptr;
    QLineEdit* mPauseHotKeyTextField = nullptr;
    QLineEdit* mStopHotKeyTextField = nullptr;
    QPushButton* mRecordHotKeyChangeButton = nullptr;
    QPushButton* mPauseHotKeyChangeButton = nullptr;
    QPushButton* mStopHotKeyChangeButton = nullptr;
    QLabel* mHotKeysUnavailableLabel = nullptr;

    // Audio
    QComboBox* mRecordDevicePopUp = nullptr;
    QLabel* mRecordDeviceChannelsLabel = nullptr;
    QComboBox* mRecordDeviceChannelsPopUp = nullptr;
    QComboBox* mPlaybackDevicePopUp = nullptr;
    QCheckBox* mMonitorRecordDeviceCheckbox = nullptr;

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateToolbarIcons();
    QWidget* buildGeneralView();
    QWidget* buildHotkeyView();
    QWidget* buildAudioView();

    QWidget* mCurrentlyVisibleView = nullptr;
};
