#pragma once

#include "app/transport/Cassora_sm.h"
#include "app/transport/WindowControllerActions.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QListWidget;
class SegmentedTapeButtonView;

// The deck window until the full deck exists: the transport keys drive the
// real transport state machine, the window shows the current state and
// lists the deck actions the machine asks for.
class DeckPreviewWindow : public QWidget, public WindowControllerActions {
    Q_OBJECT

public:
    explicit DeckPreviewWindow(QWidget* parent = nullptr);
    ~DeckPreviewWindow() override;

    SegmentedTapeButtonView* buttonView() const { return mButtonView; }
    const WindowControllerContext& transport() const { return *mContext; }

public slots:
    // Transport actions of the button strip.
    void recordTape(QObject* sender);
    void playTape(QObject* sender);
    void stopTape(QObject* sender);
    void pauseTape(QObject* sender);
    void rewindTape(QObject* sender);
    void fastForwardTape(QObject* sender);

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildButtonStrip();
    void sendEvent(void (WindowControllerContext::*event)());
    void note(const QString& action);
    void showState();

    SegmentedTapeButtonView* mButtonView = nullptr;
    QLabel* mStateLabel = nullptr;
    QLabel* mSpeedLabel = nullptr;
    QCheckBox* mTapeSelected = nullptr;
    QListWidget* mActionLog = nullptr;
    std::unique_ptr<WindowControllerContext> mContext;
};
