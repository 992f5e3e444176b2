#include "app/preferences/PreferencesController.h"

#include "app/hotkeys/PTHotKeyCenter.h"
#include "app/hotkeys/PTKeyComboPanel.h"
#include "app/preferences/HotKeyText.h"
#include "app/preferences/LibraryFolder.h"
#include "app/preferences/PreferencesWindow.h"
#include "app/preferences/VELKSecurityScopedBookmarkValueTransformer.h"
#include "audio/format/InternalInconsistencyException.h"
#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "platform/desktop/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTemporaryFile>

#include <QDir>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// Keys of the defaults this controller reads and writes.
const QString kRecordingIsStereo = QStringLiteral("RecordingIsStereo");
const QString kRecordDeviceUID = QStringLiteral("RecordDeviceUID");
const QString kRecordDeviceChannels = QStringLiteral("RecordDeviceChannels");
const QString kPlaybackDeviceUID = QStringLiteral("PlaybackDeviceUID");
const QString kPlaySoundEffects = QStringLiteral("PlaySoundEffects");
const QString kShowNSStatusItem = QStringLiteral("ShowNSStatusItem");
const QString kEnableHotKeys = QStringLiteral("EnableHotKeys");
const QString kLockRecordingSampleRate = QStringLiteral("CRLockRecordingSampleRate");
const QString kTapeLibraryLocation = QStringLiteral("TapeLibraryLocation");
const QString kRecordHotKey = QStringLiteral("RecordHotKey");
const QString kPauseHotKey = QStringLiteral("PauseHotKey");
const QString kStopHotKey = QStringLiteral("StopHotKey");
const QString kLaunchCount = QStringLiteral("LaunchCount");
const QString kCheckAtStartup = QStringLiteral("SUCheckAtStartup");
const QString kEnableSoftwarePlaythrough = QStringLiteral("EnableSoftwarePlaythrough");

QString& welcomeTapeSourcePath() {
    static QString path = QStringLiteral(":/cassora/cr-welcome.m4a");
    return path;
}

std::function<void(const QString&)>& errorPresenter() {
    static std::function<void(const QString&)> presenter;
    return presenter;
}

void logError(const QString& message) {
    std::fprintf(stderr, "(ERROR) PreferencesController : %s\n", message.toUtf8().constData());
}

// The stored channel list as integers; nothing when it is not a list of
// whole numbers. Settings files give numbers back as text.
std::optional<std::vector<int32_t>> storedChannels() {
    const QVariant stored = UserDefaults::standard().value(kRecordDeviceChannels);
    if (!stored.isValid() || !stored.canConvert<QVariantList>()) {
        return std::nullopt;
    }
    std::vector<int32_t> channels;
    for (const QVariant& entry : stored.toList()) {
        bool ok = false;
        const int channel = entry.toInt(&ok);
        if (!ok) {
            return std::nullopt;
        }
        channels.push_back(channel);
    }
    return channels;
}

QVariantList variantList(const std::vector<int32_t>& channels) {
    QVariantList list;
    for (const int32_t channel : channels) {
        list << channel;
    }
    return list;
}

std::vector<int32_t> channelsOf(const QVariant& item) {
    std::vector<int32_t> channels;
    for (const QVariant& entry : item.toList()) {
        channels.push_back(entry.toInt());
    }
    return channels;
}

uint32_t inputChannelCount(const std::shared_ptr<VELKAudioDevice>& device) {
    if (!device) {
        return 0;
    }
    try {
        return device->numberOfChannelsForDirection(kVELKAudioDirectionInput);
    } catch (const NSXException&) {
        return 0; // gone meanwhile
    }
}

} // namespace

std::shared_ptr<VELKAudioDevice> PreferencesController::storedAudioDevice(const QString& key,
                                                                          int32_t direction) {
    try {
        const QString uid = UserDefaults::standard().stringForKey(key);
        if (!uid.isEmpty()) {
            auto device = VELKAudioDevice::withDeviceUID(uid.toStdString());
            if (device && device->numberOfChannelsForDirection(direction) > 0) {
                return device;
            }
        }
        const AudioDeviceID fallback = direction == kVELKAudioDirectionInput
                                           ? VELKAudioHardware::defaultInputDeviceID()
                                           : VELKAudioHardware::defaultOutputDeviceID();
        return fallback ? VELKAudioDevice::withDeviceID(fallback) : nullptr;
    } catch (const NSXException&) {
        return nullptr; // no audio server
    }
}

