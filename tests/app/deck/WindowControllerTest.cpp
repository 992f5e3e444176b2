#include "app/deck/WindowController.h"
#include "app/deck/DeckClock.h"
#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/TapeView.h"
#include "app/library/MP4Tags.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/preferences/PreferencesController.h"
#include "app/transport/Cassora_sm.h"
#include "app/transport/SegmentedTapeButtonView.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/UserDefaults.h"
#include "platform/media/MediaAudioFile.h"

#include "AudioServerTools.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

void pumpFor(double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

QString stateName(const WindowController& deck) {
    return QString::fromStdString(deck.transport().state().name());
}

// The deck on its own library folder, with sound effects off, against the
// private audio server. The server's tone is listened to closely so that a
// recording hears it at once.
class Deck : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The deck prepares the default library folder in the home folder:
        // a private one, never the user's.
        home = new QTemporaryDir;
        qputenv("HOME", home->path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home->path() + "/.local/share").toLocal8Bit());
        listener = new QProcess;
        listener->start(QStringLiteral("parec"),
                        {QStringLiteral("--device=cassora_tone.monitor"),
                         QStringLiteral("--latency-msec=100"), QStringLiteral("--format=s16le"),
                         QStringLiteral("--channels=1")});
        listener->setStandardOutputFile(QProcess::nullDevice());
        pumpFor(2.0);
    }
    static void TearDownTestSuite() {
        listener->kill();
        listener->waitForFinished();
        delete listener;
        delete home;
    }

    void SetUp() override {
        MainQueue::setDispatcher([](MainQueue::Job job) {
            QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
        });
        UserDefaults& defaults = UserDefaults::standard();
        defaults.setValue(QStringLiteral("TapeLibraryLocation"), folder.path().toUtf8());
        defaults.setValue(QStringLiteral("PlaySoundEffects"), false);
        defaults.setValue(QStringLiteral("RecordingQuality"), QStringLiteral("LQ"));
        defaults.setValue(QStringLiteral("RecordingIsStereo"), false);
        defaults.setValue(QStringLiteral("TapeAuthor"), QStringLiteral("Ada Tester"));
        defaults.removeValue(QStringLiteral("RecordDeviceUID"));
        defaults.removeValue(QStringLiteral("PlaybackDeviceUID"));
        preferences = std::make_unique<PreferencesController>();
        deck = std::make_unique<WindowController>(*preferences);
        deck->setAlertPresenter(
            [this](const QString& message, const QString&) { alerts << message; });
        deck->applicationDidFinishLaunching();
    }

    void TearDown() override {
        deck.reset();
        preferences.reset();
        MainQueue::setDispatcher({});
        DeckClock::setSource({});
    }

    // Records for about `seconds` and stops; the new tape is in the deck.
    std::shared_ptr<Tape> record(double seconds) {
        deck->recordTape();
        EXPECT_EQ(stateName(*deck), "TapeMap::Recording");
        pumpFor(seconds);
        deck->stopTape();
        EXPECT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 5));
        return deck->selectedTape();
    }

    static inline QProcess* listener = nullptr;
    static inline QTemporaryDir* home = nullptr;
    QTemporaryDir folder;
    std::unique_ptr<PreferencesController> preferences;
    std::unique_ptr<WindowController> deck;
    QStringList alerts;
};

TEST_F(Deck, RecordingMakesALabelledTapeShownAtOnceAndInsertedWhenItStops) {
    deck->recordTape();
    ASSERT_EQ(stateName(*deck), "TapeMap::Recording");
    const auto recording = deck->selectedTape();
    ASSERT_TRUE(recording);
    // In the tape box from the start, and the deck shows that it records.
    const auto& listed = deck->tapeArrayController()->arrangedObjects();
    EXPECT_NE(std::find(listed.begin(), listed.end(), recording), listed.end());
    EXPECT_TRUE(deck->window()->hudView()->recordingMode());
    EXPECT_TRUE(deck->window()->tapeBoxView()->isRecording());
    EXPECT_FALSE(deck->canOperateOnTape(nullptr));
    pumpFor(1.2);

    // While paused, other tapes may be trashed or exported again; the
    // recording itself has no index yet, so it may not. The pause leaves no gap.
    deck->pauseTape();
    EXPECT_TRUE(deck->isRecordingPaused());
    auto other = std::make_shared<Tape>(QDir(folder.path()).filePath("Other.m4a"));
    other->setCommitsOnDestruction(false);
    EXPECT_TRUE(deck->canOperateOnTape(other));
    EXPECT_FALSE(deck->canOperateOnTape(nullptr));
    pumpFor(0.3);
    deck->pauseTape();
    EXPECT_FALSE(deck->isRecordingPaused());
    pumpFor(0.5);
    deck->stopTape();
    ASSERT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 5));

    const auto tape = deck->selectedTape();
    ASSERT_EQ(tape, recording);
    EXPECT_FALSE(deck->window()->hudView()->recordingMode());
    EXPECT_FALSE(deck->window()->tapeBoxView()->isRecording());
    EXPECT_TRUE(deck->audioFilePlayer());
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Untitled");
    const auto tags = MP4Tags::forReading(tape->filename());
    ASSERT_TRUE(tags);
    EXPECT_EQ(tags->artist().value_or(QString()), "Ada Tester");
    ASSERT_TRUE(reread.tapeLetter());
    EXPECT_EQ(reread.tapeLetter()->letter(), "A");
    EXPECT_EQ(reread.quality(), "LQ");
    EXPECT_NEAR(reread.duration(), 1.7, 0.5);
    EXPECT_NEAR(tape->duration(), reread.duration(), 0.01);
    EXPECT_FALSE(QFileInfo::exists(
        QFileInfo(tape->filename())
            .dir()
            .filePath("." + QFileInfo(tape->filename()).fileName() + ".journal")));

    // A second recording is a second file.
    const auto second = record(0.5);
    ASSERT_TRUE(second);
    EXPECT_NE(second->filename(), tape->filename());
    EXPECT_TRUE(alerts.isEmpty()) << alerts.join("; ").toStdString();
}

