#include "app/transport/SegmentedTapeButtonView.h"

#include "app/transport/SegmentedTapeButtonAccessible.h"

#include "platform/desktop/KeyCodeTable.h"
#include "platform/desktop/UserDefaults.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

const QString kKeyboardTransportMap = QStringLiteral("KeyboardTransportMap");

// The default keyboard map: action name -> virtual key code (Z X C V B N).
QVariantMap defaultKeyboardTransportMap() {
    return {
        {QStringLiteral("record"), 6}, {QStringLiteral("play"), 7},
        {QStringLiteral("rewind"), 8}, {QStringLiteral("fastForward"), 9},
        {QStringLiteral("stop"), 11},  {QStringLiteral("pause"), 45},
    };
}

double wallClockSeconds() {
    using namespace std::chrono;
    const auto now = time_point_cast<microseconds>(system_clock::now());
    return static_cast<double>(now.time_since_epoch().count()) / 1e6;
}

const QColor kRecordColor(0xd0, 0x2b, 0x22);

} // namespace

SegmentedTapeButtonView::SegmentedTapeButtonView(QWidget* parent)
    : QWidget(parent), mClock(wallClockSeconds) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    loadHoldableSegments();
    registerDefaultKeyCodes();
    loadDefaultKeyCodes();
    UserDefaults::standard().observe(kKeyboardTransportMap, this,
                                     [this](const QVariant&) { loadDefaultKeyCodes(); });
}

void SegmentedTapeButtonView::loadHoldableSegments() {
    setHoldableSegments({{1, true}, {2, true}, {3, true}});
}

void SegmentedTapeButtonView::registerDefaultKeyCodes() {
    UserDefaults& defaults = UserDefaults::standard();
    if (defaults.value(kKeyboardTransportMap).toMap().isEmpty()) {
        defaults.setValue(kKeyboardTransportMap, defaultKeyboardTransportMap());
    }
}

void SegmentedTapeButtonView::loadDefaultKeyCodes() {
    mKeymapDictionary = UserDefaults::standard().value(kKeyboardTransportMap).toMap();
}

void SegmentedTapeButtonView::setSegments(unsigned segments) {
    mSegments = segments == 0 ? 1 : segments;
    updateGeometry();
    update();
}

void SegmentedTapeButtonView::setRecordSegment(int segment) {
    mRecordSegment = segment;
    update();
}

void SegmentedTapeButtonView::setSelector(const QByteArray& action, int segment) {
    QByteArray name = action;
    if (name.endsWith(':')) {
        name.chop(1);
    }
    mSegmentSelectorDictionary.insert(segment, name);
}

QByteArray SegmentedTapeButtonView::selectorForSegment(int segment) const {
    return mSegmentSelectorDictionary.value(segment);
}

void SegmentedTapeButtonView::setImage(const QImage& image, int segment) {
    mSegmentImageDictionary.insert(segment, image);
    update();
}

QImage SegmentedTapeButtonView::imageForSegment(int segment) const {
    return mSegmentImageDictionary.value(segment);
}

void SegmentedTapeButtonView::setLabel(const QString& label, int segment) {
    mSegmentLabelDictionary.insert(segment, label);
    update();
}

QString SegmentedTapeButtonView::labelForSegment(int segment) const {
    return mSegmentLabelDictionary.value(segment);
}

void SegmentedTapeButtonView::setHoldableSegments(const QMap<int, bool>& holdable) {
    QMutexLocker locker(&mHoldableLock);
    mHoldableSegments = holdable;
}

QMap<int, bool> SegmentedTapeButtonView::holdableSegments() const {
    QMutexLocker locker(&mHoldableLock);
    return mHoldableSegments;
}

bool SegmentedTapeButtonView::isHoldableSegment(int segment) const {
    return holdableSegments().value(segment, false);
}

// Latched set

void SegmentedTapeButtonView::setSelectedSegment(int segment) {
    if (isPressInProgress()) {
        mOldSelectedSegments->insert(segment);
    }
    mSelectedSegments.insert(segment);
    selectedSegmentsChanged();
}

void SegmentedTapeButtonView::clearSelectedSegment(int segment) {
    if (isPressInProgress()) {
        mOldSelectedSegments->remove(segment);
    }
    mSelectedSegments.remove(segment);
    selectedSegmentsChanged();
}