namespace {

// The UIDs of `devices`; nothing when the list cannot be read.
std::optional<QStringList>
deviceUIDs(const std::function<std::vector<std::shared_ptr<VELKAudioDevice>>()>& devices) {
    try {
        QStringList uids;
        for (const auto& device : devices()) {
            try {
                uids << QString::fromStdString(device->deviceUID());
            } catch (const NSXException&) {
                // removed while being listed
            }
        }
        return uids;
    } catch (const NSXException&) {
        return std::nullopt;
    }
}

// Selects the device stored under `key`; the automatic item when it is not
// listed (or none is stored).
void selectStoredDevice(QComboBox* popUp, const QString& key) {
    const QSignalBlocker blocker(popUp);
    const QString stored = UserDefaults::standard().stringForKey(key);
    const int index = stored.isEmpty() ? -1 : popUp->findData(stored);
    popUp->setCurrentIndex(index >= 0 ? index : 0);
}

void populateDevicePopUp(QComboBox* popUp, const QString& automaticTitle,
                         const std::function<std::vector<std::shared_ptr<VELKAudioDevice>>()>& list,
                         const QString& key) {
    const QSignalBlocker blocker(popUp);
    popUp->clear();
    popUp->addItem(automaticTitle);
    popUp->insertSeparator(1);
    try {
        for (const auto& device : list()) {
            try {
                popUp->addItem(QString::fromStdString(device->deviceName()),
                               QString::fromStdString(device->deviceUID()));
            } catch (const NSXException&) {
                // removed while being listed
            }
        }
    } catch (const NSXException&) {
        // no audio server: only the automatic item
    }
    selectStoredDevice(popUp, key);
}

} // namespace

// MARK: - Notices

PreferencesNotifier& PreferencesNotifier::instance() {
    static PreferencesNotifier* notifier = new PreferencesNotifier;
    return *notifier;
}

// MARK: - Class set-up

void PreferencesController::initializeClass() {
    static std::once_flag once;
    std::call_once(once, [] { initializeDefaults(UserDefaults::standard()); });
}

void PreferencesController::initializeDefaults(UserDefaults& defaults) {
    const int launchCount = defaults.integerForKey(kLaunchCount) + 1;
    defaults.setValue(kLaunchCount, launchCount);

    QVariantMap registered{
        {kPlaySoundEffects, true},
        {kShowNSStatusItem, true},
        {kEnableHotKeys, true},
        {kLockRecordingSampleRate, true},
    };
    // The first launches do not ask the network; later the updater's own
    // default applies.
    if (launchCount < 4) {
        registered.insert(kCheckAtStartup, false);
    }

    const QString folder = LibraryFolder::defaultPath();
    QString error;
    if (LibraryFolder::create(folder, &error)) {
        LibraryFolder::setCustomIcon(folder);
        const QString source = welcomeTapeSource();
        if (QFile::exists(source)) {
            const QString target = QDir(folder).filePath(QFileInfo(source).fileName());
            if (!QFileInfo::exists(target)) {
                std::fprintf(stderr, "Copying welcome tape\n");
            }
            if (LibraryFolder::copyWelcomeTape(source, folder, &error) ==
                LibraryFolder::CopyResult::Failed) {
                logError(QStringLiteral("Could not copy the welcome tape into \"%1\": %2")
                             .arg(folder, error));
            }
        }
        try {
            registered.insert(kTapeLibraryLocation,
                              VELKSecurityScopedBookmarkValueTransformer().reverseTransformedValue(
                                  QVariant(folder)));
        } catch (const InternalInconsistencyException& failure) {
            logError(QString::fromStdString(failure.description()));
        }
    } else {
        // No location is registered: the library has no folder until the
        // user chooses one, and the preferences say so.
        logError(error);
    }

    registered.insert(kRecordHotKey, HotKeyText::plist(26, HotKeyText::kCommandModifier |
                                                               HotKeyText::kShiftModifier));
    registered.insert(kPauseHotKey, HotKeyText::plist(28, HotKeyText::kCommandModifier |
                                                              HotKeyText::kShiftModifier));
    registered.insert(kStopHotKey, HotKeyText::plist(25, HotKeyText::kCommandModifier |
                                                             HotKeyText::kShiftModifier));
    defaults.registerDefaults(registered);
}