TEST_F(Deck, ALabelEditedWhilePlayingIsWrittenAndPlaybackGoesOnAtTheSamePlaceAndSpeed) {
    const auto tape = record(2.0);
    ASSERT_TRUE(tape);
    deck->playTape();
    ASSERT_EQ(stateName(*deck), "TapeMap::Playing");
    pumpFor(0.4);
    // Holding FFWD while playing cues at twice speed.
    deck->fastForwardTape();
    ASSERT_EQ(stateName(*deck), "TapeMap::Cueing");
    pumpFor(0.2);
    const VELKExtendedAudioFilePlayer* before = deck->audioFilePlayer();
    const int64_t frame = before->currentFrame();

    tape->setTitle(QStringLiteral("Garden interview"));
    const VELKExtendedAudioFilePlayer* after = deck->audioFilePlayer();
    ASSERT_TRUE(after);
    EXPECT_NE(after, before);
    EXPECT_TRUE(after->isFilePlaying());
    EXPECT_DOUBLE_EQ(after->playbackSpeed(), 2.0);
    EXPECT_GE(after->currentFrame(), frame);
    EXPECT_LT(after->currentFrame(), frame + 22050);
    EXPECT_FALSE(tape->dirty());
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Garden interview");

    deck->fastForwardTape();
    EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
    deck->stopTape();
    EXPECT_EQ(stateName(*deck), "TapeMap::TapeStopped");
}

// Controls > Remove Voice is a setting: a tape put in the deck follows it,
// and a change reaches the tape that is playing.
TEST_F(Deck, RemoveVoiceFollowsItsSettingAlsoWhilePlaying) {
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue(QStringLiteral("RecordingIsStereo"), true);
    defaults.setValue(QStringLiteral("RemoveVoice"), true);
    const auto tape = record(1.0);
    ASSERT_TRUE(tape);
    ASSERT_TRUE(deck->audioFilePlayer());
    ASSERT_EQ(deck->audioFilePlayer()->audioFile()->streamDescription()->channelsPerFrame(), 2u);
    EXPECT_TRUE(deck->audioFilePlayer()->removesVoice());
    deck->playTape();
    pumpFor(0.3);
    defaults.setValue(QStringLiteral("RemoveVoice"), false);
    EXPECT_FALSE(deck->audioFilePlayer()->removesVoice());
    EXPECT_TRUE(deck->audioFilePlayer()->isFilePlaying());
    deck->stopTape();
    defaults.removeValue(QStringLiteral("RemoveVoice"));
}

TEST_F(Deck, ALabelEditedWhileRecordingIsWrittenWhenTheRecordingEnds) {
    deck->recordTape();
    const auto tape = deck->selectedTape();
    ASSERT_TRUE(tape);
    pumpFor(0.5);
    tape->setTitle(QStringLiteral("Lecture"));
    EXPECT_TRUE(tape->dirty());
    pumpFor(0.5);
    deck->stopTape();
    ASSERT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 5));
    Tape reread(deck->selectedTape()->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Lecture");
    EXPECT_TRUE(QFileInfo(reread.filename()).fileName().contains("Lecture"));
}