void SegmentedTapeButtonView::clearSelectedSegments() {
    if (isPressInProgress()) {
        // Keep showing the key being pressed.
        mSelectedSegments.subtract(*mOldSelectedSegments);
        mOldSelectedSegments->clear();
    } else {
        mSelectedSegments.clear();
    }
    selectedSegmentsChanged();
}

bool SegmentedTapeButtonView::isSelectedSegment(int segment) const {
    return isPressInProgress() ? mOldSelectedSegments->contains(segment)
                               : mSelectedSegments.contains(segment);
}

bool SegmentedTapeButtonView::isDepressedSegment(int segment) const {
    return mSelectedSegments.contains(segment);
}

// Hit testing

int64_t SegmentedTapeButtonView::segmentForPoint(const QPointF& point) const {
    const QRectF bounds = rect();
    if (!bounds.contains(point) || bounds.width() <= 0) {
        return NotFound;
    }
    const double width = bounds.width() / mSegments;
    const auto segment = static_cast<int64_t>(std::floor((point.x() - bounds.left()) / width));
    return std::clamp<int64_t>(segment, 0, static_cast<int64_t>(mSegments) - 1);
}

int SegmentedTapeButtonView::keyCodeForAction(const char* action) const {
    const QVariant code = mKeymapDictionary.value(QString::fromLatin1(action));
    return code.isValid() ? code.toInt() : -1;
}

int64_t SegmentedTapeButtonView::segmentForKeyCode(int keyCode) const {
    if (keyCode == keyCodeForAction("record")) {
        return 0;
    }
    if (keyCode == keyCodeForAction("play") || keyCode == SpaceBarKeyCode) {
        return isDepressedSegment(1) || isDepressedSegment(4) ? 4 : 1;
    }
    if (keyCode == keyCodeForAction("rewind")) {
        return 2;
    }
    if (keyCode == keyCodeForAction("fastForward")) {
        return 3;
    }
    if (keyCode == keyCodeForAction("stop")) {
        return 4;
    }
    if (keyCode == keyCodeForAction("pause")) {
        return 5;
    }
    return NotFound;
}

// Press, release and action

void SegmentedTapeButtonView::pressButtonForSegment(int segment) {
    const bool recordLatched = mSelectedSegments.contains(0);
    if (recordLatched && (segment == 2 || segment == 3)) {
        return;
    }
    mOldSelectedSegments = mSelectedSegments;
    mSelectedSegments.insert(segment);
    if (mSegments >= 2 && segment == 0) {
        mSelectedSegments.insert(1);
    }
    selectedSegmentsChanged();
}

void SegmentedTapeButtonView::clearPressedButtons() {
    if (isPressInProgress()) {
        mSelectedSegments = *mOldSelectedSegments;
        mOldSelectedSegments.reset();
        selectedSegmentsChanged();
    }
}

void SegmentedTapeButtonView::performActionForSegment(int segment) {
    const QByteArray action = selectorForSegment(segment);
    if (action.isEmpty() || !mTarget) {
        return;
    }
    QMetaObject::invokeMethod(mTarget, action.constData(), Qt::DirectConnection,
                              Q_ARG(QObject*, this));
}

// Events

void SegmentedTapeButtonView::mousePressEvent(QMouseEvent* event) {
    const int64_t segment = segmentForPoint(event->position());
    if (segment == NotFound) {
        QWidget::mousePressEvent(event);
        return;
    }
    mButtonPressTime = mClock();
    pressButtonForSegment(static_cast<int>(segment));
    performActionForSegment(static_cast<int>(segment));
}

void SegmentedTapeButtonView::mouseReleaseEvent(QMouseEvent* event) {
    clearPressedButtons();
    const int64_t segment = segmentForPoint(event->position());
    if (segment != NotFound && isHoldableSegment(static_cast<int>(segment)) &&
        mClock() - mButtonPressTime > HoldInterval) {
        performActionForSegment(static_cast<int>(segment));
    }
    QWidget::mouseReleaseEvent(event);
}

