#include "app/deck/TapeView.h"

#include "app/deck/BeatTimer.h"
#include "app/deck/CassettePainter.h"
#include "app/deck/DeckClock.h"
#include "app/deck/FocusRing.h"
#include "app/deck/NotesEditorView.h"
#include "app/library/Tape.h"
#include "platform/desktop/DesktopServices.h"
#include "platform/desktop/FileNames.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr double kPi = 3.14159265358979323846;
// The right spool turns this much faster than the left one.
constexpr double kRightSpoolRatio = 31.0 / 18.0;
// The left angle wraps after 18 turns, when both spools are upright again,
// so the wrap never shows as a jump of the right spool.
constexpr double kAngleWrap = 36.0 * kPi;

} // namespace

TapeView::TapeView(QWidget* parent) : QWidget(parent) {
    slogan(); // picked once per process, when the first cassette is made
    mLabel.setShowsShareButton(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // Ease in and out, as the deck's other slides.
    mEasing = QEasingCurve(QEasingCurve::BezierSpline);
    mEasing.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    mSlideTimer = new QTimer(this);
    mSlideTimer->setTimerType(Qt::PreciseTimer);
    mSlideTimer->setInterval(15);
    connect(mSlideTimer, &QTimer::timeout, this, &TapeView::advanceAnimations);
}

TapeView::~TapeView() = default;

QSizeF TapeView::tapeSize() {
    return CassettePainter::tapeSize();
}

double TapeView::tapePadding() {
    return 10;
}

QSize TapeView::sizeHint() const {
    return (tapeSize() + QSizeF(2 * tapePadding(), 2 * tapePadding())).toSize();
}

const QStringList& TapeView::slogans() {
    static const QStringList list = {
        QStringLiteral("ADVANCED MPEG-4 TECHNOLOGY"),
        QStringLiteral("GENUINE FERRIC OXIDE FEEL"),
        QStringLiteral("ADVANCED MAPLE SYRUP TECHNOLOGY"),
        QStringLiteral("DIGITAL AUDIO QUALITY"),
        QStringLiteral("LOSSLESS AUDIO COMPRESSION"),
        QStringLiteral("SUPER DUPER FIDELITY"),
        QStringLiteral("HIGH PERFORMANCE AUDIO SOFTWARE"),
        QStringLiteral("ABSURDLY HIGH PERFORMANCE AUDIO"),
        QStringLiteral("CHROMIUM DIOXIDE INSIDE"),
        QStringLiteral("FULLY RETICULATED SPLINES"),
        QStringLiteral("NOW WITH TWICE THE SPOOLS"),
        QStringLiteral("HAND-WOUND ON LINUX"),
        QStringLiteral("CERTIFIED HIGH BIAS"),
        QStringLiteral("CASSORA IS LISTENING"),
        QStringLiteral("CASSORA HEARS EVERYTHING"),
        QStringLiteral("DON'T FORGET A POP SCREEN"),
    };
    return list;
}

QString TapeView::slogan() {
    static const QString chosen = [] {
        std::srand(static_cast<unsigned>(getpid()));
        return slogans().at(std::rand() & 15);
    }();
    return chosen;
}

// --- Label values ---------------------------------------------------------

bool TapeView::labelShowsValues() const {
    // A tape on its way out keeps its label; the next insert takes the new one.
    return mSlideState != SlideState::Ejecting;
}

void TapeView::labelChanged() {
    mCoverCache = QPixmap();
    update();
}

void TapeView::copyValuesToLabel() {
    mLabel.setTitle(mTitle);
    mLabel.setDate(mDate);
    mLabel.setDuration(mDuration);
    mLabel.setQuality(mQuality);
    mLabel.setTapeLetter(mTapeLetter);
    mNotesLabel.setNotes(mNotes);
    labelChanged();
}

void TapeView::setTitle(const QString& title) {
    mTitle = title;
    if (labelShowsValues()) {
        mLabel.setTitle(title);
        labelChanged();
    }
}

void TapeView::setDate(const QDateTime& date) {
    mDate = date;
    if (labelShowsValues()) {
        mLabel.setDate(date);
        labelChanged();
    }
}

void TapeView::setDuration(double seconds) {
    mDuration = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    if (labelShowsValues()) {
        mLabel.setDuration(mDuration);
        labelChanged();
    }
}

void TapeView::setQuality(const QString& quality) {
    mQuality = quality;
    if (labelShowsValues()) {
        mLabel.setQuality(quality);
        labelChanged();
    }
}

void TapeView::setTapeLetter(std::shared_ptr<TapeLetter> letter) {
    mTapeLetter = std::move(letter);
    if (labelShowsValues()) {
        mLabel.setTapeLetter(mTapeLetter);
        labelChanged();
    }
}

void TapeView::setNotes(const QString& notes) {
    mNotes = notes;
    if (labelShowsValues()) {
        mNotesLabel.setNotes(notes);
        labelChanged();
    }
}

void TapeView::setFilename(const QString& filename) {
    mFilename = filename;
}

// --- Spinning -------------------------------------------------------------

void TapeView::setRotationSpeed(double speed) {
    mRotationSpeed = std::isfinite(speed) ? speed : 0.0;
}

void TapeView::startRotationAnimation(bool start) {
    if (!start) {
        delete mSpinTimer;
        mSpinTimer = nullptr;
        return;
    }
    if (mSpinTimer) {
        return;
    }
    mSpinTimer = new BeatTimer(1, this);
    connect(mSpinTimer, &BeatTimer::timeout, this, &TapeView::rotationTimerFired);
    mSpinTimer->start();
}

bool TapeView::isRotating() const {
    return mSpinTimer != nullptr;
}

void TapeView::rotationTimerFired() {
    mSpoolAngle = std::fmod(mSpoolAngle + 2.0 * mRotationSpeed * kPi / 180.0, kAngleWrap);
    const int left = SpoolFrames::stepForAngle(mSpoolAngle);
    const int right = SpoolFrames::stepForAngle(rightSpoolAngle());
    if (left != mShownLeftStep) {
        mShownLeftStep = left;
        updateHub(CassettePainter::leftSpoolCentre());
    }
    if (right != mShownRightStep) {
        mShownRightStep = right;
        updateHub(CassettePainter::rightSpoolCentre());
    }
}

void TapeView::updateHub(const QPointF& centre) {
    if (tapeOffset() < tapeSize().height()) {
        update(inView(CassettePainter::hubRect(centre)).toAlignedRect().adjusted(-1, -1, 1, 1));
    }
}

double TapeView::rightSpoolAngle() const {
    return mSpoolAngle * kRightSpoolRatio;
}

// --- Sliding --------------------------------------------------------------

double TapeView::slideOffsetAt(double time) const {
    double progress = (time - mSlideStart) / SlideDuration;
    progress = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 1.0;
    return mSlideFrom + (mSlideTo - mSlideFrom) * mEasing.valueForProgress(progress);
}

double TapeView::tapeOffset() const {
    switch (mSlideState) {
    case SlideState::Inserted:
        return 0;
    case SlideState::Ejected:
        return tapeSize().height();
    case SlideState::Inserting:
    case SlideState::Ejecting:
        break;
    }
    return slideOffsetAt(DeckClock::now());
}

void TapeView::startSlide(SlideState state, double from, double to, double startTime) {
    mSlideState = state;
    mSlideFrom = from;
    mSlideTo = to;
    mSlideStart = startTime;
    mSlideTimer->start();
    update();
}

void TapeView::insertTape() {
    if (mSlideState == SlideState::Ejecting) {
        // Runs when the eject is over, with the values of that moment.
        mInsertPending = true;
        return;
    }
    const double from = tapeOffset();
    copyValuesToLabel();
    startSlide(SlideState::Inserting, from, 0, DeckClock::now());
}

void TapeView::ejectTape() {
    endEditing();
    // The latest request wins: an insert that waited for an earlier eject
    // is dropped.
    mInsertPending = false;
    // An insert still under way turns back from where the tape is.
    const double from = tapeOffset();
    startSlide(SlideState::Ejecting, from, tapeSize().height(), DeckClock::now());
}

void TapeView::advanceAnimations() {
    const double now = DeckClock::now();
    while ((mSlideState == SlideState::Inserting || mSlideState == SlideState::Ejecting) &&
           now >= mSlideStart + SlideDuration) {
        const double end = mSlideStart + SlideDuration;
        if (mSlideState == SlideState::Inserting) {
            mSlideState = SlideState::Inserted;
        } else if (mInsertPending) {
            // The insert follows straight on from the end of the eject.
            mInsertPending = false;
            mSlideState = SlideState::Ejected;
            copyValuesToLabel();
            startSlide(SlideState::Inserting, tapeSize().height(), 0, end);
        } else {
            mSlideState = SlideState::Ejected;
        }
    }
    if (mSlideState == SlideState::Inserted || mSlideState == SlideState::Ejected) {
        mSlideTimer->stop();
    }
    update();
}

// --- Geometry -------------------------------------------------------------

QRectF TapeView::wellRect() const {
    const QSizeF tape = tapeSize();
    return {QPointF((width() - tape.width()) / 2, (height() - tape.height()) / 2), tape};
}

QPointF TapeView::tapeOrigin() const {
    return wellRect().topLeft() - QPointF(0, tapeOffset());
}

QRectF TapeView::inView(const QRectF& tapeRect) const {
    return tapeRect.translated(tapeOrigin());
}

QRectF TapeView::titleRect() const {
    return inView(MainTapeLabelView::titleRect());
}

QRectF TapeView::letterTagRect() const {
    return inView(MainTapeLabelView::letterTagRect());
}

QRectF TapeView::notesRect() const {
    return inView(NotesTapeLabelView::editControlRect());
}

QRectF TapeView::shareButtonRect() const {
    return inView(MainTapeLabelView::shareButtonRect());
}

QRectF TapeView::spoolsRect() const {
    return inView(CassettePainter::spoolsRect());
}

Qt::CursorShape TapeView::cursorShapeAt(const QPointF& point) const {
    if (mSlideState != SlideState::Inserted) {
        return Qt::ArrowCursor;
    }
    for (const QRectF& area : {titleRect(), letterTagRect(), notesRect(), shareButtonRect()}) {
        if (area.contains(point)) {
            return Qt::PointingHandCursor;
        }
    }
    return Qt::ArrowCursor;
}

// --- Drawing --------------------------------------------------------------

void TapeView::ensureCaches() const {
    const qreal ratio = devicePixelRatioF();
    const QSize viewPixels = (QSizeF(size()) * ratio).toSize();
    const QSize tapePixels = (tapeSize() * ratio).toSize();
    auto fresh = [ratio](const QSize& pixels) {
        QPixmap pixmap(pixels);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        return pixmap;
    };
    if (mDoorCache.size() != viewPixels || mDoorCache.devicePixelRatio() != ratio) {
        mDoorCache = fresh(viewPixels);
        QPainter door(&mDoorCache);
        CassettePainter::paintDoor(door, QSizeF(size()), wellRect());
        mGlassCache = fresh(viewPixels);
        QPainter glass(&mGlassCache);
        CassettePainter::paintDoorGlass(glass, wellRect(), slogan());
    }
    if (mBodyCache.size() != tapePixels || mBodyCache.devicePixelRatio() != ratio) {
        mBodyCache = fresh(tapePixels);
        QPainter body(&mBodyCache);
        CassettePainter::paintBody(body);
        mCoverCache = QPixmap();
    }
    if (mCoverCache.isNull()) {
        mCoverCache = fresh(tapePixels);
        QPainter cover(&mCoverCache);
        CassettePainter::paintCover(cover, mLabel, mNotesLabel);
    }
}

void TapeView::paintEvent(QPaintEvent* event) {
    ensureCaches();
    QPainter painter(this);
    // Rectangle by rectangle: copies clipped to one rectangle touch only its
    // pixels, where a clip of several would walk the whole view.
    for (const QRect& area : event->region()) {
        paintLayers(painter, area);
    }
    if (hasFocus() && !mEditingTitle && !mEditingNotes) {
        painter.setClipRegion(event->region());
        FocusRing::paint(painter, *this, titleRect().adjusted(-6, -4, 6, 4), 4.0);
    }
}

void TapeView::paintLayers(QPainter& painter, const QRect& area) {
    painter.setClipRect(area);
    painter.drawPixmap(QPointF(0, 0), mDoorCache);
    if (tapeOffset() < tapeSize().height()) {
        painter.save();
        painter.setClipRect(wellRect(), Qt::IntersectClip);
        painter.translate(tapeOrigin());
        painter.drawPixmap(QPointF(0, 0), mBodyCache);
        if (mSlideState == SlideState::Inserted) {
            const qreal ratio = devicePixelRatioF();
            painter.save();
            painter.resetTransform();
            mSpoolFrames.paint(painter, tapeOrigin() + CassettePainter::leftSpoolCentre(),
                               mShownLeftStep, ratio);
            mSpoolFrames.paint(painter, tapeOrigin() + CassettePainter::rightSpoolCentre(),
                               mShownRightStep, ratio);
            painter.restore();
        } else {
            // A sliding cassette lands between pixels: the hubs are drawn in place.
            CassettePainter::paintSpools(painter, mSpoolAngle, rightSpoolAngle());
        }
        painter.drawPixmap(QPointF(0, 0), mCoverCache);
        painter.restore();
    }
    painter.drawPixmap(QPointF(0, 0), mGlassCache);
}

void TapeView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeEditors();
}