void PreferencesController::setWelcomeTapeSource(const QString& path) {
    welcomeTapeSourcePath() = path;
}

QString PreferencesController::welcomeTapeSource() {
    return welcomeTapeSourcePath();
}

void PreferencesController::setErrorPresenter(std::function<void(const QString&)> presenter) {
    errorPresenter() = std::move(presenter);
}

void PreferencesController::presentError(const QString& message) {
    logError(message);
    if (errorPresenter()) {
        errorPresenter()(message);
        return;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return; // no widgets: the log line is all
    }
    // Both controllers present the same trouble; one box per text is enough.
    static QHash<QString, QPointer<QMessageBox>> open;
    if (QPointer<QMessageBox> box = open.value(message); box) {
        box->raise();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QObject::tr("Cassora"), message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    open.insert(message, box);
    box->show();
}

// MARK: - Instances

PreferencesController& PreferencesController::sharedInstance() {
    static PreferencesController* shared = new PreferencesController;
    return *shared;
}

PreferencesController::PreferencesController(QObject* parent) : QObject(parent) {
    // The first controller sets up the defaults it reads.
    initializeClass();
    UserDefaults& defaults = UserDefaults::standard();
    defaults.observe(
        kRecordingIsStereo, this, [this](const QVariant&) { recordingIsStereoDidChange(); }, true);
    defaults.observe(kRecordDeviceUID, this, [this](const QVariant&) {
        // A new device starts with the engine's default channels.
        UserDefaults::standard().removeValue(kRecordDeviceChannels);
        if (mWindow) {
            selectStoredDevice(mWindow->mRecordDevicePopUp, kRecordDeviceUID);
        }
        populateRecordDeviceChannelsPopUp();
    });
    defaults.observe(kRecordDeviceChannels, this,
                     [this](const QVariant&) { selectStoredChannels(); });
    defaults.observe(kPlaybackDeviceUID, this, [this](const QVariant&) {
        if (mWindow) {
            selectStoredDevice(mWindow->mPlaybackDevicePopUp, kPlaybackDeviceUID);
        }
    });
    defaults.observe(
        kTapeLibraryLocation, this,
        [this](const QVariant& stored) { tapeLibraryLocationDidChange(stored); }, true);
}

PreferencesController::~PreferencesController() {
    delete mWindow; // a top-level window without a parent
}

// MARK: - Queries

bool PreferencesController::playSoundEffects() const {
    return UserDefaults::standard().boolForKey(kPlaySoundEffects);
}

bool PreferencesController::showNSStatusItem() const {
    return UserDefaults::standard().boolForKey(kShowNSStatusItem);
}

bool PreferencesController::enableHotKeys() const {
    return UserDefaults::standard().boolForKey(kEnableHotKeys);
}

bool PreferencesController::recordingIsStereo() const {
    const QVariant stored = UserDefaults::standard().value(kRecordingIsStereo);
    return stored.isValid() ? stored.toBool() : true; // stereo unless told otherwise
}

std::shared_ptr<VELKAudioDevice> PreferencesController::recordingAudioDevice() const {
    return storedAudioDevice(kRecordDeviceUID, kVELKAudioDirectionInput);
}

std::shared_ptr<VELKAudioDevice> PreferencesController::playbackAudioDevice() const {
    return storedAudioDevice(kPlaybackDeviceUID, kVELKAudioDirectionOutput);
}

std::vector<int32_t> PreferencesController::recordingAudioDeviceChannels() const {
    const bool stereo = recordingIsStereo();
    std::vector<int32_t> channels = storedChannels().value_or(std::vector<int32_t>{});
    if (!stereo && channels.size() >= 2) {
        channels.resize(1);
    }
    // The recorder needs one channel per file channel, each one the device
    // has; anything else (a hand-edited list, a device with fewer channels
    // than the last one) falls back to the first channels.
    const uint32_t available = inputChannelCount(recordingAudioDevice());
    const bool fits =
        channels.size() == (stereo ? 2u : 1u) &&
        std::all_of(channels.begin(), channels.end(), [&](int32_t channel) {
            return channel >= 0 && (available == 0 || static_cast<uint32_t>(channel) < available);
        });
    if (fits) {
        return channels;
    }
    if (!stereo) {
        return {0};
    }
    // A one-channel device records its channel on both sides.
    return available == 1 ? std::vector<int32_t>{0, 0} : std::vector<int32_t>{0, 1};
}

QString PreferencesController::tapeLibraryURL() const {
    const std::lock_guard<std::mutex> guard(mTapeLibraryURLLock);
    return mTapeLibraryURL;
}

bool PreferencesController::setTapeLibraryFolder(const QString& folder, QString* error) {
    auto refuse = [&](const QString& reason) {
        if (error) {
            *error = reason;
        }
        return false;
    };
    if (const QString problem =
            VELKSecurityScopedBookmarkValueTransformer::problemWithFolder(folder);
        !problem.isEmpty()) {
        return refuse(problem);
    }
    // Asking the file system is the only sure answer (read-only mounts, ACLs,
    // and root, for whom permission bits say yes).
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".cassora-write-test-XXXXXX")));
    if (!QFileInfo(folder).isReadable() || !probe.open()) {
        return refuse(tr("Tapes cannot be saved in \"%1\": you do not have permission to write "
                         "to that folder. Choose another one.")
                          .arg(folder));
    }
    probe.close();
    try {
        UserDefaults::standard().setValue(
            kTapeLibraryLocation,
            VELKSecurityScopedBookmarkValueTransformer().reverseTransformedValue(QVariant(folder)));
    } catch (const InternalInconsistencyException& failure) {
        return refuse(QString::fromStdString(failure.description()));
    }
    return true;
}