TEST_F(Deck, TheEndOfTheTapeStopsTheDeckAlsoWhileWinding) {
    const auto tape = record(0.8);
    ASSERT_TRUE(tape);
    deck->playTape();
    ASSERT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 5));
    // Winding from the start: the wind ends at the end and the tape stays in.
    deck->window()->hudView()->setPosition(0);
    deck->fastForwardTape();
    ASSERT_EQ(stateName(*deck), "TapeMap::FastForwarding");
    // The volume changed during a wind is kept and heard at once.
    deck->window()->hudView()->setVolume(-10);
    EXPECT_FLOAT_EQ(UserDefaults::standard().value("PlaybackVolume").toFloat(), -10.0f);
    ASSERT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 5));
    EXPECT_TRUE(deck->audioFilePlayer());
}

TEST_F(Deck, ATapeThatCannotBePlayedLeavesAQuietDeck) {
    QFile damaged(QDir(folder.path()).filePath("Damaged.m4a"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, 'x'));
    damaged.close();
    deck->tapeArrayController()->checkRecordingDirectory();
    const auto& arranged = deck->tapeArrayController()->arrangedObjects();
    const auto found = std::find_if(arranged.begin(), arranged.end(), [](const auto& tape) {
        return tape->filename().endsWith("Damaged.m4a");
    });
    ASSERT_NE(found, arranged.end());
    deck->tapeArrayController()->setSelectedObjects({*found});
    pumpFor(0.1);
    EXPECT_EQ(stateName(*deck), "TapeMap::TapeStopped");
    EXPECT_EQ(deck->selectedTape(), *found);
    EXPECT_FALSE(deck->audioFilePlayer());
    // PLAY does not pretend: the deck says why and comes back to rest.
    deck->playTape();
    EXPECT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 2));
    EXPECT_EQ(alerts, QStringList{"The tape cannot be played"});
}

TEST_F(Deck, TheDrawerSearchAndTapeNavigation) {
    const auto older = record(0.4);
    // Labels keep whole seconds: the second tape must be a second newer.
    pumpFor(1.1);
    const auto newer = record(0.4);
    ASSERT_TRUE(older && newer);
    ASSERT_EQ(deck->tapeArrayController()->arrangedObjects().front(), newer);

    // Next at the newest tape and previous at the oldest change nothing.
    deck->tapeArrayController()->setSelectedObjects({newer});
    deck->nextTape();
    EXPECT_EQ(deck->tapeArrayController()->selectedObjects().front(), newer);
    deck->previousTape();
    EXPECT_EQ(deck->tapeArrayController()->selectedObjects().front(), older);
    pumpFor(0.1);
    EXPECT_EQ(deck->selectedTape(), older);
    deck->previousTape();
    EXPECT_EQ(deck->tapeArrayController()->selectedObjects().front(), older);

    // Searching selects the first match.
    older->setTitle(QStringLiteral("Quartet"));
    deck->search(QStringLiteral("quartet"));
    ASSERT_EQ(deck->tapeArrayController()->arrangedObjects().size(), 1u);
    EXPECT_EQ(deck->tapeArrayController()->selectedObjects().front(), older);
    deck->search(QString());

    // The drawer closes to 390 px over a second, and Find opens it again.
    double now = 1000.0;
    DeckClock::setSource([&] { return now; });
    DeckWindow* window = deck->window();
    ASSERT_TRUE(deck->tapesDisclosed());
    EXPECT_EQ(window->width(), DeckWindow::OpenWidth);
    deck->discloseTapes();
    now += 0.5;
    window->advanceAnimations();
    EXPECT_GT(window->width(), DeckWindow::ClosedWidth);
    EXPECT_LT(window->width(), DeckWindow::OpenWidth);
    now += 0.6;
    window->advanceAnimations();
    EXPECT_EQ(window->width(), DeckWindow::ClosedWidth);
    EXPECT_FALSE(deck->tapesDisclosed());
    deck->performFindPanelAction();
    EXPECT_TRUE(deck->tapesDisclosed());
    now += 1.1;
    window->advanceAnimations();
    EXPECT_EQ(window->width(), DeckWindow::OpenWidth);
}

