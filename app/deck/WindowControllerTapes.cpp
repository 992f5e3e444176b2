// The deck controller: the tape in the deck, label commits, tape commands and the drawer.

#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DeckWindow.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/TapeView.h"
#include "app/deck/TapeViewBinding.h"
#include "app/library/TapeLibraryArrayController.h"
#include "audio/format/NSXException.h"
#include "platform/desktop/DesktopServices.h"

#include <QApplication>
#include <QScopedValueRollback>

#include <algorithm>

namespace {

// The deck's sound effects by their place in the list of sounds.
constexpr int kDrawerOpenSound = 4;
constexpr int kDrawerCloseSound = 5;
constexpr int kTossTapeSound = 8;

} // namespace

using namespace WindowControllerSupport;

// Tape selection and label commits

void WindowController::tapeBoxSelectionDidChange() {
    if (mSearching) {
        return;
    }
    const TapeList selected = mTapeArrayController->selectedObjects();
    if (selected == mLastSelectedObjects) {
        return;
    }
    // Only a real change is a choice: a re-sort or a commit that renames
    // the tape in the deck must not eject and insert it again.
    mLastSelectedObjects = selected;
    sendCommand(TransportCommand::TapeChosen);
}

bool WindowController::canSelectTape() const {
    return !mTapeArrayController->selectedObjects().empty();
}

void WindowController::selectCurrentTape() {
    const TapeList selected = mTapeArrayController->selectedObjects();
    if (selected.empty()) {
        setSelectedTape(nullptr);
    } else if (selected.front() != mSelectedTape) {
        setSelectedTape(selected.front());
    }
}

void WindowController::clearSelectedTape() {
    setSelectedTape(nullptr);
}

void WindowController::setSelectedTape(const std::shared_ptr<Tape>& tape) {
    const std::shared_ptr<Tape> previous = mSelectedTape;
    mSelectedTape = tape;
    stopObservingTape(previous);
    observeTape(tape);
    mTapeViewBinding->setTape(tape);
    mWindow->titleBarView()->setTapeTitle(tape ? tape->title() : QString());
    if (previous && previous->dirty()) {
        commitLabel(*previous);
    }
    emit selectedTapeChanged();
}

void WindowController::observeTape(const std::shared_ptr<Tape>& tape) {
    if (!tape) {
        return;
    }
    mSelectedTapeConnections << connect(tape.get(), &Tape::dirtyChanged, this,
                                        &WindowController::commitDirtyTape);
    mSelectedTapeConnections << connect(tape.get(), &Tape::titleChanged, this, [this] {
        if (mSelectedTape) {
            mWindow->titleBarView()->setTapeTitle(mSelectedTape->title());
        }
    });
}

void WindowController::stopObservingTape(const std::shared_ptr<Tape>&) {
    for (const auto& connection : std::as_const(mSelectedTapeConnections)) {
        disconnect(connection);
    }
    mSelectedTapeConnections.clear();
}

void WindowController::commitDirtyTape() {
    if (!mSelectedTape || !mSelectedTape->dirty() || mAudioFileRecorder || mStoppingRecorder) {
        // A recording's label is written when the recording is finished.
        return;
    }
    if (!mAudioFilePlayer) {
        commitLabel(*mSelectedTape);
        return;
    }
    // The file is rewritten under the player, so the player is closed around
    // the commit and reopened where it was, at the same speed.
    const PlayerPlace place = playerPlace();
    const bool playing = mAudioFilePlayer->isFilePlaying();
    stopPlayingAudio();
    destroyTapePlayer();
    commitLabel(*mSelectedTape);
    if (!recreateTapePlayer(place, playing) && playing) {
        tapeCannotPlay(mTapePlayerFailure);
    }
}

bool WindowController::commitLabel(Tape& tape) {
    if (tape.commitAttributes()) {
        return true;
    }
    // What cannot be written is not shown as if it were: the label goes
    // back to what the file holds.
    const QString reason = tape.lastError();
    logError(reason);
    tape.discardChanges();
    showAlert(tr("The label could not be saved"),
              tr("%1\n\nThe tape shows what its file holds.").arg(reason));
    return false;
}

void WindowController::commitEveryTape() {
    for (const auto& tape : mTapeArrayController->content()) {
        // The tape being recorded is written when its recording is finished.
        if (mAudioFileRecorder && tape == mSelectedTape) {
            continue;
        }
        if (tape->dirty() && !tape->commitAttributes()) {
            logError(tape->lastError());
        }
    }
}

void WindowController::tapeLibraryLocationDidChange() {
    if (mAudioFileRecorder || mStoppingRecorder) {
        // The recording stays where it started; the deck moves on afterwards.
        mLibraryLocationChangedWhileRecording = true;
        return;
    }
    commitEveryTape();
    const QString folder = soundFilePath();
    if (folder != mTapeArrayController->soundFilePath()) {
        mTapeArrayController->setSoundFilePath(folder);
    }
    mTapeArrayController->checkRecordingDirectory();
    updateNotices();
}