QImage TapeView::thumbnail(double scale) const {
    return CassettePainter::render(mLabel, mNotesLabel, mSpoolAngle, rightSpoolAngle(), scale);
}

void TapeView::installCoverArtRenderer() {
    Tape::setCoverArtRenderer([](const Tape& tape) { return CassettePainter::renderTape(tape); });
}

// --- Editing --------------------------------------------------------------

bool TapeView::isEditingTitle() const {
    return mEditingTitle;
}

bool TapeView::isEditingNotes() const {
    return mEditingNotes;
}

void TapeView::placeEditors() {
    if (mTitleEditor) {
        mTitleEditor->setGeometry(titleRect().adjusted(-3, -1, 3, 2).toAlignedRect());
    }
    if (mNotesEditor) {
        // Over the notes strip, reaching up over the window so that a few
        // lines fit.
        mNotesEditor->setGeometry(inView(QRectF(20, 60, 283, 86)).toAlignedRect());
    }
}

void TapeView::beginTitleEditing() {
    if (mEditingTitle) {
        return;
    }
    if (!mTitleEditor) {
        mTitleEditor = new QLineEdit(this);
        mTitleEditor->setObjectName(QStringLiteral("titleEditor"));
        mTitleEditor->setAccessibleName(tr("Title"));
        mTitleEditor->setFrame(false);
        mTitleEditor->setFont(MainTapeLabelView::titleFont());
        mTitleEditor->setTextMargins(2, 0, 2, 0);
        mTitleEditor->installEventFilter(this);
        connect(mTitleEditor, &QLineEdit::editingFinished, this, &TapeView::finishTitleEditing);
    }
    QPalette palette = mTitleEditor->palette();
    palette.setColor(QPalette::Base, QColor(0xfc, 0xfa, 0xf2));
    const auto scheme = mLabel.tapeLetter()->colorScheme();
    palette.setColor(QPalette::Text, scheme ? scheme->titleColor() : QColor(Qt::black));
    mTitleEditor->setPalette(palette);
    mTitleEditor->setText(mTitle);
    mTitleBeforeEditing = mTitle;
    mEditingTitle = true;
    placeEditors();
    mTitleEditor->show();
    mTitleEditor->raise();
    mTitleEditor->setFocus(Qt::MouseFocusReason);
    mTitleEditor->selectAll();
}