// MARK: - Observations

void PreferencesController::recordingIsStereoDidChange() {
    populateRecordDevicePopUp();
    // Fit the stored channels to the mode: mono keeps the first channel;
    // stereo takes the even-odd pair that holds it.
    const std::optional<std::vector<int32_t>> stored = storedChannels();
    const bool usable = stored && !stored->empty() && (*stored)[0] >= 0;
    std::vector<int32_t> channels = usable ? *stored : std::vector<int32_t>{};
    if (recordingIsStereo()) {
        if (channels.size() != 2) {
            const int32_t first = channels.empty() ? 0 : channels[0] - channels[0] % 2;
            channels = {first, first + 1};
        }
    } else if (channels.size() != 1) {
        channels = {channels.empty() ? 0 : channels[0]};
    }
    UserDefaults::standard().setValue(kRecordDeviceChannels, variantList(channels));
    populateRecordDeviceChannelsPopUp();
    emit PreferencesNotifier::instance().recordDeviceChannelsChanged();
}

void PreferencesController::tapeLibraryLocationDidChange(const QVariant& stored) {
    QString path;
    if (!stored.isValid() || stored.toByteArray().isEmpty()) {
        presentError(tr("Cassora has no tape library folder. Choose one in the preferences."));
    } else {
        // A hand-edited settings file may hold the path as text.
        const QVariant bytes =
            stored.typeId() == QMetaType::QString ? QVariant(stored.toString().toUtf8()) : stored;
        try {
            path = VELKSecurityScopedBookmarkValueTransformer().transformedValue(bytes);
        } catch (const InternalInconsistencyException& failure) {
            presentError(tr("The tape library folder cannot be opened. %1")
                             .arg(QString::fromStdString(failure.description())));
        }
    }
    {
        const std::lock_guard<std::mutex> guard(mTapeLibraryURLLock);
        mTapeLibraryURL = path;
    }
    showTapeLibraryLocation();
    emit tapeLibraryURLChanged(path);
}