std::optional<int> SegmentedTapeButtonView::keyCodeForEvent(const QKeyEvent* event) const {
    const auto code = KeyCodeTable::virtualKeyCodeForEvent(event->nativeScanCode(), event->key());
    if (!code) {
        return std::nullopt;
    }
    return *code & 0xFFFF;
}

bool SegmentedTapeButtonView::transportKeyPressed(QKeyEvent* event) {
    const auto code = keyCodeForEvent(event);
    const int64_t segment = code ? segmentForKeyCode(*code) : NotFound;
    if (segment == NotFound) {
        return false;
    }
    if (!event->isAutoRepeat()) {
        mButtonPressTime = mClock();
        pressButtonForSegment(static_cast<int>(segment));
        performActionForSegment(static_cast<int>(segment));
    }
    return true;
}

bool SegmentedTapeButtonView::transportKeyReleased(QKeyEvent* event) {
    const auto code = keyCodeForEvent(event);
    const int64_t segment = code ? segmentForKeyCode(*code) : NotFound;
    if (segment == NotFound) {
        return false;
    }
    if (!event->isAutoRepeat()) {
        if (isHoldableSegment(static_cast<int>(segment)) &&
            mClock() - mButtonPressTime > HoldInterval) {
            performActionForSegment(static_cast<int>(segment));
        }
        clearPressedButtons();
    }
    return true;
}

void SegmentedTapeButtonView::keyPressEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        return;
    }
    if (!transportKeyPressed(event)) {
        QWidget::keyPressEvent(event);
    }
}

void SegmentedTapeButtonView::keyReleaseEvent(QKeyEvent* event) {
    // The key-up always goes on to the base class as well, which leaves it
    // for the enclosing window; repeats never touch the buttons.
    transportKeyReleased(event);
    QWidget::keyReleaseEvent(event);
}

std::optional<int> SegmentedTapeButtonView::keyCodeForSegment(int segment) const {
    static const char* const kActions[] = {"record", "play",  "rewind",
                                           "fastForward", "stop", "pause"};
    if (segment < 0 || segment >= static_cast<int>(std::size(kActions))) {
        return std::nullopt;
    }
    const int code = keyCodeForAction(kActions[segment]);
    return code >= 0 ? std::optional<int>(code) : std::nullopt;
}

QString SegmentedTapeButtonView::keyNameForSegment(int segment) const {
    const auto code = keyCodeForSegment(segment);
    return code && mKeyNamer ? mKeyNamer(*code) : QString();
}

QString SegmentedTapeButtonView::toolTipForSegment(int segment) const {
    const QString label = labelForSegment(segment);
    const QString key = keyNameForSegment(segment);
    return key.isEmpty() ? label : QStringLiteral("%1 (%2)").arg(label, key);
}

void SegmentedTapeButtonView::selectedSegmentsChanged() {
    update();
    if (mSelectedSegments == mReportedSegments) {
        return;
    }
    const QSet<int> before = std::exchange(mReportedSegments, mSelectedSegments);
    SegmentedTapeButtonAccessible::segmentsPressedChanged(this, before, mSelectedSegments);
}

bool SegmentedTapeButtonView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int64_t segment = segmentForPoint(help->pos());
        if (segment == NotFound) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), toolTipForSegment(static_cast<int>(segment)),
                               this, rectForSegment(static_cast<int>(segment)).toRect());
        }
        return true;
    }
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        update(); // the focus ring
    }
    return QWidget::event(event);
}

// Drawing

QSize SegmentedTapeButtonView::sizeHint() const {
    return {static_cast<int>(mSegments) * 78, 88};
}

QSize SegmentedTapeButtonView::minimumSizeHint() const {
    return {static_cast<int>(mSegments) * 40, 56};
}

QRectF SegmentedTapeButtonView::rectForSegment(int segment) const {
    const double width = static_cast<double>(this->width()) / mSegments;
    return QRectF(segment * width, 0, width, height());
}

void SegmentedTapeButtonView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The deck's recess the keys sit in.
    QLinearGradient well(0, 0, 0, height());
    well.setColorAt(0.0, QColor(0x1c, 0x1c, 0x1e));
    well.setColorAt(1.0, QColor(0x3a, 0x3a, 0x3d));
    painter.fillRect(rect(), well);

    for (unsigned segment = 0; segment < mSegments; ++segment) {
        paintKey(painter, static_cast<int>(segment));
    }
    if (hasFocus()) {
        // Keyboard focus: a ring inside the recess.
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.0, 1.0, -1.0, -1.0), 4.0, 4.0);
    }
}