void TapeView::finishTitleEditing() {
    if (!mEditingTitle) {
        return;
    }
    // Cleared first: hiding the focused field ends its editing once more.
    mEditingTitle = false;
    const QString title = mTitleEditor->text();
    mTitleEditor->hide();
    // Only what the user changed is written: a title that changed elsewhere
    // while the field was open is not put back.
    if (title != mTitleBeforeEditing && title != mTitle) {
        setTitle(title);
        emit titleEdited(title);
    }
    update();
}

bool TapeView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mTitleEditor && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // Escape leaves the title as it was.
        if (key == Qt::Key_Escape) {
            mTitleEditor->setText(mTitle);
            finishTitleEditing();
            return true;
        }
        // Return ends the edit here: passed on to the view, it would start
        // another one.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            finishTitleEditing();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TapeView::displayNotesEditor() {
    if (mEditingNotes) {
        return;
    }
    if (!mNotesEditor) {
        mNotesEditor = new NotesEditorView(this);
        connect(mNotesEditor, &NotesEditorView::done, this, &TapeView::doneEditingNotes);
    }
    mNotesEditor->setText(mNotes);
    mNotesBeforeEditing = mNotes;
    mEditingNotes = true;
    placeEditors();
    mNotesEditor->show();
    mNotesEditor->raise();
    mNotesEditor->textEdit()->setFocus(Qt::MouseFocusReason);
    update();
}