// MARK: - Devices

void PreferencesController::checkDefaultAudioDevices() {
    UserDefaults& defaults = UserDefaults::standard();
    // When the device list cannot be read (no server), stored choices stay.
    // Only a device that was chosen can have gone: with none chosen (the
    // automatic one), there is nothing to forget and nothing to announce,
    // so looking at the devices (opening the window) changes no setting.
    const QString recordUID = defaults.stringForKey(kRecordDeviceUID);
    if (const auto uids = deviceUIDs(&VELKAudioHardware::recordingDevices)) {
        if (!recordUID.isEmpty() && !uids->contains(recordUID)) {
            defaults.removeValue(kRecordDeviceUID);
            emit PreferencesNotifier::instance().recordDeviceChanged();
        }
    }
    const QString playbackUID = defaults.stringForKey(kPlaybackDeviceUID);
    if (const auto uids = deviceUIDs(&VELKAudioHardware::playbackDevices)) {
        if (!playbackUID.isEmpty() && !uids->contains(playbackUID)) {
            defaults.removeValue(kPlaybackDeviceUID);
        }
    }
    populateRecordDevicePopUp();
    populatePlaybackDevicePopUp();
}

void PreferencesController::populateRecordDevicePopUp() {
    if (mWindow) {
        populateDevicePopUp(mWindow->mRecordDevicePopUp, tr("Default Input Device (Auto)"),
                            &VELKAudioHardware::recordingDevices, kRecordDeviceUID);
    }
}

void PreferencesController::populatePlaybackDevicePopUp() {
    if (mWindow) {
        populateDevicePopUp(mWindow->mPlaybackDevicePopUp, tr("Default Output Device (Auto)"),
                            &VELKAudioHardware::playbackDevices, kPlaybackDeviceUID);
    }
}

void PreferencesController::populateRecordDeviceChannelsPopUp() {
    if (!mWindow) {
        return;
    }
    QComboBox* popUp = mWindow->mRecordDeviceChannelsPopUp;
    const QSignalBlocker blocker(popUp);
    popUp->clear();
    const uint32_t count = inputChannelCount(recordingAudioDevice());
    const bool stereo = recordingIsStereo();
    mWindow->mRecordDeviceChannelsLabel->setText(stereo ? tr("On Channels:") : tr("On Channel:"));
    if (stereo) {
        // A last odd channel is not offered.
        for (uint32_t i = 0; i < count / 2; ++i) {
            popUp->addItem(QStringLiteral("%1-%2").arg(2 * i + 1).arg(2 * i + 2),
                           QVariantList{static_cast<int>(2 * i), static_cast<int>(2 * i + 1)});
        }
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            popUp->addItem(QString::number(i + 1), QVariantList{static_cast<int>(i)});
        }
    }
    // Stereo from a one-channel device has no pair to offer: it records that
    // channel on both sides.
    popUp->setEnabled(popUp->count() > 0);
    selectStoredChannels();
}

void PreferencesController::selectStoredChannels() {
    if (!mWindow) {
        return;
    }
    QComboBox* popUp = mWindow->mRecordDeviceChannelsPopUp;
    const QSignalBlocker blocker(popUp);
    const std::vector<int32_t> wanted = recordingAudioDeviceChannels();
    int index = -1;
    for (int i = 0; i < popUp->count(); ++i) {
        if (channelsOf(popUp->itemData(i)) == wanted) {
            index = i;
            break;
        }
    }
    popUp->setCurrentIndex(index);
}

void PreferencesController::recordDeviceChanged() {
    const QVariant uid = recordDevicePopUp()->currentData();
    if (uid.isValid() && !uid.toString().isEmpty()) {
        UserDefaults::standard().setValue(kRecordDeviceUID, uid.toString());
    } else {
        UserDefaults::standard().removeValue(kRecordDeviceUID);
    }
    emit PreferencesNotifier::instance().recordDeviceChanged();
}