TEST_F(Deck, ClosingTheWindowFinishesARecordingAndCommitsEveryTape) {
    const auto earlier = record(0.4);
    ASSERT_TRUE(earlier);
    earlier->setNotes(QStringLiteral("kept"));
    deck->recordTape();
    const auto recording = deck->selectedTape();
    ASSERT_TRUE(recording);
    // The earlier tape's edit was written when it left the deck.
    Tape earlierOnDisk(earlier->filename());
    earlierOnDisk.setCommitsOnDestruction(false);
    EXPECT_EQ(earlierOnDisk.notes(), "kept");
    pumpFor(1.0);
    recording->setTitle(QStringLiteral("Closing time"));
    deck->windowWillClose();
    EXPECT_FALSE(deck->audioFileRecorder());
    Tape reread(recording->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Closing time");
    EXPECT_GT(reread.duration(), 0.5);
}

TEST_F(Deck, KeysAndClosingWhileARecordingIsBeingFinishedWaitTheirTurn) {
    deck->recordTape();
    const auto tape = deck->selectedTape();
    ASSERT_TRUE(tape);
    pumpFor(0.8);
    // A second STOP and a PAUSE arrive while the first STOP waits for the
    // recorder; then the window closes.
    QTimer::singleShot(0, deck.get(), [this] {
        deck->stopTape();
        deck->pauseTape();
        deck->windowWillClose();
    });
    deck->stopTape();
    ASSERT_TRUE(pumpUntil([&] { return deck->isClosed(); }, 5));
    EXPECT_FALSE(deck->audioFileRecorder());
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Untitled");
    EXPECT_GT(reread.duration(), 0.4);
}

TEST_F(Deck, ARecordingThatCannotStartSaysWhyAndLeavesNoTape) {
    QTemporaryDir gone;
    const QString missing = gone.path() + "/library";
    UserDefaults::standard().setValue(QStringLiteral("TapeLibraryLocation"), missing.toUtf8());
    const size_t tapes = deck->tapeArrayController()->content().size();
    deck->recordTape();
    ASSERT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::Idle"; }, 5));
    EXPECT_EQ(alerts.size(), 1);
    EXPECT_EQ(deck->tapeArrayController()->content().size(), tapes);
    EXPECT_FALSE(deck->selectedTape());
    EXPECT_FALSE(deck->window()->hudView()->recordingMode());
}

TEST_F(Deck, ALostInputDeviceStopsTheRecordingKeepsTheTapeAndSaysWhy) {
    // An input of its own, hearing the server's tone, unplugged halfway through.
    const QString module = QString::fromStdString(AudioServerTools::run(
        "pactl load-module module-remap-source source_name=deck_lost_input "
        "master=cassora_tone.monitor master_channel_map=front-left channel_map=mono remix=no"));
    UserDefaults::standard().setValue(QStringLiteral("RecordDeviceUID"),
                                      QStringLiteral("deck_lost_input"));
    pumpFor(0.3);
    deck->recordTape();
    const auto tape = deck->selectedTape();
    ASSERT_TRUE(tape);
    pumpFor(1.5);
    AudioServerTools::run("pactl unload-module " + module.toStdString());
    const bool stopped = pumpUntil([&] { return stateName(*deck) != "TapeMap::Recording"; }, 10);
    UserDefaults::standard().removeValue(QStringLiteral("RecordDeviceUID"));
    ASSERT_TRUE(stopped);
    EXPECT_EQ(alerts.size(), 1);
    EXPECT_FALSE(deck->audioFileRecorder());
    const auto& listed = deck->tapeArrayController()->content();
    EXPECT_NE(std::find(listed.begin(), listed.end(), tape), listed.end());
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Untitled");
    EXPECT_GT(reread.duration(), 0.5);
}

TEST_F(Deck, AnInputThatStopsDeliveringIsSaidOnTheDeckUntilItComesBack) {
    // As the program runs: the journal stays until the tape is labelled.
    MediaAudioFile::setJournalKeptAfterFinishing(true);
    const QString sink = QString::fromStdString(
        AudioServerTools::run("pactl load-module module-null-sink sink_name=deck_sleepy_input"));
    const QString tone = QString::fromStdString(
        AudioServerTools::run("pactl load-module module-sine sink=deck_sleepy_input"));
    UserDefaults::standard().setValue(QStringLiteral("RecordDeviceUID"),
                                      QStringLiteral("deck_sleepy_input.monitor"));
    pumpFor(0.3);
    deck->recordTape();
    const auto tape = deck->selectedTape();
    ASSERT_TRUE(tape);
    pumpFor(1.0);
    EXPECT_TRUE(deck->window()->titleBarView()->notice().isEmpty());
    // Suspended, as a frozen server or a closed laptop lid would leave it.
    AudioServerTools::run("pactl suspend-sink deck_sleepy_input 1");
    const bool said =
        pumpUntil([&] { return !deck->window()->titleBarView()->notice().isEmpty(); }, 6);
    AudioServerTools::run("pactl suspend-sink deck_sleepy_input 0");
    EXPECT_TRUE(said);
    EXPECT_TRUE(deck->notice().contains("still recording")) << deck->notice().toStdString();
    EXPECT_EQ(stateName(*deck), "TapeMap::Recording");
    EXPECT_TRUE(pumpUntil([&] { return deck->window()->titleBarView()->notice().isEmpty(); }, 6));
    deck->stopTape();
    const bool stopped = pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 5);
    UserDefaults::standard().removeValue(QStringLiteral("RecordDeviceUID"));
    AudioServerTools::run("pactl unload-module " + tone.toStdString());
    AudioServerTools::run("pactl unload-module " + sink.toStdString());
    MediaAudioFile::setJournalKeptAfterFinishing(false);
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(alerts.isEmpty()) << alerts.join("; ").toStdString();
    // Labelled, so its journal is gone; the file decodes as the deck left it.
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Untitled");
    EXPECT_FALSE(QFileInfo::exists(
        QFileInfo(tape->filename())
            .dir()
            .filePath("." + QFileInfo(tape->filename()).fileName() + ".journal")));
}