// A piano key: a face over a darker front lip. A key pressed in sinks, so
// its face moves down over most of the lip and darkens.
void SegmentedTapeButtonView::paintKey(QPainter& painter, int segment) const {
    const QRectF slot = rectForSegment(segment).adjusted(2.0, 3.0, -2.0, -3.0);
    const bool pressed = isDepressedSegment(segment);
    const bool record = segment == mRecordSegment;
    const double lip = std::max(6.0, slot.height() * 0.16);
    const double sink = pressed ? lip * 0.7 : 0.0;

    const QRectF body = slot;
    QPainterPath bodyPath;
    bodyPath.addRoundedRect(body, 4.0, 4.0);
    QLinearGradient lipGradient(0, body.bottom() - lip, 0, body.bottom());
    lipGradient.setColorAt(0.0, record ? QColor(0x7e, 0x16, 0x12) : QColor(0x8d, 0x8d, 0x88));
    lipGradient.setColorAt(1.0, record ? QColor(0x4f, 0x0c, 0x09) : QColor(0x5a, 0x5a, 0x56));
    painter.fillPath(bodyPath, lipGradient);

    const QRectF face(body.left(), body.top() + sink, body.width(), body.height() - lip);
    QPainterPath facePath;
    facePath.addRoundedRect(face, 4.0, 4.0);
    QLinearGradient faceGradient(0, face.top(), 0, face.bottom());
    const int shade = pressed ? 118 : 100; // darker when pressed in
    if (record) {
        faceGradient.setColorAt(0.0, QColor(0xf0, 0x5a, 0x4e).darker(shade));
        faceGradient.setColorAt(1.0, kRecordColor.darker(shade));
    } else {
        faceGradient.setColorAt(0.0, QColor(0xf7, 0xf6, 0xf1).darker(shade));
        faceGradient.setColorAt(1.0, QColor(0xc8, 0xc7, 0xc0).darker(shade));
    }
    painter.fillPath(facePath, faceGradient);
    painter.setPen(QPen(QColor(0, 0, 0, pressed ? 110 : 70), 1.0));
    painter.drawPath(facePath);
    if (pressed) {
        // Shadow of the neighbouring keys on the sunken face.
        QLinearGradient shadow(0, face.top(), 0, face.top() + 8);
        shadow.setColorAt(0.0, QColor(0, 0, 0, 90));
        shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
        painter.fillPath(facePath, shadow);
    } else {
        painter.setPen(QPen(QColor(255, 255, 255, 150), 1.0));
        painter.drawLine(face.topLeft() + QPointF(4, 1), face.topRight() + QPointF(-4, 1));
    }

    const QColor ink = record ? QColor(0xff, 0xf4, 0xf0) : QColor(0x30, 0x30, 0x32);
    const QImage image = imageForSegment(segment);
    const QString label = labelForSegment(segment);
    QRectF labelRect = face.adjusted(2, face.height() * 0.55, -2, -4);
    if (!image.isNull()) {
        const double side = std::min(face.width() * 0.5, face.height() * 0.4);
        const QRectF imageRect(face.center().x() - side / 2, face.top() + face.height() * 0.14,
                               side, side);
        painter.drawImage(imageRect, image);
    } else {
        labelRect = face.adjusted(2, 0, -2, 0);
    }
    if (!label.isEmpty()) {
        QFont font = this->font();
        font.setBold(true);
        font.setLetterSpacing(QFont::PercentageSpacing, 108);
        font.setPixelSize(std::clamp(static_cast<int>(face.height() * 0.16), 8, 14));
        painter.setFont(font);
        // Embossed: a light line under the dark text.
        painter.setPen(record ? QColor(0x60, 0x08, 0x05, 160) : QColor(255, 255, 255, 170));
        painter.drawText(labelRect.translated(0, 1), Qt::AlignCenter, label);
        painter.setPen(ink);
        painter.drawText(labelRect, Qt::AlignCenter, label);
    }
}