void PreferencesController::recordDeviceChannelsChanged() {
    const QVariant channels = recordDeviceChannelsPopUp()->currentData();
    if (!channels.isValid()) {
        return;
    }
    UserDefaults::standard().setValue(kRecordDeviceChannels, variantList(channelsOf(channels)));
    emit PreferencesNotifier::instance().recordDeviceChannelsChanged();
}

void PreferencesController::playbackDeviceChanged() {
    const QVariant uid = playbackDevicePopUp()->currentData();
    if (uid.isValid() && !uid.toString().isEmpty()) {
        UserDefaults::standard().setValue(kPlaybackDeviceUID, uid.toString());
    } else {
        UserDefaults::standard().removeValue(kPlaybackDeviceUID);
    }
}

// MARK: - Library folder

void PreferencesController::showTapeLibraryLocation() {
    if (mWindow) {
        mWindow->mTapeLibraryLocationPathControl->setText(tapeLibraryURL());
        mWindow->mTapeLibraryLocationPathControl->setToolTip(tapeLibraryURL());
    }
}

void PreferencesController::chooseTapeLibraryFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        window(), tr("Choose the Tape Library Folder"), tapeLibraryURL());
    if (folder.isEmpty()) {
        return;
    }
    QString error;
    if (!setTapeLibraryFolder(folder, &error)) {
        QMessageBox::warning(window(), tr("This Folder Cannot Hold Tapes"), error);
    }
}

// MARK: - Window

void PreferencesController::bindCheckBox(QCheckBox* box, const QString& key) {
    connect(box, &QCheckBox::clicked, this,
            [key](bool checked) { UserDefaults::standard().setValue(key, checked); });
    UserDefaults::standard().observe(
        key, box,
        [box](const QVariant& value) {
            const QSignalBlocker blocker(box);
            box->setChecked(value.toBool());
        },
        true);
}

void PreferencesController::bindHotKeyField(QLineEdit* field, const QString& key) {
    UserDefaults::standard().observe(
        key, field,
        [field](const QVariant& value) {
            field->setText(PTKeyCombo::withPlistRepresentation(value).description());
        },
        true);
}

void PreferencesController::loadWindow() {
    mWindow = new PreferencesWindow;
    PreferencesWindow* w = mWindow;
    connect(w->mPreferencesToolbarItem, &QAction::triggered, this,
            &PreferencesController::selectPreferencesTab);
    connect(w->mHotkeysToolbarItem, &QAction::triggered, this,
            &PreferencesController::selectHotkeysTab);
    connect(w->mAudioToolbarItem, &QAction::triggered, this,
            &PreferencesController::selectAudioTab);

    bindCheckBox(w->mAutomaticallyCheckForUpdatesCheckbox, kCheckAtStartup);
    bindCheckBox(w->mPlaySoundEffectsCheckbox, kPlaySoundEffects);
    bindCheckBox(w->mShowNSStatusItemCheckbox, kShowNSStatusItem);
    bindCheckBox(w->mEnableHotKeysCheckbox, kEnableHotKeys);
    bindCheckBox(w->mMonitorRecordDeviceCheckbox, kEnableSoftwarePlaythrough);
    connect(w->mChooseTapeLibraryLocationButton, &QPushButton::clicked, this,
            &PreferencesController::chooseTapeLibraryFolder);

    bindHotKeyField(w->mRecordHotKeyTextField, kRecordHotKey);
    bindHotKeyField(w->mPauseHotKeyTextField, kPauseHotKey);
    bindHotKeyField(w->mStopHotKeyTextField, kStopHotKey);
    UserDefaults::standard().observe(
        kEnableHotKeys, w,
        [w](const QVariant& enabled) {
            for (QWidget* control :
                 std::initializer_list<QWidget*>{
                     w->mRecordHotKeyTextField, w->mPauseHotKeyTextField, w->mStopHotKeyTextField,
                     w->mRecordHotKeyChangeButton, w->mPauseHotKeyChangeButton,
                     w->mStopHotKeyChangeButton}) {
                control->setEnabled(enabled.toBool());
            }
        },
        true);
    connect(w->mRecordHotKeyChangeButton, &QPushButton::clicked, this,
            &PreferencesController::changeRecordHotkey);
    connect(w->mPauseHotKeyChangeButton, &QPushButton::clicked, this,
            &PreferencesController::changePauseHotkey);
    connect(w->mStopHotKeyChangeButton, &QPushButton::clicked, this,
            &PreferencesController::changeStopHotkey);
    if (const QString reason = PTHotKeyCenter::sharedCenter().unavailableReason();
        !reason.isEmpty()) {
        w->mHotKeysUnavailableLabel->setText(reason);
        w->mHotKeysUnavailableLabel->show();
    }

    connect(w->mRecordDevicePopUp, &QComboBox::activated, this,
            &PreferencesController::recordDeviceChanged);
    connect(w->mRecordDeviceChannelsPopUp, &QComboBox::activated, this,
            &PreferencesController::recordDeviceChannelsChanged);
    connect(w->mPlaybackDevicePopUp, &QComboBox::activated, this,
            &PreferencesController::playbackDeviceChanged);

    showTapeLibraryLocation();
    checkDefaultAudioDevices();
    populateRecordDeviceChannelsPopUp();
    selectPreferencesTab();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        w->move(screen->availableGeometry().center() - w->rect().center());
    }
}

