#include "app/deck/DeckWindow.h"

#include "app/deck/DeckClock.h"
#include "app/deck/DeckDividerView.h"
#include "app/deck/DeckPanelView.h"
#include "app/deck/DeckTitleBarView.h"
#include "app/deck/DrawerButton.h"
#include "app/deck/HUDView.h"
#include "app/deck/PositionView.h"
#include "app/deck/QualityView.h"
#include "app/deck/StereoView.h"
#include "app/deck/VolumeView.h"
#include "app/deck/SpeakerGrilleView.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/TapeView.h"
#include "app/transport/SegmentedTapeButtonView.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Vertical places of the deck's parts, from the top of the panel.
constexpr int kHUDTop = DeckWindow::TitleBarHeight + 8;
constexpr int kHUDHeight = 64;
constexpr int kCassetteTop = kHUDTop + kHUDHeight + 6;
constexpr int kGrilleHeight = 30;
constexpr int kSideGripWidth = 12;
// Room at the window's right edge for the drawer's grip.
constexpr int kRightGripWidth = DeckWindow::OpenWidth - DeckWindow::TapeBoxX - DeckWindow::TapeBoxWidth;

int deckColumnWidth() {
    return static_cast<int>(std::lround(TapeView::tapeSize().width() + 2 * TapeView::tapePadding()));
}

int cassetteHeight() {
    return static_cast<int>(std::lround(TapeView::tapeSize().height() + 2 * TapeView::tapePadding()));
}

int buttonStripTop() {
    return kCassetteTop + cassetteHeight() + 6;
}

int grilleTop() {
    return buttonStripTop() + DeckWindow::ButtonStripHeight + 8;
}

double easeInOut(double t) {
    return t * t * (3.0 - 2.0 * t);
}

} // namespace

DeckWindow::DeckWindow(TapeLibraryArrayController* tapes, QWidget* parent)
    : QMainWindow(parent) {
    setWindowTitle(tr("Cassora"));
    mPanel = new DeckPanelView(this);
    setCentralWidget(mPanel);

    mTitleBarView = new DeckTitleBarView(mPanel);
    mHUDView = new HUDView(mPanel);
    mTapeView = new TapeView(mPanel);
    mButtonView = new SegmentedTapeButtonView(mPanel);
    mSpeakerGrille = new SpeakerGrilleView(mPanel);
    mLeftDrawerButton = new DrawerButton(mPanel);
    mRightDrawerButton = new DrawerButton(mPanel);
    mDeckDivider = new DeckDividerView(mPanel);
    mSearchField = new TapeSearchField(mPanel);
    mTapeBoxView = new TapeBoxView(tapes, mPanel);
    mTitleBarView->setObjectName(QStringLiteral("titleBar"));
    mSearchField->setObjectName(QStringLiteral("searchField"));
    mTapeBoxView->setObjectName(QStringLiteral("tapeBox"));
    for (DrawerButton* button : {mLeftDrawerButton, mRightDrawerButton}) {
        connect(button, &QAbstractButton::clicked, this, &DeckWindow::drawerButtonPressed);
    }

    mAnimationTimer = new QTimer(this);
    mAnimationTimer->setInterval(15);
    connect(mAnimationTimer, &QTimer::timeout, this, &DeckWindow::advanceAnimations);

    // Tab goes through every control: the keys, the HUD's choices, the
    // cassette, and the drawer with its search field and tape box.
    QWidget* const tabOrder[] = {mButtonView,
                                 mHUDView->qualityView(),
                                 mHUDView->stereoView(),
                                 mHUDView->volumeView(),
                                 mHUDView->positionView(),
                                 mTapeView,
                                 mLeftDrawerButton,
                                 mSearchField,
                                 mTapeBoxView,
                                 mRightDrawerButton};
    for (size_t i = 1; i < std::size(tabOrder); ++i) {
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }

    // Taller than the deck, the window gives the height to the tape box.
    mPanel->setMinimumHeight(deckHeight());
    layOutDeck();
    setContentWidth(OpenWidth);
}

