#pragma once

#include "app/deck/MainTapeLabelView.h"
#include "app/deck/NotesTapeLabelView.h"
#include "app/deck/SpoolFrames.h"
#include "app/library/TapeLetter.h"

#include <QDateTime>
#include <QEasingCurve>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <memory>

class QLineEdit;
class QMenu;
class QTimer;
class BeatTimer;
class NotesEditorView;

// The cassette in the deck: the selected tape's label (title, date, length,
// quality, letter, notes) on a cassette that sits in the deck's well. Its
// spools spin while the tape moves, it slides out of the well and back in,
// and the user edits the title and the notes in place, cycles the letter's
// colours, presses the share button, and Ctrl+drags the tape's file out.
//
// The view is passive: it shows what it is given and reports the user's
// edits by signals (TapeViewBinding writes them into a tape).
//
// Slides are timed by DeckClock: the on-screen position is worked out from
// the clock whenever it is asked for, so a test can put the clock anywhere.
class TapeView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double rotationSpeed READ rotationSpeed WRITE setRotationSpeed)

public:
    explicit TapeView(QWidget* parent = nullptr);
    ~TapeView() override;

    // The cassette's size in points, and the well's margin around it.
    static QSizeF tapeSize();
    static double tapePadding();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // This process's slogan, picked once, and the whole list of 16.
    static QString slogan();
    static const QStringList& slogans();

    // Degrees per tick are twice this; the deck sets it to the playback speed.
    double rotationSpeed() const { return mRotationSpeed; }
    void setRotationSpeed(double speed);

    void setTitle(const QString& title);
    QString title() const { return mTitle; }
    void setDate(const QDateTime& date);
    QDateTime date() const { return mDate; }
    // A NaN, infinite or negative duration shows as 0.
    void setDuration(double seconds);
    double duration() const { return mDuration; }
    void setQuality(const QString& quality);
    QString quality() const { return mQuality; }
    // Null shows the new tape's letter, "A" in red.
    void setTapeLetter(std::shared_ptr<TapeLetter> letter);
    std::shared_ptr<TapeLetter> tapeLetter() const { return mTapeLetter; }
    void setNotes(const QString& notes);
    QString notes() const { return mNotes; }
    void setFilename(const QString& filename);
    QString filename() const { return mFilename; }

    // What the cassette on screen shows. While a tape slides out, the label
    // keeps the old tape's values; the values set meanwhile go on the label
    // when the next insert starts.
    const MainTapeLabelView& tapeLabelView() const { return mLabel; }
    const NotesTapeLabelView& notesLabelView() const { return mNotesLabel; }

    void startRotationAnimation(bool start);
    bool isRotating() const;
    // One spin tick: 2 × rotationSpeed degrees. A hub is repainted only when
    // it turns far enough to show a different step of its turn.
    void rotationTimerFired();
    // Radians; the left spool. The right one turns 31/18 as fast.
    double spoolAngle() const { return mSpoolAngle; }
    double rightSpoolAngle() const;

    void insertTape();
    void ejectTape();
    enum class SlideState { Inserted, Ejected, Inserting, Ejecting };
    SlideState slideState() const { return mSlideState; }
    bool isInsertPending() const { return mInsertPending; }
    // Points the cassette has moved up out of the well: 0 inserted, the
    // cassette's height when ejected.
    double tapeOffset() const;
    // Finishes slides whose time is up (starting an insert that waited for
    // an eject) and repaints; a timer calls it while a slide runs.
    void advanceAnimations();
    static constexpr double SlideDuration = 0.3;

    bool isEditingTitle() const;
    bool isEditingNotes() const;
    QLineEdit* titleEditor() const { return mTitleEditor; }
    NotesEditorView* notesEditor() const { return mNotesEditor; }
    // Closes the title editor and the notes editor, keeping what was typed.
    void endEditing();
    // What clicks on the label do, for the keyboard and the menus: edit the
    // title in place, open the notes editor, give the letter the next
    // colours. Nothing while the cassette is sliding or out.
    void editTitle();
    void editNotes();
    void nextColour();

    // Shown on a right click; the view does not own it.
    void setContextMenu(QMenu* menu);

    // The cassette alone (no well, no door), transparent around it, at
    // `scale` device pixels per point.
    QImage thumbnail(double scale = 2.0) const;

    // Where the label's active parts are in the view now (they move with
    // the cassette).
    QRectF titleRect() const;
    QRectF letterTagRect() const;
    QRectF notesRect() const;
    QRectF shareButtonRect() const;
    // The spools' hubs, the only parts a spin tick repaints.
    QRectF spoolsRect() const;
    // The cursor the view shows at a point.
    Qt::CursorShape cursorShapeAt(const QPointF& point) const;

    // What a finished drag of the tape's file leaves behind: a move whose
    // target left the file where it was asks us to delete it, and the file
    // goes to the Trash (never deleted for good); a copy, a cancelled drag
    // or a move the target carried out itself leave it alone.
    void finishFileDrag(Qt::DropAction action, const QString& path);

    // Makes cover art of a tape the cassette as this view draws it.
    static void installCoverArtRenderer();

signals:
    void titleEdited(const QString& title);
    void notesEdited(const QString& notes);
    void tapeLetterEdited(std::shared_ptr<TapeLetter> letter);
    void shareButtonPressed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // Return renames; the focus shows as a ring around the label.
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRectF wellRect() const;
    QPointF tapeOrigin() const;
    QRectF inView(const QRectF& tapeRect) const;
    bool labelShowsValues() const;
    void labelChanged();
    void copyValuesToLabel();
    void startSlide(SlideState state, double from, double to, double startTime);
    double slideOffsetAt(double time) const;
    void beginTitleEditing();
    void finishTitleEditing();
    void displayNotesEditor();
    void doneEditingNotes();
    void placeEditors();
    void cycleTapeLetter();
    void pressShareButton();
    void releaseShareButtonWhenDone();
    void releaseShareButton();
    void dragTapeFile();
    void ensureCaches() const;
    void paintLayers(QPainter& painter, const QRect& area);
    void updateHub(const QPointF& centre);

    double mRotationSpeed = 1.0;
    double mSpoolAngle = 0;
    // The steps of the hubs' turns on screen (see SpoolFrames).
    int mShownLeftStep = 0;
    int mShownRightStep = 0;
    SpoolFrames mSpoolFrames;
    BeatTimer* mSpinTimer = nullptr;
    QTimer* mSlideTimer = nullptr;

    QString mTitle;
    QDateTime mDate;
    double mDuration = 0;
    QString mQuality;
    std::shared_ptr<TapeLetter> mTapeLetter;
    QString mNotes;
    QString mFilename;
    MainTapeLabelView mLabel;
    NotesTapeLabelView mNotesLabel;

    SlideState mSlideState = SlideState::Inserted;
    double mSlideFrom = 0;
    double mSlideTo = 0;
    double mSlideStart = 0;
    bool mInsertPending = false;
    QEasingCurve mEasing;

    QLineEdit* mTitleEditor = nullptr;
    bool mEditingTitle = false;
    QString mTitleBeforeEditing;
    NotesEditorView* mNotesEditor = nullptr;
    bool mEditingNotes = false;
    QString mNotesBeforeEditing;
    QPointer<QMenu> mContextMenu;

    QPointF mPressPosition;
    bool mCommandPress = false;
    bool mDragStarted = false;

    // Pixmaps of the still parts, made at the screen's pixel ratio and
    // dropped when the label or size changes.
    mutable QPixmap mDoorCache;
    mutable QPixmap mGlassCache;
    mutable QPixmap mBodyCache;
    mutable QPixmap mCoverCache;
};
