#pragma once

#include <QMainWindow>

#include <functional>

class DeckDividerView;
class DeckPanelView;
class DeckTitleBarView;
class DrawerButton;
class HUDView;
class QTimer;
class SegmentedTapeButtonView;
class SpeakerGrilleView;
class TapeBoxView;
class TapeLibraryArrayController;
class TapeSearchField;
class TapeView;

// The deck window: a dark panel with the title bar, the HUD, the cassette,
// the transport keys and the speaker grille on the left, and the tape box
// drawer on the right, which the window uncovers by growing from 390 to 626
// pixels. The window only lays out and shows; the deck controller drives it.
class DeckWindow : public QMainWindow {
    Q_OBJECT

public:
    // Window widths with the tape box drawer closed and open.
    static constexpr int ClosedWidth = 390;
    static constexpr int OpenWidth = 626;
    // The tape box's place when the drawer is open.
    static constexpr int TapeBoxX = 367;
    static constexpr int TapeBoxWidth = 236;
    // The button strip: 12 px from the left, 90 px high.
    static constexpr int ButtonStripX = 12;
    static constexpr int ButtonStripHeight = 90;
    static constexpr int TitleBarHeight = 22;

    explicit DeckWindow(TapeLibraryArrayController* tapes, QWidget* parent = nullptr);
    ~DeckWindow() override;

    HUDView* hudView() const { return mHUDView; }
    TapeView* tapeView() const { return mTapeView; }
    SegmentedTapeButtonView* buttonView() const { return mButtonView; }
    TapeBoxView* tapeBoxView() const { return mTapeBoxView; }
    TapeSearchField* searchField() const { return mSearchField; }
    DeckTitleBarView* titleBarView() const { return mTitleBarView; }

    // The height of the deck's content (the menu bar comes on top).
    static int deckHeight();

    // Grows or shrinks the window to `width` over `seconds`, keeping its
    // origin and height; the deck's clock times it. A new call takes over
    // from where a running one is.
    void animateToWidth(int width, double seconds);
    bool isAnimating() const;
    // Brings a running resize up to the deck clock's time.
    void advanceAnimations();

    // Called once the window has been asked to close, before it goes.
    void setCloseHandler(std::function<void()> handler) { mCloseHandler = std::move(handler); }

signals:
    void drawerButtonPressed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOutDeck();
    void layOutDrawer();
    void setContentWidth(int width);

    DeckPanelView* mPanel = nullptr;
    DeckTitleBarView* mTitleBarView = nullptr;
    HUDView* mHUDView = nullptr;
    TapeView* mTapeView = nullptr;
    SegmentedTapeButtonView* mButtonView = nullptr;
    SpeakerGrilleView* mSpeakerGrille = nullptr;
    DrawerButton* mLeftDrawerButton = nullptr;
    DrawerButton* mRightDrawerButton = nullptr;
    DeckDividerView* mDeckDivider = nullptr;
    TapeSearchField* mSearchField = nullptr;
    TapeBoxView* mTapeBoxView = nullptr;

    QTimer* mAnimationTimer = nullptr;
    double mAnimationStart = 0;
    double mAnimationSeconds = 0;
    int mAnimationFromWidth = 0;
    int mAnimationToWidth = 0;
    std::function<void()> mCloseHandler;
    bool mClosing = false;
};