TEST_F(Deck, AResumedRecordingWhoseInputWentAwaySaysSoAndFinishesTheTape) {
    const QString module = QString::fromStdString(AudioServerTools::run(
        "pactl load-module module-remap-source source_name=deck_paused_input "
        "master=cassora_tone.monitor master_channel_map=front-left channel_map=mono remix=no"));
    UserDefaults::standard().setValue(QStringLiteral("RecordDeviceUID"),
                                      QStringLiteral("deck_paused_input"));
    pumpFor(0.3);
    deck->recordTape();
    const auto tape = deck->selectedTape();
    ASSERT_TRUE(tape);
    pumpFor(1.2);
    deck->pauseTape();
    ASSERT_TRUE(deck->isRecordingPaused());
    // Unplugged while paused: PAUSE again finds no input.
    AudioServerTools::run("pactl unload-module " + module.toStdString());
    pumpFor(0.5);
    deck->pauseTape();
    const bool stopped = pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 10);
    UserDefaults::standard().removeValue(QStringLiteral("RecordDeviceUID"));
    ASSERT_TRUE(stopped) << stateName(*deck).toStdString();
    EXPECT_EQ(alerts, QStringList{"The recording stopped"});
    EXPECT_FALSE(deck->audioFileRecorder());
    EXPECT_FALSE(deck->isRecordingPaused());
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Untitled");
    EXPECT_GT(reread.duration(), 0.8);
    EXPECT_FALSE(QFileInfo::exists(
        QFileInfo(tape->filename())
            .dir()
            .filePath("." + QFileInfo(tape->filename()).fileName() + ".journal")));
}

TEST_F(Deck, APlayerWhoseOutputWentAwayPlaysOnAtTheSameFrameOnTheOutputThereIsNow) {
    const auto tape = record(3.0);
    ASSERT_TRUE(tape);
    auto loadSink = [](const char* name) {
        return AudioServerTools::run(std::string("pactl load-module module-null-sink sink_name=") +
                                     name + " rate=48000 channels=2");
    };
    auto insertAgain = [&] {
        deck->tapeArrayController()->setSelectedObjects({});
        pumpFor(0.1);
        deck->tapeArrayController()->setSelectedObjects({tape});
        pumpFor(0.1);
        ASSERT_EQ(stateName(*deck), "TapeMap::TapeStopped");
        ASSERT_TRUE(deck->audioFilePlayer());
    };

    // Unplugged while the tape plays.
    const std::string first = loadSink("deck_lost_output");
    UserDefaults::standard().setValue(QStringLiteral("PlaybackDeviceUID"),
                                      QStringLiteral("deck_lost_output"));
    insertAgain();
    deck->playTape();
    pumpFor(0.8);
    const VELKExtendedAudioFilePlayer* before = deck->audioFilePlayer();
    const int64_t frame = before->currentFrame();
    EXPECT_GT(frame, 0);
    AudioServerTools::run("pactl unload-module " + first);
    ASSERT_TRUE(pumpUntil([&] { return deck->audioFilePlayer() != before; }, 5));
    ASSERT_TRUE(deck->audioFilePlayer());
    EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
    EXPECT_TRUE(deck->audioFilePlayer()->isFilePlaying());
    EXPECT_GE(deck->audioFilePlayer()->currentFrame(), frame - 22050);
    EXPECT_FALSE(AudioServerTools::streamsPlayingInto("cassora_null").empty());
    deck->stopTape();
    ASSERT_EQ(stateName(*deck), "TapeMap::TapeStopped");

    // Unplugged while the tape waits in the deck: PLAY plays it where the sound goes now.
    const std::string second = loadSink("deck_gone_output");
    UserDefaults::standard().setValue(QStringLiteral("PlaybackDeviceUID"),
                                      QStringLiteral("deck_gone_output"));
    insertAgain();
    AudioServerTools::run("pactl unload-module " + second);
    pumpFor(0.5);
    deck->playTape();
    pumpFor(0.3);
    EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
    ASSERT_TRUE(deck->audioFilePlayer());
    EXPECT_TRUE(deck->audioFilePlayer()->isFilePlaying());
    EXPECT_FALSE(AudioServerTools::streamsPlayingInto("cassora_null").empty());
    deck->stopTape();
    UserDefaults::standard().removeValue(QStringLiteral("PlaybackDeviceUID"));
    EXPECT_TRUE(alerts.isEmpty()) << alerts.join("; ").toStdString();
}