QWidget* PreferencesController::window() {
    if (!mWindow) {
        loadWindow();
    }
    return mWindow;
}

void PreferencesController::showWindow() {
    const bool loaded = mWindow;
    window();
    if (loaded) {
        // Devices may have come and gone while the window was closed.
        populateRecordDevicePopUp();
        populatePlaybackDevicePopUp();
        populateRecordDeviceChannelsPopUp();
    }
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
}

QWidget* PreferencesController::currentlyVisibleView() {
    window();
    return mWindow->currentlyVisibleView();
}

void PreferencesController::selectPreferencesTab() {
    window();
    mWindow->selectAndResizeToView(mWindow->mGeneralSettingsView);
    mWindow->mPreferencesToolbarItem->setChecked(true);
}

void PreferencesController::selectHotkeysTab() {
    window();
    mWindow->selectAndResizeToView(mWindow->mHotkeySettingsView);
    mWindow->mHotkeysToolbarItem->setChecked(true);
}

void PreferencesController::selectAudioTab() {
    window();
    mWindow->selectAndResizeToView(mWindow->mAudioSettingsView);
    mWindow->mAudioToolbarItem->setChecked(true);
}

// MARK: - Controls

#define PREFERENCES_CONTROL(Type, getter, field)                                                   \
    Type* PreferencesController::getter() {                                                        \
        window();                                                                                  \
        return mWindow->field;                                                                     \
    }
PREFERENCES_CONTROL(QComboBox, recordDevicePopUp, mRecordDevicePopUp)
PREFERENCES_CONTROL(QLabel, hotKeysUnavailableLabel, mHotKeysUnavailableLabel)
PREFERENCES_CONTROL(QLabel, recordDeviceChannelsLabel, mRecordDeviceChannelsLabel)
PREFERENCES_CONTROL(QComboBox, recordDeviceChannelsPopUp, mRecordDeviceChannelsPopUp)
PREFERENCES_CONTROL(QComboBox, playbackDevicePopUp, mPlaybackDevicePopUp)
PREFERENCES_CONTROL(QCheckBox, monitorRecordDeviceCheckbox, mMonitorRecordDeviceCheckbox)
PREFERENCES_CONTROL(QLineEdit, tapeLibraryLocationPathControl, mTapeLibraryLocationPathControl)
PREFERENCES_CONTROL(QPushButton, chooseTapeLibraryLocationButton, mChooseTapeLibraryLocationButton)
PREFERENCES_CONTROL(QCheckBox, playSoundEffectsCheckbox, mPlaySoundEffectsCheckbox)
PREFERENCES_CONTROL(QCheckBox, showNSStatusItemCheckbox, mShowNSStatusItemCheckbox)
PREFERENCES_CONTROL(QCheckBox, automaticallyCheckForUpdatesCheckbox,
                    mAutomaticallyCheckForUpdatesCheckbox)
