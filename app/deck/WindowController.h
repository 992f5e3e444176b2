#pragma once

#include "app/deck/BeatTimer.h"
#include "app/library/ArrayController.h"
#include "app/library/RecordingStallWatch.h"
#include "app/library/Tape.h"
#include "app/transport/WindowControllerActions.h"
#include "audio/hardware/VELKAudioHardware.h"
#include "audio/player/VELKExtendedAudioFilePlayer.h"
#include "audio/recorder/VELKExtendedAudioFileRecorder.h"

#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class DeckHotKeys;
class DeckWindow;
class PreferencesController;
class SoundEffectPlayers;
class StatusItem;
class TapeLibraryArrayController;
class TapeViewBinding;
class VELKAudioInputMeter;
class WindowControllerContext;

// The deck controller. It builds the deck window, turns every transport
// input into one event of the transport state machine, and carries out what
// the machine asks: recording new tapes into the library, playing the tape in
// the deck at every deck speed, the transport sounds, the level meter and
// the HUD's time and position, the tape box's selection, and writing label
// edits into the tapes' files.
//
// Everything runs on the main thread; the engine reports back through the
// main queue.
class WindowController : public QObject,
                         public WindowControllerActions,
                         public VELKAudioHardwareDelegate,
                         public VELKExtendedAudioFilePlayerDelegate,
                         public VELKExtendedAudioFileRecorderDelegate {
    Q_OBJECT

public:
    // The library folder is the preferences' `tapeLibraryURL`.
    explicit WindowController(PreferencesController& preferences, QObject* parent = nullptr);
    ~WindowController() override;

    DeckWindow* window() const { return mWindow; }
    // Shows the window where it was last, as tall as it was (or centred on
    // the first run), always on a screen.
    void showWindow();
    // Where the window of `size` goes, saved at `origin`, given the screens'
    // available areas: on the screen the origin is on (else the first one,
    // centred), moved so that as much of it as fits is on that screen.
    static QRect placeWindow(std::optional<QPoint> origin, QSize size, const QList<QRect>& areas);
    // Brings the window to the front where it is (restored when minimized).
    void raiseWindow();

    // After the application has started: the folder watch and the
    // observations that follow settings, the global hot keys and the status
    // item among them.
    void applicationDidFinishLaunching();
    // The global hot keys and the status item (nullptr before launching has finished).
    DeckHotKeys* hotKeys() const { return mHotKeys.get(); }
    StatusItem* statusItem() const { return mStatusItem.get(); }

    // The registered defaults of the deck.
    static void registerDefaults();

    // The state of the deck, for menus and tests.
    WindowControllerContext& transport() const { return *mContext; }
    std::shared_ptr<Tape> selectedTape() const { return mSelectedTape; }
    void setSelectedTape(const std::shared_ptr<Tape>& tape);
    TapeLibraryArrayController* tapeArrayController() const { return mTapeArrayController.get(); }
    VELKExtendedAudioFilePlayer* audioFilePlayer() const { return mAudioFilePlayer.get(); }
    VELKExtendedAudioFileRecorder* audioFileRecorder() const { return mAudioFileRecorder.get(); }
    VELKAudioInputMeter* audioInputMeter() const { return mAudioInputMeter.get(); }
    bool isRecording() const;
    bool isRecordingPaused() const { return mRecordingPaused; }
    bool tapesDisclosed() const { return mTapesDisclosed; }
    bool isClosed() const { return mClosed; }
    // What the deck's title bar says stands in the way; empty when nothing does.
    QString notice() const;
    QString soundFilePath() const;

    // The tape menu shown on the cassette and the tape box's spines.
    void setTapeMenu(QMenu* menu);
    // The key of a transport segment as the keyboard layout labels it ("Y"
    // for REC on a German keyboard); empty when it has none.
    QString transportKeyName(int segment) const;
    // Whether a tape command (reveal, trash, export) can act on the tape now.
    bool canOperateOnTape(const std::shared_ptr<Tape>& tape) const;
    // The tape a command acts on: `tape` itself, else the tape menu's tape,
    // else the selected tape.
    std::shared_ptr<Tape> tapeToOperateOn(const std::shared_ptr<Tape>& tape) const;

    // Replaces how alerts are shown (tests answer them at once).
    using AlertPresenter = std::function<void(const QString& message, const QString& informative)>;
    void setAlertPresenter(AlertPresenter presenter) { mAlertPresenter = std::move(presenter); }

    // Stops the transport, finishes a recording and commits every tape, as
    // closing the window does. Safe to call more than once.
    void windowWillClose();

public slots:
    // Monitoring: the lamp on the title bar while it runs, and why it cannot
    // start (empty when nothing stands in its way).
    void setMonitoring(bool monitoring);
    void setMonitoringFailure(const QString& reason);

    // Transport commands: the button strip, menus, hot keys.
    void recordTape(QObject* sender = nullptr);
    void playTape(QObject* sender = nullptr);
    void stopTape(QObject* sender = nullptr);
    void pauseTape(QObject* sender = nullptr);
    void rewindTape(QObject* sender = nullptr);
    void fastForwardTape(QObject* sender = nullptr);

    // Tape commands.
    void previousTape();
    void nextTape();
    void revealInFinder(const std::shared_ptr<Tape>& tape = nullptr);
    void moveTapeToTrash(const std::shared_ptr<Tape>& tape = nullptr);
    void revealLibraryInFinder();
    void search(const QString& text);
    void performFindPanelAction();
    void discloseTapes();
    // Copies tapes into the library folder (the folder's watch adds them);
    // names already there are skipped, failures are shown.
    void importTapesIntoLibrary(const QList<QUrl>& urls);
    // Asks for tapes to import, and for where to export the selected tape.
    void importTapes();
    void exportTape();
    // The label, the notes and the letter of the tape in the deck, as the
    // cassette's clicks edit them.
    void renameTape();
    void editTapeNotes();
    void nextTapeColour();
    // The playback volume a bar up or down; the tape to its start or end.
    void volumeUp();
    void volumeDown();
    void goToStart();
    void goToEnd();
    // Stereo or mono recording, chosen the way the HUD's switch chooses:
    // stereo on a mono-only input is refused with an alert.
    void chooseRecordingChannels(bool stereo);

signals:
    // The deck has closed: the transport is stopped and every tape committed.
    void windowDidClose();
    void recordingStateChanged();
    // The tape in the deck changed (the tape commands' availability with it).
    void selectedTapeChanged();
    void shareButtonPressed();

    // WindowControllerActions
public:
    void clearButtons() override;
    void setSelectedButton(int segment) override;
    void clearSelectedButton(int segment) override;
    void playSoundEffect(int effect) override;
    void stopSoundEffect(int effect) override;
    void setPlaybackSpeed(double speed) override;
    void startPlayingAudio() override;
    void stopPlayingAudio() override;
    void muteAudio() override;
    void unmuteAudio() override;
    void createTapePlayer() override;
    void destroyTapePlayer() override;
    void clearCurrentTime() override;
    void startRecordingAudio() override;
    void stopRecordingAudio() override;
    void pauseRecordingAudio() override;
    void resumeRecordingAudio() override;
    void startHUDUpdates() override;
    void stopHUDUpdates() override;
    void startPlayAnimation() override;
    void stopPlayAnimation() override;
    void playInsertionAnimation() override;
    void playRemovalAnimation() override;
    void selectCurrentTape() override;
    void clearSelectedTape() override;
    bool canSelectTape() const override;

    // The engine's notices.
public:
    void defaultInputDeviceDidChange() override;
    void deviceListDidChange() override;
    void defaultInputDeviceSampleRateDidChange() override;
    void audioFilePlayerDidReachEndOfFile(VELKExtendedAudioFilePlayer* player) override;
    void audioFilePlayerDidFail(VELKExtendedAudioFilePlayer* player,
                                const std::string& reason) override;
    void audioFileRecorderDidStop(VELKExtendedAudioFileRecorder* recorder) override;
    void audioFileRecorderDidFail(VELKExtendedAudioFileRecorder* recorder,
                                  const std::string& reason) override;

    // Level meter and HUD.
    void createAudioInputMeter();
    void destroyAudioInputMeter();
    void startLevelMeter(bool start);
    void updateMeter();
    void startHUDUpdates(bool start);
    void updateHUD();

    // Label commits.
    void commitDirtyTape();
    // Writes the tape's label; a label that cannot be written is put back
    // as the file holds it, and the user is told. False then.
    bool commitLabel(Tape& tape);
    // Waits, turning the event loop, until the recorder has stopped.
    bool isWaitingForRecorder() const { return mWaitingForRecorder; }

private:
    void buildDeck();
    void setUpButtonStrip();
    void loadDefaults();
    void observeHUD();
    void observeTapeSelection();
    // Transport inputs, turned into the machine's event when they are
    // delivered: the latched keys decide between Down and Up events then.
    enum class TransportCommand { Record, Play, Stop, Pause, Rewind, FastForward, TapeChosen };
    void sendCommand(TransportCommand command);
    void sendEvent(void (WindowControllerContext::*event)());
    // Whether a transport event may run now: not in the middle of a
    // transition, and not while a recording is being finished.
    bool canDeliverEvents() const;
    void dropTapeThatWasNeverRecorded(const std::shared_ptr<Tape>& tape);
    // Where the tape in the deck is and how it sounds, to reopen its player there.
    struct PlayerPlace {
        int64_t frame = 0;
        double speed = 1.0;
        bool muted = false;
    };
    PlayerPlace playerPlace() const;
    // Makes the player of the tape in the deck again, on the playback
    // device of the moment, at `place`; plays it when asked. False (the
    // reason in mTapePlayerFailure) when it cannot.
    bool recreateTapePlayer(const PlayerPlace& place, bool play);
    // Whether the deck is in a state where the tape moves.
    bool transportMovesTape() const;
    // Stops a moving tape once the current transition is over.
    void bringTapeToRest();
    // Says why the tape cannot play and stops the deck.
    void tapeCannotPlay(const QString& reason);
    void recordingDidFail(const QString& reason);
    void finalizeRecordedFile();
    void recordDeviceDidChange();
    // Stereo on an input that records only mono becomes mono, without a word
    // (the user chose the device, not the mode).
    void applyMonoRule();
    void recordDeviceChannelsDidChange();
    void tapeLibraryLocationDidChange();
    void commitEveryTape();
    void observeTape(const std::shared_ptr<Tape>& tape);
    void stopObservingTape(const std::shared_ptr<Tape>& tape);
    void selectTapeAtArrangedIndex(int index);
    void showAlert(const QString& message, const QString& informative,
                   QMessageBox::Icon icon = QMessageBox::Warning);
    // What stands in the way of saving tapes in the library folder, naming
    // it; empty when nothing does.
    QString libraryFolderProblem() const;
    static QString soundServerMissing();
    // Whether the audio server answers now; the deck follows when it has
    // come (or gone) since it last asked.
    bool checkSoundServer();
    // The deck's standing notices (no audio server, a library folder that
    // cannot take tapes), shown on its title bar.
    void updateNotices();
    // Follows whether audio still arrives while recording (HUD timer).
    void watchForStalledRecording(double recordedSeconds);
    void tapeBoxSelectionDidChange();

    PreferencesController& mPreferences;
    DeckWindow* mWindow = nullptr;
    std::unique_ptr<TapeLibraryArrayController> mTapeArrayController;
    std::unique_ptr<WindowControllerContext> mContext;
    std::unique_ptr<SoundEffectPlayers> mSoundEffectPlayers;
    TapeViewBinding* mTapeViewBinding = nullptr;
    QPointer<QMenu> mTapeMenu;

    std::shared_ptr<Tape> mSelectedTape;
    QList<QMetaObject::Connection> mSelectedTapeConnections;
    std::shared_ptr<VELKExtendedAudioFilePlayer> mAudioFilePlayer;
    std::shared_ptr<VELKExtendedAudioFileRecorder> mAudioFileRecorder;
    std::unique_ptr<VELKAudioInputMeter> mAudioInputMeter;
    TapeList mLastSelectedObjects;

    // Fifteen times a second, on the spools' beat.
    BeatTimer mMeterTimer{2};
    BeatTimer mHUDTimer{2};
    bool mUpdatingPositionDisplay = false;
    bool mWaitingForRecorder = false;
    bool mMuted = false;
    double mPlaybackSpeed = 1.0;
    bool mRecordingPaused = false;
    RecordingStallWatch mStallWatch;
    QString mRecordingStall;    // what the deck says while no audio arrives
    QString mMonitoringFailure; // why monitoring that is on cannot start
    bool mTapesDisclosed = true;
    bool mClosed = false;
    bool mClosing = false;
    bool mSearching = false;
    bool mStoppingRecorder = false;
    bool mLibraryLocationChangedWhileRecording = false;
    bool mIsHardwareDelegate = false;
    // Why the tape in the deck has no player, or why it last failed to play.
    QString mTapePlayerFailure;
    // Set while no audio server answers: what the deck says about it.
    QString mSoundServerFailure;
    AlertPresenter mAlertPresenter;
    std::unique_ptr<DeckHotKeys> mHotKeys;
    std::unique_ptr<StatusItem> mStatusItem;
};