// Makes a folder read-only for this process: by its permissions, or, for
// root (whom permissions do not stop), by mounting it read-only over itself.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path) : mPath(QFile::encodeName(path)) {
        if (getuid() != 0) {
            mDone = chmod(mPath.constData(), 0555) == 0;
            mMounted = false;
        } else {
            mDone = mount(mPath.constData(), mPath.constData(), nullptr, MS_BIND, nullptr) == 0 &&
                    mount(nullptr, mPath.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                          nullptr) == 0;
            mMounted = true;
        }
    }
    ~ReadOnlyFolder() {
        if (mMounted) {
            umount2(mPath.constData(), MNT_DETACH);
        } else {
            chmod(mPath.constData(), 0755);
        }
    }
    bool done() const { return mDone; }

private:
    QByteArray mPath;
    bool mDone = false;
    bool mMounted = false;
};

TEST_F(Deck, AReadOnlyLibraryIsSaidAndALabelItCannotTakeGoesBackToWhatTheFileHolds) {
    QStringList informative;
    deck->setAlertPresenter([&](const QString& message, const QString& text) {
        alerts << message;
        informative << text;
    });
    const auto tape = record(1.0);
    ASSERT_TRUE(tape);
    EXPECT_TRUE(deck->notice().isEmpty());
    {
        ReadOnlyFolder readOnly(folder.path());
        if (!readOnly.done()) {
            GTEST_SKIP() << "the folder cannot be made read-only here";
        }
        // A rename, as the cassette's title field makes it.
        tape->setTitle(QStringLiteral("Never written"));
        EXPECT_EQ(alerts, QStringList{"The label could not be saved"});
        EXPECT_EQ(tape->title(), "Untitled");
        EXPECT_FALSE(tape->dirty());
        EXPECT_EQ(deck->window()->tapeView()->title(), "Untitled");
        EXPECT_EQ(deck->window()->titleBarView()->tapeTitle(), "Untitled");
        ASSERT_TRUE(deck->audioFilePlayer()); // the tape still plays

        // Said at launch, naming the folder.
        alerts.clear();
        informative.clear();
        deck.reset();
        deck = std::make_unique<WindowController>(*preferences);
        deck->setAlertPresenter([&](const QString& message, const QString& text) {
            alerts << message;
            informative << text;
        });
        EXPECT_TRUE(deck->notice().contains(folder.path())) << deck->notice().toStdString();
        EXPECT_TRUE(deck->notice().contains("read-only"));
        EXPECT_FALSE(deck->window()->titleBarView()->notice().isEmpty());

        // And on REC, which makes no tape.
        const size_t tapes = deck->tapeArrayController()->content().size();
        deck->recordTape();
        pumpFor(0.3);
        ASSERT_EQ(alerts, QStringList{"The recording could not start"});
        EXPECT_TRUE(informative.first().contains(folder.path()))
            << informative.first().toStdString();
        EXPECT_EQ(deck->tapeArrayController()->content().size(), tapes);
        EXPECT_NE(stateName(*deck), "TapeMap::Recording");
    }
    Tape reread(tape->filename());
    reread.setCommitsOnDestruction(false);
    EXPECT_EQ(reread.title(), "Untitled");
}

TEST_F(Deck, ASearchNeverTakesTheTapeOutOfTheDeck) {
    const auto first = record(0.5);
    pumpFor(1.1);
    const auto second = record(2.0);
    ASSERT_TRUE(first && second);
    first->setTitle(QStringLiteral("Rehearsal"));
    second->setTitle(QStringLiteral("Concert"));
    deck->tapeArrayController()->setSelectedObjects({second});
    pumpFor(0.1);
    deck->playTape();
    ASSERT_EQ(stateName(*deck), "TapeMap::Playing");
    const VELKExtendedAudioFilePlayer* player = deck->audioFilePlayer();

    const auto stillPlaying = [&] {
        pumpFor(0.1);
        EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
        EXPECT_EQ(deck->selectedTape(), second);
        EXPECT_EQ(deck->audioFilePlayer(), player);
    };
    deck->search(QStringLiteral("rehearsal")); // only another tape matches
    stillPlaying();
    EXPECT_TRUE(deck->tapeArrayController()->selectedObjects().empty());
    deck->search(QStringLiteral("nothing like it")); // nothing matches
    stillPlaying();
    deck->search(QStringLiteral("concert"));
    stillPlaying();
    EXPECT_EQ(deck->tapeArrayController()->selectedObjects(), TapeList{second});
    deck->search(QString());
    stillPlaying();
    EXPECT_EQ(deck->tapeArrayController()->selectedObjects(), TapeList{second});
    deck->stopTape();
}