PREFERENCES_CONTROL(QCheckBox, enableHotKeysCheckbox, mEnableHotKeysCheckbox)
PREFERENCES_CONTROL(QLineEdit, recordHotKeyTextField, mRecordHotKeyTextField)
PREFERENCES_CONTROL(QLineEdit, pauseHotKeyTextField, mPauseHotKeyTextField)
PREFERENCES_CONTROL(QLineEdit, stopHotKeyTextField, mStopHotKeyTextField)
PREFERENCES_CONTROL(QPushButton, recordHotKeyChangeButton, mRecordHotKeyChangeButton)
PREFERENCES_CONTROL(QPushButton, pauseHotKeyChangeButton, mPauseHotKeyChangeButton)
PREFERENCES_CONTROL(QPushButton, stopHotKeyChangeButton, mStopHotKeyChangeButton)
#undef PREFERENCES_CONTROL

// Hot keys

namespace {

const QString kRecordBinding = QStringLiteral("Record");
const QString kPauseBinding = QStringLiteral("Pause");
const QString kStopBinding = QStringLiteral("Stop");

} // namespace

QVariantMap PreferencesController::recordHotKeyCombo() const {
    return PTKeyCombo::withPlistRepresentation(UserDefaults::standard().value(kRecordHotKey))
        .plistRepresentation();
}

QVariantMap PreferencesController::pauseHotKeyCombo() const {
    return PTKeyCombo::withPlistRepresentation(UserDefaults::standard().value(kPauseHotKey))
        .plistRepresentation();
}

QVariantMap PreferencesController::stopHotKeyCombo() const {
    return PTKeyCombo::withPlistRepresentation(UserDefaults::standard().value(kStopHotKey))
        .plistRepresentation();
}

void PreferencesController::setRecordHotKeyCombo(const QVariantMap& plist) {
    UserDefaults::standard().setValue(kRecordHotKey, plist);
}

void PreferencesController::setPauseHotKeyCombo(const QVariantMap& plist) {
    UserDefaults::standard().setValue(kPauseHotKey, plist);
}

void PreferencesController::setStopHotKeyCombo(const QVariantMap& plist) {
    UserDefaults::standard().setValue(kStopHotKey, plist);
}

void PreferencesController::changeRecordHotkey() {
    runHotKeyPanel(kRecordBinding, kRecordHotKey);
}

void PreferencesController::changePauseHotkey() {
    runHotKeyPanel(kPauseBinding, kPauseHotKey);
}

void PreferencesController::changeStopHotkey() {
    runHotKeyPanel(kStopBinding, kStopHotKey);
}

void PreferencesController::runHotKeyPanel(const QString& bindingName, const QString& key) {
    PTKeyComboPanel& panel = PTKeyComboPanel::sharedPanel();
    if (panel.isVisible()) {
        return;
    }
    mHotKeyBindingName = bindingName;
    panel.setKeyCombo(PTKeyCombo::withPlistRepresentation(UserDefaults::standard().value(key)));
    panel.setKeyBindingName(QCoreApplication::translate("DeckHotKeys", bindingName.toUtf8().constData()));
    QPointer<PreferencesController> self(this);
    panel.runSheetForModalWindow(window(), [self](int code) {
        if (self) {
            self->hotKeySheetDidEndWithReturnCode(code);
        }
    });
}

void PreferencesController::hotKeySheetDidEndWithReturnCode(int code) {
    if (code != 1) {
        return;
    }
    const QVariantMap plist = PTKeyComboPanel::sharedPanel().keyCombo().plistRepresentation();
    // The text field follows the stored value through its observation.
    if (mHotKeyBindingName == kRecordBinding) {
        setRecordHotKeyCombo(plist);
    } else if (mHotKeyBindingName == kPauseBinding) {
        setPauseHotKeyCombo(plist);
    } else if (mHotKeyBindingName == kStopBinding) {
        setStopHotKeyCombo(plist);
    }
}