void TapeView::doneEditingNotes() {
    if (!mEditingNotes) {
        return;
    }
    mEditingNotes = false;
    const QString notes = mNotesEditor->text();
    mNotesEditor->hide();
    if (notes != mNotesBeforeEditing && notes != mNotes) {
        setNotes(notes);
        emit notesEdited(notes);
    }
    update();
}

void TapeView::editTitle() {
    if (mSlideState == SlideState::Inserted) {
        doneEditingNotes();
        beginTitleEditing();
    }
}

void TapeView::editNotes() {
    if (mSlideState == SlideState::Inserted) {
        finishTitleEditing();
        displayNotesEditor();
    }
}

void TapeView::nextColour() {
    if (mSlideState == SlideState::Inserted) {
        cycleTapeLetter();
    }
}

void TapeView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !(event->modifiers() & ~Qt::KeypadModifier)) {
        editTitle();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TapeView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void TapeView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void TapeView::endEditing() {
    finishTitleEditing();
    doneEditingNotes();
}

// --- Clicks and drags -----------------------------------------------------

void TapeView::cycleTapeLetter() {
    const auto current = mTapeLetter ? mTapeLetter : mLabel.tapeLetter();
    // A letter without a scheme shows as red, so blue comes next.
    const auto next = current->colorScheme()
                          ? current->tapeLetterWithNextColorScheme()
                          : std::make_shared<TapeLetter>(current->letter(),
                                                         TapeColorScheme::colorSchemeWithIndex(1));
    setTapeLetter(next);
    emit tapeLetterEdited(next);
}

void TapeView::pressShareButton() {
    mLabel.setShareButtonOn(true);
    labelChanged();
    // Sent once this click is handled, as a menu may open from it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            emit shareButtonPressed();
            releaseShareButtonWhenDone();
        },
        Qt::QueuedConnection);
}

