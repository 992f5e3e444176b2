#include "app/deck/AppController.h"

#include "app/deck/DeckWindow.h"
#include "app/deck/TapeView.h"
#include "app/deck/WindowController.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/library/TapeQuality.h"
#include "app/library/TapeRecovery.h"
#include "app/monitoring/CassoraSoftwarePlayThroughManager.h"
#include "app/preferences/PreferencesController.h"
#include "app/sharing/SaveMoviePanel.h"
#include "app/sharing/SharingController.h"
#include "app/sharing/YouTubeWindowController.h"
#include "app/shell/AboutController.h"
#include "app/shell/CommandLine.h"
#include "app/shell/MPRISService.h"
#include "platform/desktop/UserDefaults.h"

#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

const QString kRecordingQuality = QStringLiteral("RecordingQuality");
const QString kRecordingIsStereo = QStringLiteral("RecordingIsStereo");
const QString kTapeAuthor = QStringLiteral("TapeAuthor");
const QString kRemoveVoice = QStringLiteral("RemoveVoice");
// Where feedback goes and where new versions are announced; settings, so a
// packager can point them elsewhere.
const QString kFeedbackAddress = QStringLiteral("FeedbackMailAddress");
const QString kReleasePage = QStringLiteral("ReleasePageURL");

QString percentEscaped(const QString& text, const QByteArray& keep = {}) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}

} // namespace

QString SUUpdater::releasePageURL() {
    return UserDefaults::standard().stringForKey(kReleasePage);
}

void SUUpdater::checkForUpdates() {
    QDesktopServices::openUrl(QUrl(releasePageURL()));
}

AppController::AppController(QObject* parent) : QObject(parent) {
    UserDefaults::standard().registerDefaults({
        {kFeedbackAddress, QStringLiteral("feedback@cassora.org")},
        {kReleasePage, QStringLiteral("https://cassora.org/releases")},
    });
}

AppController::~AppController() {
    mMPRISService.reset();
    mSoftwarePlaythroughManager.reset(); // monitoring stops before the deck goes
    if (mWindowController) {
        mWindowController->windowWillClose();
    }
    mWindowController.reset();
    delete mAboutController;
}

QString AppController::soundFilePath() const {
    return mPreferencesController ? mPreferencesController->tapeLibraryURL() : QString();
}

void AppController::start(const QStringList& filesToOpen) {
    PreferencesController::initializeClass();
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("org.cassora.Cassora"), AboutController::applicationIcon()));
    // One preferences controller for the deck and the preferences window, so
    // that device changes the deck hears show in the open window too.
    mPreferencesController = &PreferencesController::sharedInstance();
    WindowController::registerDefaults();
    recoverInterruptedRecordings();

    mWindowController = std::make_unique<WindowController>(*mPreferencesController);
    DeckWindow* window = mWindowController->window();
    setUpSharing();
    buildTapeMenu();
    mWindowController->setTapeMenu(mTapeMenu);
    buildMainMenu(window->menuBar());
    connect(mWindowController.get(), &WindowController::windowDidClose, qApp,
            &QCoreApplication::quit, Qt::QueuedConnection);

    UserDefaults& defaults = UserDefaults::standard();
    defaults.observe(kRecordingQuality, this, [this](const QVariant&) { updateQualityMenu(); });
    defaults.observe(kRecordingIsStereo, this, [this](const QVariant&) { updateChannelMenu(); });
    updateQualityMenu();
    updateChannelMenu();
    connect(mWindowController.get(), &WindowController::recordingStateChanged, this,
            &AppController::validateAllTapeCommands);
    connect(mWindowController.get(), &WindowController::selectedTapeChanged, this,
            &AppController::validateAllTapeCommands);
    validateAllTapeCommands();
    mWindowController->showWindow();

    mSparkleUpdater = new SUUpdater(this);
    connect(mCheckForUpdatesMenuItem, &QAction::triggered, mSparkleUpdater,
            &SUUpdater::checkForUpdates);
    // Monitoring follows its settings from now on (it starts at once when
    // left on).
    mSoftwarePlaythroughManager =
        std::make_unique<CassoraSoftwarePlayThroughManager>(UserDefaults::standard());
    connect(mSoftwarePlaythroughManager.get(),
            &CassoraSoftwarePlayThroughManager::monitoringChanged, mWindowController.get(),
            &WindowController::setMonitoring);
    connect(mSoftwarePlaythroughManager.get(), &CassoraSoftwarePlayThroughManager::failureChanged,
            mWindowController.get(), &WindowController::setMonitoringFailure);
    mWindowController->applicationDidFinishLaunching();
    // Media keys and the desktop's media controls.
    mMPRISService = std::make_unique<MPRISService>(*mWindowController);
    if (QString error; !mMPRISService->registerOnSessionBus(&error)) {
        std::fprintf(stderr, "(ERROR) AppController : Media controls are not available: %s\n",
                     error.toLocal8Bit().constData());
    }
    if (!filesToOpen.isEmpty()) {
        openFiles(filesToOpen);
    }
}