// Tape navigation and commands

void WindowController::selectTapeAtArrangedIndex(int index) {
    mTapeArrayController->setSelectionIndexes({index});
    mWindow->tapeBoxView()->selectRowAndScrollToVisible(index);
}

void WindowController::previousTape() {
    const QList<int>& selection = mTapeArrayController->selectionIndexes();
    const int count = static_cast<int>(mTapeArrayController->arrangedObjects().size());
    if (selection.isEmpty() || selection.first() + 1 >= count) {
        QApplication::beep();
        return;
    }
    selectTapeAtArrangedIndex(selection.first() + 1);
}

void WindowController::nextTape() {
    const QList<int>& selection = mTapeArrayController->selectionIndexes();
    if (selection.isEmpty() || selection.first() == 0) {
        QApplication::beep();
        return;
    }
    selectTapeAtArrangedIndex(selection.first() - 1);
}

std::shared_ptr<Tape> WindowController::tapeToOperateOn(const std::shared_ptr<Tape>& tape) const {
    if (tape) {
        return tape;
    }
    if (mTapeMenu) {
        if (auto* represented = mTapeMenu->property("cassoraTape").value<Tape*>()) {
            for (const auto& candidate : mTapeArrayController->content()) {
                if (candidate.get() == represented) {
                    return candidate;
                }
            }
        }
    }
    return mSelectedTape;
}

bool WindowController::canOperateOnTape(const std::shared_ptr<Tape>& tape) const {
    const std::shared_ptr<Tape> target = tapeToOperateOn(tape);
    if (!target || target->filename().isEmpty() || isRecording()) {
        return false;
    }
    // A paused recording's file has no index until it is finished: it
    // cannot be exported or trashed yet, though other tapes can.
    return !((mAudioFileRecorder || mStoppingRecorder) && target == mSelectedTape);
}

void WindowController::setTapeMenu(QMenu* menu) {
    mTapeMenu = menu;
    mWindow->tapeView()->setContextMenu(menu);
}

void WindowController::revealInFinder(const std::shared_ptr<Tape>& tape) {
    if (canOperateOnTape(tape)) {
        mTapeArrayController->revealTapeInFinder(*tapeToOperateOn(tape));
    }
}

void WindowController::moveTapeToTrash(const std::shared_ptr<Tape>& tape) {
    if (!canOperateOnTape(tape)) {
        return;
    }
    playSoundEffect(kTossTapeSound);
    mTapeArrayController->moveTapeToTrash(tapeToOperateOn(tape));
}

void WindowController::revealLibraryInFinder() {
    DesktopServices::revealInFileManager(soundFilePath());
}

void WindowController::search(const QString& text) {
    {
        // A search only changes what the tape box lists: the tape in the
        // deck stays there, marked in the box while it is listed.
        const QScopedValueRollback<bool> quiet(mSearching, true);
        mTapeArrayController->setFilterString(text);
        mTapeArrayController->rearrangeObjects();
        if (mSelectedTape) {
            const TapeList& listed = mTapeArrayController->arrangedObjects();
            const auto found = std::find(listed.begin(), listed.end(), mSelectedTape);
            if (found != listed.end()) {
                selectTapeAtArrangedIndex(static_cast<int>(found - listed.begin()));
            } else {
                mTapeArrayController->setSelectionIndexes({});
            }
        }
        mLastSelectedObjects = mTapeArrayController->selectedObjects();
    }
    // An empty deck takes the first match.
    if (!mSelectedTape && !mTapeArrayController->arrangedObjects().empty()) {
        selectTapeAtArrangedIndex(0);
    }
}

void WindowController::performFindPanelAction() {
    if (!mTapesDisclosed) {
        discloseTapes();
    }
    mWindow->searchField()->setFocus(Qt::ShortcutFocusReason);
    mWindow->searchField()->selectAll();
}

void WindowController::discloseTapes() {
    mTapesDisclosed = !mTapesDisclosed;
    playSoundEffect(mTapesDisclosed ? kDrawerOpenSound : kDrawerCloseSound);
    mWindow->animateToWidth(mTapesDisclosed ? DeckWindow::OpenWidth : DeckWindow::ClosedWidth, 1.0);
}

// The label of the tape in the deck, from the keyboard and the menus

void WindowController::renameTape() {
    if (mSelectedTape) {
        mWindow->activateWindow();
        mWindow->tapeView()->editTitle();
    }
}

void WindowController::editTapeNotes() {
    if (mSelectedTape) {
        mWindow->activateWindow();
        mWindow->tapeView()->editNotes();
    }
}

void WindowController::nextTapeColour() {
    if (mSelectedTape) {
        mWindow->tapeView()->nextColour();
    }
}