void TapeView::releaseShareButtonWhenDone() {
    // A menu that opened from the button takes the mouse, so the release
    // of the click never comes here: the button comes up with the menu.
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        connect(menu, &QMenu::aboutToHide, this, &TapeView::releaseShareButton,
                Qt::UniqueConnection);
    } else if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        releaseShareButton(); // the click was over before the button was handled
    }
}

void TapeView::releaseShareButton() {
    if (mLabel.isShareButtonOn()) {
        mLabel.setShareButtonOn(false);
        labelChanged();
    }
}

void TapeView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl+click reveals the file on release, Ctrl+drag drags it.
        mCommandPress = true;
        mDragStarted = false;
        mPressPosition = event->position();
        return;
    }
    mCommandPress = false;
    if (mSlideState != SlideState::Inserted) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF point = event->position();
    if (titleRect().contains(point)) {
        beginTitleEditing();
        return;
    }
    finishTitleEditing();
    setFocus(Qt::MouseFocusReason);
    if (notesRect().contains(point)) {
        displayNotesEditor();
    } else if (letterTagRect().contains(point)) {
        cycleTapeLetter();
    } else if (shareButtonRect().contains(point)) {
        pressShareButton();
    } else {
        QWidget::mousePressEvent(event);
    }
}

void TapeView::mouseMoveEvent(QMouseEvent* event) {
    if (mCommandPress && !mDragStarted && (event->buttons() & Qt::LeftButton) &&
        (event->position() - mPressPosition).manhattanLength() >=
            QApplication::startDragDistance()) {
        mDragStarted = true;
        dragTapeFile();
        return;
    }
    setCursor(cursorShapeAt(event->position()));
    QWidget::mouseMoveEvent(event);
}