void AppController::recoverInterruptedRecordings() {
    const QString folder = soundFilePath();
    if (folder.isEmpty()) {
        return;
    }
    const QString author = UserDefaults::standard().stringForKey(kTapeAuthor);
    for (const TapeRecovery::Result& result : TapeRecovery::recoverFolder(folder, author)) {
        if (result.outcome == TapeRecovery::Result::Outcome::Failed) {
            std::fprintf(stderr, "(ERROR) AppController : %s\n",
                         result.error.toLocal8Bit().constData());
        } else if (result.outcome == TapeRecovery::Result::Outcome::Recovered) {
            std::fprintf(stderr, "Recovered an interrupted recording: %s\n",
                         result.filename.toLocal8Bit().constData());
        }
    }
}

void AppController::openFiles(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    }
    mWindowController->importTapesIntoLibrary(urls);
}

// Menus

void AppController::buildMainMenu(QMenuBar* bar) {
    WindowController* deck = mWindowController.get();

    QMenu* file = bar->addMenu(tr("&File"));
    file->addAction(tr("&Import Tapes…"), QKeySequence::Open, deck, &WindowController::importTapes);
    QAction* exportItem = file->addAction(tr("&Export Tape…"), QKeySequence(tr("Ctrl+E")), deck,
                                          &WindowController::exportTape);
    mTapeCommandItems << exportItem;
    file->addSeparator();
    file->addAction(tr("&Preferences…"), QKeySequence(tr("Ctrl+,")), this,
                    &AppController::showPreferences);
    file->addSeparator();
    file->addAction(tr("&Close"), QKeySequence::Close, this, &AppController::quit);
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &AppController::quit)
        ->setMenuRole(QAction::QuitRole);
    connect(file, &QMenu::aboutToShow, this, [this, file] { validateTapeCommands(file); });

    QMenu* edit = bar->addMenu(tr("&Edit"));
    edit->addAction(tr("&Find"), QKeySequence::Find, deck, &WindowController::performFindPanelAction);

    // The transport keys belong to the button strip; the menu only names
    // them, as the keyboard's layout labels them at the time.
    QMenu* controls = bar->addMenu(tr("&Controls"));
    const std::pair<QString, void (WindowController::*)(QObject*)> transport[] = {
        {tr("Record"), &WindowController::recordTape},
        {tr("Play"), &WindowController::playTape},
        {tr("Rewind"), &WindowController::rewindTape},
        {tr("Fast Forward"), &WindowController::fastForwardTape},
        {tr("Stop"), &WindowController::stopTape},
        {tr("Pause"), &WindowController::pauseTape},
    };
    for (int segment = 0; segment < static_cast<int>(std::size(transport)); ++segment) {
        const auto command = transport[segment].second;
        QAction* item = controls->addAction(transport[segment].first, deck,
                                            [deck, command] { (deck->*command)(nullptr); });
        mTransportMenuItems << item;
    }
    nameTransportKeys();
    connect(controls, &QMenu::aboutToShow, this, &AppController::nameTransportKeys);
    controls->addSeparator();
    controls->addAction(tr("Previous Tape"), QKeySequence(tr("Ctrl+Down")), deck,
                        &WindowController::previousTape);
    controls->addAction(tr("Next Tape"), QKeySequence(tr("Ctrl+Up")), deck,
                        &WindowController::nextTape);
    controls->addAction(tr("Volume Up"), QKeySequence(tr("Ctrl+Shift+Up")), deck,
                        &WindowController::volumeUp);
    controls->addAction(tr("Volume Down"), QKeySequence(tr("Ctrl+Shift+Down")), deck,
                        &WindowController::volumeDown);
    controls->addAction(tr("Go to Start"), QKeySequence(Qt::Key_Home), deck,
                        &WindowController::goToStart);
    controls->addAction(tr("Go to End"), QKeySequence(Qt::Key_End), deck,
                        &WindowController::goToEnd);
    controls->addSeparator();
    // Plays stereo tapes without their centred voice, to sing along.
    QAction* removeVoice = controls->addAction(tr("Remove Voice"));
    removeVoice->setCheckable(true);
    removeVoice->setChecked(UserDefaults::standard().boolForKey(kRemoveVoice));
    connect(removeVoice, &QAction::toggled, this,
            [](bool on) { UserDefaults::standard().setValue(kRemoveVoice, on); });
    UserDefaults::standard().observe(kRemoveVoice, removeVoice, [removeVoice](const QVariant& value) {
        removeVoice->setChecked(value.toBool());
    });
    controls->addSeparator();
    QMenu* quality = controls->addMenu(tr("Recording Quality"));
    auto* qualities = new QActionGroup(this);
    const QString qualityNames[] = {tr("HQ — Lossless"), tr("MQ — AAC 128 kbit/s"),
                                    tr("LQ — AAC 48 kbit/s")};
    for (int index = 0; index < 3; ++index) {
        QAction* item = quality->addAction(qualityNames[index]);
        item->setCheckable(true);
        item->setData(index);
        qualities->addAction(item);
        connect(item, &QAction::triggered, this, [this, index] { setRecordingQuality(index); });
        mQualityMenuItems << item;
    }
    QMenu* channels = controls->addMenu(tr("Recording Channels"));
    auto* channelGroup = new QActionGroup(this);
    mStereoMenuItem = channels->addAction(tr("Stereo"));
    mMonoMenuItem = channels->addAction(tr("Mono"));
    for (QAction* item : {mStereoMenuItem, mMonoMenuItem}) {
        item->setCheckable(true);
        channelGroup->addAction(item);
    }
    connect(mStereoMenuItem, &QAction::triggered, this, [this] { setRecordingChannelCount(true); });
    connect(mMonoMenuItem, &QAction::triggered, this, [this] { setRecordingChannelCount(false); });

    QMenu* tape = bar->addMenu(tr("&Tape"));
    mDeckTapeItems << tape->addAction(tr("Rename Tape"), QKeySequence(Qt::Key_F2), deck,
                                      &WindowController::renameTape);
    mDeckTapeItems << tape->addAction(tr("Edit Notes"), QKeySequence(tr("Shift+F2")), deck,
                                      &WindowController::editTapeNotes);
    mDeckTapeItems << tape->addAction(tr("Next Colour"), QKeySequence(tr("Ctrl+L")), deck,
                                      &WindowController::nextTapeColour);
    tape->addSeparator();
    mTapeCommandItems << tape->addAction(tr("Reveal Tape in File Manager"), deck,
                                         [deck] { deck->revealInFinder(); });
    mTapeCommandItems << tape->addAction(tr("Move Tape to Trash"), QKeySequence(tr("Ctrl+Del")),
                                         deck, [deck] { deck->moveTapeToTrash(); });
    mTapeCommandItems << tape->addAction(tr("Save &Movie…"), this,
                                         [this] { mSharingController->saveMovie(nullptr); });
    QMenu* sharing = tape->addMenu(tr("Sharing"));
    mTapeCommandItems << sharing->menuAction();
    connect(tape, &QMenu::aboutToShow, this, [this, deck, sharing] {
        mSharingController->createSharingSubmenuForMenu(sharing, {deck->tapeToOperateOn(nullptr)});
    });
    tape->addSeparator();
    tape->addAction(tr("Show Library Folder"), deck, &WindowController::revealLibraryInFinder);
    tape->addAction(tr("Show or Hide Tape Box"), QKeySequence(tr("Ctrl+T")), deck,
                    &WindowController::discloseTapes);
    connect(tape, &QMenu::aboutToShow, this, [this, tape] { validateTapeCommands(tape); });

    QMenu* help = bar->addMenu(tr("&Help"));
    help->addAction(tr("About Cassora"), this, &AppController::showAbout)
        ->setMenuRole(QAction::AboutRole);
    help->addAction(tr("Send Feedback…"), this, &AppController::sendFeedback);
    mCheckForUpdatesMenuItem = help->addAction(tr("Check for Updates…"));
}