TEST_F(Deck, EmailAndTheMusicLibrarySayHowTheyWent) {
    QStringList informative;
    deck->setAlertPresenter([&](const QString& message, const QString& text) {
        alerts << message;
        informative << text;
    });
    const auto tape = record(0.8);
    ASSERT_TRUE(tape);
    // This test machine has no mail program set up.
    deck->tapeArrayController()->emailTape(*tape);
    ASSERT_TRUE(pumpUntil([&] { return !alerts.isEmpty(); }, 10));
    EXPECT_EQ(alerts, QStringList{"The tape could not be emailed"});
    EXPECT_FALSE(informative.first().isEmpty());

    alerts.clear();
    informative.clear();
    deck->tapeArrayController()->sendTapeToiTunes(*tape);
    ASSERT_EQ(alerts, QStringList{"The tape is in the Music Library"});
    const QString music = QDir(qEnvironmentVariable("HOME")).filePath("Music");
    EXPECT_TRUE(informative.first().contains(music)) << informative.first().toStdString();
    EXPECT_TRUE(QFileInfo::exists(QDir(music).filePath(QFileInfo(tape->filename()).fileName())));
}

QByteArray settingsFile() {
    UserDefaults::standard().synchronize();
    QFile file(QSettings().fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(Deck, StartUpKeepsToTheMonoRuleAndOpeningThePreferencesChangesNoSetting) {
    // The test server's default input records mono only.
    UserDefaults& defaults = UserDefaults::standard();
    deck.reset();
    defaults.setValue(QStringLiteral("RecordingIsStereo"), true);
    deck = std::make_unique<WindowController>(*preferences);
    deck->setAlertPresenter([this](const QString& message, const QString&) { alerts << message; });
    deck->applicationDidFinishLaunching();
    EXPECT_FALSE(deck->window()->hudView()->stereo());
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("RecordingIsStereo")));
    pumpFor(0.2);

    const QByteArray before = settingsFile();
    ASSERT_FALSE(before.isEmpty());
    preferences->showWindow();
    preferences->selectAudioTab();
    pumpFor(0.3);
    EXPECT_GT(preferences->recordDeviceChannelsPopUp()->count(), 0);
    preferences->window()->close();
    pumpFor(0.2);
    EXPECT_EQ(settingsFile(), before);

    // Stereo chosen for that input is refused, with the alert, wherever it is chosen.
    deck->chooseRecordingChannels(true);
    EXPECT_EQ(alerts, QStringList{"Mono Recording Only"});
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("RecordingIsStereo")));
    EXPECT_FALSE(deck->window()->hudView()->stereo());
    // A stereo input takes it.
    defaults.setValue(QStringLiteral("RecordDeviceUID"), QStringLiteral("cassora_null.monitor"));
    deck->chooseRecordingChannels(true);
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("RecordingIsStereo")));
    EXPECT_EQ(alerts.size(), 1);
    defaults.removeValue(QStringLiteral("RecordDeviceUID"));
    defaults.setValue(QStringLiteral("RecordingIsStereo"), false);
}

TEST_F(Deck, ATallerWindowGivesItsHeightToTheTapeBox) {
    DeckWindow* window = deck->window();
    window->show();
    const QRect box = window->tapeBoxView()->geometry();
    const QRect keys = window->buttonView()->geometry();
    window->resize(window->width(), window->height() + 300);
    pumpFor(0.1);
    EXPECT_EQ(window->width(), DeckWindow::OpenWidth);
    EXPECT_EQ(window->tapeBoxView()->height(), box.height() + 300);
    EXPECT_EQ(window->tapeBoxView()->y(), box.y());
    EXPECT_EQ(window->buttonView()->geometry(), keys);
}

TEST(DeckPlace, TheWindowOpensOnAScreenWhateverWasSaved) {
    const QSize deck(626, 560);
    // A screen of 1280 x 1024 pixels at a scale of 2.
    const QList<QRect> halfScale{QRect(0, 0, 640, 512)};
    // Saved at a place where most of the deck would be off the screen.
    const QRect placed = WindowController::placeWindow(QPoint(300, 200), deck, halfScale);
    EXPECT_EQ(placed.topLeft(), QPoint(14, 0));
    EXPECT_EQ(placed.height(), 512) << "no taller than the screen";
    // Where it fits, it opens where it was, as tall as it was.
    const QList<QRect> screens{QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)};
    EXPECT_EQ(WindowController::placeWindow(QPoint(1500, 100), QSize(626, 700), screens),
              QRect(1500, 100, 626, 700));
    // On no screen, or nothing saved: centred on the first.
    const QPoint middle = QRect(0, 0, 1280, 1024).center();
    EXPECT_LE((WindowController::placeWindow(QPoint(-5000, 40), deck, screens).center() - middle)
                  .manhattanLength(),
              2);
    EXPECT_LE((WindowController::placeWindow(std::nullopt, deck, screens).center() - middle)
                  .manhattanLength(),
              2);
}