void TapeView::mouseReleaseEvent(QMouseEvent* event) {
    if (mCommandPress) {
        mCommandPress = false;
        if (!mDragStarted && (event->modifiers() & Qt::ControlModifier) && !mFilename.isEmpty()) {
            if (!DesktopServices::revealInFileManager(mFilename)) {
                std::fprintf(stderr, "(ERROR) TapeView : Could not show %s in the file manager\n",
                             qPrintable(mFilename));
            }
        }
        return;
    }
    releaseShareButton();
    QWidget::mouseReleaseEvent(event);
}

void TapeView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The first click did the work; the second one is not another click.
    event->accept();
}

void TapeView::setContextMenu(QMenu* menu) {
    mContextMenu = menu;
}

void TapeView::contextMenuEvent(QContextMenuEvent* event) {
    if (mContextMenu) {
        mContextMenu->popup(event->globalPos());
        event->accept();
    } else {
        QWidget::contextMenuEvent(event);
    }
}

void TapeView::leaveEvent(QEvent* event) {
    unsetCursor();
    QWidget::leaveEvent(event);
}

void TapeView::dragTapeFile() {
    if (mFilename.isEmpty()) {
        return;
    }
    const QString path = mFilename;
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(path)});
    auto* drag = new QDrag(this);
    drag->setMimeData(data);

    // The cassette, 128 points wide, centred under the pointer.
    const qreal ratio = devicePixelRatioF();
    QImage image = thumbnail(ratio).scaledToWidth(static_cast<int>(std::lround(128 * ratio)),
                                                  Qt::SmoothTransformation);
    image.setDevicePixelRatio(ratio);
    QPixmap pixmap = QPixmap::fromImage(image);
    drag->setPixmap(pixmap);
    const QSizeF points = pixmap.deviceIndependentSize();
    drag->setHotSpot(
        QPoint(static_cast<int>(points.width() / 2), static_cast<int>(points.height() / 2)));
    finishFileDrag(drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction), path);
}

void TapeView::finishFileDrag(Qt::DropAction action, const QString& path) {
    // A target that moved the file (into the Trash or anywhere else) has
    // done the work. One that answers "move" but left the file in place
    // asks the source to delete it: the file goes to the Trash, never gone
    // for good.
    if (action != Qt::MoveAction || !FileNames::exists(path)) {
        return;
    }
    if (!DesktopServices::moveToTrash(path)) {
        std::fprintf(stderr, "(ERROR) TapeView : Could not move %s to the Trash\n",
                     qPrintable(path));
    }
}