void AppController::buildTapeMenu() {
    WindowController* deck = mWindowController.get();
    mTapeMenu = new QMenu(deck->window());
    mTapeCommandItems << mTapeMenu->addAction(tr("Reveal Tape in File Manager"), deck,
                                              [deck] { deck->revealInFinder(); });
    mTapeCommandItems << mTapeMenu->addAction(tr("Move Tape to Trash"), deck,
                                              [deck] { deck->moveTapeToTrash(); });
    mTapeMenu->addSeparator();
    // A recording's file is not finished: none of these may act on it yet.
    mTapeCommandItems << mTapeMenu->addAction(tr("Email Tape…"), deck, [deck] {
        if (const auto tape = deck->tapeToOperateOn(nullptr); deck->canOperateOnTape(tape)) {
            deck->tapeArrayController()->emailTape(*tape);
        }
    });
    mTapeCommandItems << mTapeMenu->addAction(tr("Copy Tape to Music Library"), this, [this] {
        if (mWindowController->canOperateOnTape(nullptr)) {
            mSharingController->sendToMusicLibrary(nullptr);
        }
    });
    mTapeCommandItems << mTapeMenu->addAction(tr("Send to YouTube…"), this, [this] {
        if (mWindowController->canOperateOnTape(nullptr)) {
            mSharingController->sendToYouTube(nullptr);
        }
    });
    mTapeCommandItems << mTapeMenu->addAction(tr("Save Movie…"), this, [this] {
        if (mWindowController->canOperateOnTape(nullptr)) {
            mSharingController->saveMovie(nullptr);
        }
    });
    // Built for the menu's own tape (a spine's, or the cassette's) each time.
    QMenu* sharing = mTapeMenu->addMenu(tr("Sharing"));
    connect(mTapeMenu, &QMenu::aboutToShow, this, [this, deck, sharing] {
        mSharingController->createSharingSubmenuForMenu(sharing, {deck->tapeToOperateOn(nullptr)});
    });
    connect(mTapeMenu, &QMenu::aboutToShow, this, [this] { validateTapeCommands(mTapeMenu); });
}