DeckWindow::~DeckWindow() = default;

int DeckWindow::deckHeight() {
    return grilleTop() + kGrilleHeight + 10;
}

void DeckWindow::layOutDeck() {
    const int column = deckColumnWidth();
    const int hudWidth = std::min(column, mHUDView->sizeHint().width());
    mHUDView->setGeometry(ButtonStripX + (column - hudWidth) / 2, kHUDTop, hudWidth,
                          std::min(kHUDHeight, mHUDView->sizeHint().height()));
    mTapeView->setGeometry(ButtonStripX, kCassetteTop, column, cassetteHeight());
    mButtonView->setGeometry(ButtonStripX, buttonStripTop(), column, ButtonStripHeight);
    mSpeakerGrille->setGeometry(ButtonStripX, grilleTop(), column, kGrilleHeight);
    const int gripTop = kCassetteTop;
    const int gripHeight = buttonStripTop() + ButtonStripHeight - gripTop;
    mLeftDrawerButton->setGeometry(0, gripTop, kSideGripWidth, gripHeight);
}

void DeckWindow::layOutDrawer() {
    const int width = mPanel->width();
    const int height = std::max(mPanel->height(), deckHeight());
    mTitleBarView->setGeometry(0, 0, width, TitleBarHeight);
    const int column = deckColumnWidth();
    mDeckDivider->setGeometry(ButtonStripX + column, TitleBarHeight,
                              TapeBoxX - ButtonStripX - column, height - TitleBarHeight);
    // The drawer's contents sit between the divider and the right grip; they
    // are uncovered as the window grows.
    const int boxWidth = std::max(0, std::min(TapeBoxWidth, width - TapeBoxX - kRightGripWidth));
    const bool visible = boxWidth > 0;
    mSearchField->setVisible(visible);
    mTapeBoxView->setVisible(visible);
    if (visible) {
        mSearchField->setGeometry(TapeBoxX, kHUDTop, TapeBoxWidth, 24);
        const int boxTop = kHUDTop + 30;
        const int bottomMargin = deckHeight() - grilleTop() - kGrilleHeight;
        mTapeBoxView->setGeometry(TapeBoxX, boxTop, TapeBoxWidth, height - bottomMargin - boxTop);
    }
    mRightDrawerButton->setGeometry(width - kRightGripWidth + (kRightGripWidth - kSideGripWidth) / 2,
                                    kCassetteTop, kSideGripWidth,
                                    buttonStripTop() + ButtonStripHeight - kCassetteTop);
    const bool open = width > (ClosedWidth + OpenWidth) / 2;
    mLeftDrawerButton->setDrawerOpen(open);
    mRightDrawerButton->setDrawerOpen(open);
}

void DeckWindow::setContentWidth(int width) {
    setFixedWidth(width);
    mPanel->setFixedWidth(width);
    layOutDrawer();
}

void DeckWindow::animateToWidth(int width, double seconds) {
    mAnimationFromWidth = this->width();
    mAnimationToWidth = width;
    mAnimationStart = DeckClock::now();
    mAnimationSeconds = seconds;
    if (seconds <= 0) {
        setContentWidth(width);
        mAnimationTimer->stop();
        return;
    }
    mAnimationTimer->start();
}

bool DeckWindow::isAnimating() const {
    return mAnimationTimer->isActive();
}

void DeckWindow::advanceAnimations() {
    if (!mAnimationTimer->isActive()) {
        return;
    }
    const double t = std::clamp((DeckClock::now() - mAnimationStart) / mAnimationSeconds, 0.0, 1.0);
    const double width = mAnimationFromWidth + (mAnimationToWidth - mAnimationFromWidth) * easeInOut(t);
    setContentWidth(static_cast<int>(std::lround(width)));
    if (t >= 1.0) {
        mAnimationTimer->stop();
    }
}

void DeckWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layOutDrawer();
}

void DeckWindow::closeEvent(QCloseEvent* event) {
    if (!mClosing) {
        mClosing = true;
        if (mCloseHandler) {
            mCloseHandler();
        }
    }
    event->accept();
}