// The button strip driving the real transport of the deck.

void click(SegmentedTapeButtonView* strip, int segment, double heldSeconds = 0.0) {
    strip->resize(600, 80);
    double now = 5000.0;
    strip->setClock([&now] { return now; });
    const QPointF point(segment * 100 + 50, 40);
    QMouseEvent press(QEvent::MouseButtonPress, point, strip->mapToGlobal(point), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(strip, &press);
    now += heldSeconds;
    QMouseEvent release(QEvent::MouseButtonRelease, point, strip->mapToGlobal(point),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(strip, &release);
}

TEST_F(Deck, RecordLatchesRecordAndPlayUntilStop) {
    SegmentedTapeButtonView* strip = deck->window()->buttonView();
    click(strip, 0);
    EXPECT_EQ(stateName(*deck), "TapeMap::Recording");
    EXPECT_TRUE(strip->isDepressedSegment(0));
    EXPECT_TRUE(strip->isDepressedSegment(1));
    click(strip, 3);
    EXPECT_EQ(stateName(*deck), "TapeMap::Recording");
    click(strip, 5);
    EXPECT_EQ(stateName(*deck), "TapeMap::Paused");
    EXPECT_TRUE(strip->isDepressedSegment(5));
    click(strip, 5);
    EXPECT_EQ(stateName(*deck), "TapeMap::Recording");
    EXPECT_FALSE(strip->isDepressedSegment(5));
    pumpFor(0.3);
    click(strip, 4);
    // The new tape is put in the deck once the recording is finished.
    ASSERT_TRUE(pumpUntil([&] { return stateName(*deck) == "TapeMap::TapeStopped"; }, 5));
    EXPECT_FALSE(strip->isDepressedSegment(0));
}

TEST_F(Deck, HeldFastForwardCuesWhilePlaying) {
    ASSERT_TRUE(record(1.0));
    SegmentedTapeButtonView* strip = deck->window()->buttonView();
    EXPECT_EQ(stateName(*deck), "TapeMap::TapeStopped");
    click(strip, 1);
    EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
    click(strip, 3, 1.0); // held: cue while held, back to play on release
    EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
    EXPECT_FALSE(strip->isDepressedSegment(3));
    click(strip, 3); // tapped: keeps cueing until FFWD is pressed again
    EXPECT_EQ(stateName(*deck), "TapeMap::Cueing");
    EXPECT_TRUE(strip->isDepressedSegment(3));
    click(strip, 3);
    EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
    click(strip, 4);
    EXPECT_EQ(stateName(*deck), "TapeMap::TapeStopped");
    click(strip, 1, 1.0); // PLAY held with the mouse plays only while held
    EXPECT_EQ(stateName(*deck), "TapeMap::TapeStopped");
    EXPECT_FALSE(strip->isDepressedSegment(1));
}

} // namespace

// Monitoring lights its lamp on the title bar while it runs; when it cannot
// start the deck says why until the reason goes.
TEST_F(Deck, MonitoringShowsOnTheTitleBarAndSaysWhyItCannotStart) {
    DeckTitleBarView* titleBar = deck->window()->titleBarView();
    EXPECT_FALSE(titleBar->isMonitoring());
    deck->setMonitoring(true);
    EXPECT_TRUE(titleBar->isMonitoring());
    const QImage lit = titleBar->grab().toImage();
    deck->setMonitoring(false);
    EXPECT_FALSE(titleBar->isMonitoring());
    EXPECT_NE(lit, titleBar->grab().toImage()) << "the lamp is not drawn";

    const QString reason = QStringLiteral("Monitoring cannot start: the playback device cannot be "
                                          "opened. Is it unplugged or in use?");
    deck->setMonitoringFailure(reason);
    EXPECT_EQ(deck->notice(), reason);
    EXPECT_EQ(titleBar->notice(), "Monitoring cannot start");
    EXPECT_EQ(titleBar->toolTip(), reason);
    deck->setMonitoringFailure(QString());
    EXPECT_TRUE(deck->notice().isEmpty());
    EXPECT_TRUE(titleBar->notice().isEmpty());
}