void AppController::validateAllTapeCommands() {
    // Their shortcuts work with the menus closed, so they follow the deck.
    const bool enabled = mWindowController->canOperateOnTape(nullptr);
    for (QAction* item : std::as_const(mTapeCommandItems)) {
        item->setEnabled(enabled);
    }
    const bool tapeInDeck = mWindowController->selectedTape() != nullptr;
    for (QAction* item : std::as_const(mDeckTapeItems)) {
        item->setEnabled(tapeInDeck);
    }
}

void AppController::nameTransportKeys() {
    for (int segment = 0; segment < mTransportMenuItems.size(); ++segment) {
        QAction* item = mTransportMenuItems.at(segment);
        const QString name = item->text().section(QLatin1Char('\t'), 0, 0);
        const QString key = mWindowController->transportKeyName(segment);
        item->setText(key.isEmpty() ? name : name + QLatin1Char('\t') + key);
    }
}

void AppController::setUpSharing() {
    WindowController* deck = mWindowController.get();
    mSharingController = new SharingController(
        deck->tapeArrayController(),
        [deck](const std::shared_ptr<Tape>& tape) { return deck->tapeToOperateOn(tape); }, this);
    mSharingController->setYouTubeSender([](const std::shared_ptr<Tape>& tape) {
        YouTubeWindowController* upload = YouTubeWindowController::sharedInstance();
        upload->setTape(tape);
        upload->showWindow();
    });
    // The same movie as `cassora movie`, to a file: no account needed.
    mSharingController->setMovieSaver([deck](const std::shared_ptr<Tape>& tape) {
        SaveMoviePanel::forWindow(deck->window())->saveMovie(tape);
    });
    connect(deck, &WindowController::shareButtonPressed, this, [this, deck] {
        // Not for a recording, paused or not: its file is not finished.
        if (deck->canOperateOnTape(nullptr)) {
            TapeView* view = deck->window()->tapeView();
            mSharingController->shareButtonPressed(view,
                                                   SharingController::anchorRectForSender(view));
        }
    });
}

