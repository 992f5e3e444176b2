#pragma once

#include <QHash>
#include <QImage>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>

// The deck's strip of piano-key transport buttons. Clicks and keystrokes
// become the target's transport actions; latched keys are drawn pressed in;
// holdable keys act on press and again on a release more than 0.32 s later,
// so a key winds or cues while it is held.
class SegmentedTapeButtonView : public QWidget {
    Q_OBJECT

public:
    static constexpr int64_t NotFound = std::numeric_limits<int64_t>::max();
    static constexpr double HoldInterval = static_cast<double>(0.32f); // seconds
    static constexpr int SpaceBarKeyCode = 49;

    explicit SegmentedTapeButtonView(QWidget* parent = nullptr);

    void setSegments(unsigned segments);
    unsigned segments() const { return mSegments; }
    void setRecordSegment(int segment);
    int recordSegment() const { return mRecordSegment; }

    // Actions are sent to the target as `action(QObject* sender)` by name,
    // for example "recordTape" (a trailing colon is ignored).
    void setTarget(QObject* target) { mTarget = target; }
    QObject* target() const { return mTarget; }
    void setSelector(const QByteArray& action, int segment);
    QByteArray selectorForSegment(int segment) const;

    void setImage(const QImage& image, int segment);
    QImage imageForSegment(int segment) const;
    void setLabel(const QString& label, int segment);
    QString labelForSegment(int segment) const;

    void setHoldableSegments(const QMap<int, bool>& holdable);
    QMap<int, bool> holdableSegments() const;

    // The latched set, changed only by the deck controller.
    void setSelectedSegment(int segment);
    void clearSelectedSegment(int segment);
    void clearSelectedSegments();
    // Latched: before a press in progress, else as shown.
    bool isSelectedSegment(int segment) const;
    // Shown pressed: latched or being pressed.
    bool isDepressedSegment(int segment) const;
    bool isHoldableSegment(int segment) const;

    int64_t segmentForPoint(const QPointF& point) const;
    int64_t segmentForKeyCode(int keyCode) const;

    // A transport key typed anywhere in the deck's window, handed over by
    // the window: true when the key is one of the strip's (then it acted,
    // unless it was a repeat), false when it is for someone else.
    bool transportKeyPressed(QKeyEvent* event);
    bool transportKeyReleased(QKeyEvent* event);
    // The virtual key code the keyboard map gives the segment's action
    // (PLAY's is also the space bar's); nothing for a segment without a key.
    std::optional<int> keyCodeForSegment(int segment) const;
    // Names a virtual key code as the user's keyboard layout labels it, for
    // the tool tips ("REC (Y)"); without one, the tool tips give no key.
    void setKeyNamer(std::function<QString(int keyCode)> namer) { mKeyNamer = std::move(namer); }
    QString toolTipForSegment(int segment) const;
    // The name of the segment's key as the tool tip gives it; empty without one.
    QString keyNameForSegment(int segment) const;
    // Where the segment's key is drawn, in the view's coordinates.
    QRectF rectForSegment(int segment) const;

    void pressButtonForSegment(int segment);
    void clearPressedButtons();
    void performActionForSegment(int segment);

    // Seconds of wall-clock time; replaceable so holds can be tested exactly.
    void setClock(std::function<double()> clock) { mClock = std::move(clock); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void loadHoldableSegments();
    void registerDefaultKeyCodes();
    void loadDefaultKeyCodes();
    std::optional<int> keyCodeForEvent(const QKeyEvent* event) const;
    bool isPressInProgress() const { return mOldSelectedSegments.has_value(); }
    // Repaints, and tells assistive technology which keys went in or out.
    void selectedSegmentsChanged();
    int keyCodeForAction(const char* action) const;
    void paintKey(QPainter& painter, int segment) const;

    unsigned mSegments = 1;
    int mRecordSegment = 0;
    QHash<int, QByteArray> mSegmentSelectorDictionary;
    QHash<int, QImage> mSegmentImageDictionary;
    QHash<int, QString> mSegmentLabelDictionary;
    QPointer<QObject> mTarget;
    QSet<int> mSelectedSegments;
    QSet<int> mReportedSegments;
    std::optional<QSet<int>> mOldSelectedSegments;
    double mButtonPressTime = 0.0;
    mutable QMutex mHoldableLock;
    QMap<int, bool> mHoldableSegments;
    QVariantMap mKeymapDictionary;
    std::function<double()> mClock;
    std::function<QString(int)> mKeyNamer;
};
