#include "app/deck/DeckClock.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/HUDView.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/WindowController.h"
#include "app/library/MP4Tags.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/preferences/PreferencesController.h"
#include "app/transport/Cassora_sm.h"
#include "app/transport/SegmentedTapeButtonView.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/UserDefaults.h"

#include "AudioServerTools.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

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
        deck->setAlertPresenter([this](const QString& message, const QString&) {
            alerts << message;
        });
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
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(tape->filename()).dir().filePath(
        "." + QFileInfo(tape->filename()).fileName() + ".journal")));

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
    deck->playTape();
    EXPECT_EQ(stateName(*deck), "TapeMap::Playing");
    deck->stopTape();
    EXPECT_EQ(stateName(*deck), "TapeMap::TapeStopped");
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
    const bool stopped =
        pumpUntil([&] { return stateName(*deck) != "TapeMap::Recording"; }, 10);
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