void AppController::validateTapeCommands(QMenu* menu) {
    const bool enabled = mWindowController->canOperateOnTape(nullptr);
    for (QAction* item : menu->actions()) {
        if (mTapeCommandItems.contains(item)) {
            item->setEnabled(enabled);
        }
    }
}

QAction* AppController::qualityMenuItem(int index) const {
    return mQualityMenuItems.value(index);
}

void AppController::setRecordingQuality(int index) {
    UserDefaults::standard().setValue(kRecordingQuality, TapeQuality::qualityForIndex(index));
}

void AppController::updateQualityMenu() {
    const int selected =
        TapeQuality::indexForQuality(UserDefaults::standard().stringForKey(kRecordingQuality));
    for (QAction* item : std::as_const(mQualityMenuItems)) {
        item->setChecked(item->data().toInt() == selected);
    }
}

void AppController::setRecordingChannelCount(bool stereo) {
    // The same rule as the HUD's switch: a mono-only input stays in mono.
    mWindowController->chooseRecordingChannels(stereo);
    updateChannelMenu();
}

void AppController::updateChannelMenu() {
    const bool stereo = UserDefaults::standard().boolForKey(kRecordingIsStereo);
    mStereoMenuItem->setChecked(stereo);
    mMonoMenuItem->setChecked(!stereo);
}

void AppController::showAbout() {
    if (!mAboutController) {
        mAboutController = new AboutController;
    }
    mAboutController->showWindow();
}

void AppController::showPreferences() {
    PreferencesController::sharedInstance().showWindow();
}

// Feedback

QString AppController::versionString() {
    return QStringLiteral("%1 %2(%3)").arg(CommandLine::version(), QString(), CommandLine::version());
}

QString AppController::currentSystemVersionString() {
    static const QString version = [] {
        QFile release(QStringLiteral("/etc/os-release"));
        if (release.open(QIODevice::ReadOnly)) {
            while (!release.atEnd()) {
                const QString line = QString::fromUtf8(release.readLine()).trimmed();
                if (line.startsWith(QLatin1String("PRETTY_NAME="))) {
                    QString value = line.mid(12);
                    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
                        value.endsWith(QLatin1Char('"'))) {
                        value = value.mid(1, value.size() - 2);
                    }
                    return value;
                }
            }
        }
        return QStringLiteral("Linux");
    }();
    return version;
}

QString AppController::feedbackURL() {
    const QString address = UserDefaults::standard().stringForKey(kFeedbackAddress);
    const QString subject = QStringLiteral("Cassora Feedback: (Enter title here)");
    const QString body = QStringLiteral("Here's how I feel about Cassora:\n\n\n--\n(I'm using "
                                        "Cassora version %1 with %2.)\n")
                             .arg(versionString(), currentSystemVersionString());
    // Mail links want their line breaks as CRLF; the address keeps its '@'.
    QString crlfBody = body;
    crlfBody.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return QStringLiteral("mailto:%1?SUBJECT=%2&BODY=%3")
        .arg(percentEscaped(address, "@"), percentEscaped(subject), percentEscaped(crlfBody));
}

void AppController::sendFeedback() {
    QDesktopServices::openUrl(QUrl(feedbackURL(), QUrl::StrictMode));
}

void AppController::quit() {
    if (!mWindowController || mWindowController->isClosed()) {
        mSoftwarePlaythroughManager.reset();
        QCoreApplication::quit();
        return;
    }
    // Closing the deck stops it; once it has closed, the application quits.
    mWindowController->window()->close();
}
