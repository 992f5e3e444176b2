#include "app/transport/SegmentedTapeButtonAccessible.h"

#include "app/transport/SegmentedTapeButtonView.h"

#include <QCoreApplication>
#include <QWidget>

SegmentedTapeButtonAccessible::SegmentedTapeButtonAccessible(SegmentedTapeButtonView* strip)
    : QAccessibleWidget(strip, QAccessible::ToolBar) {}

SegmentedTapeButtonAccessible::~SegmentedTapeButtonAccessible() {
    for (QAccessible::Id id : mButtons) {
        QAccessible::deleteAccessibleInterface(id);
    }
}

SegmentedTapeButtonView* SegmentedTapeButtonAccessible::strip() const {
    return static_cast<SegmentedTapeButtonView*>(widget());
}

QString SegmentedTapeButtonAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
        return QCoreApplication::translate("SegmentedTapeButtonView", "Transport");
    }
    return QAccessibleWidget::text(t);
}

int SegmentedTapeButtonAccessible::childCount() const {
    return static_cast<int>(strip()->segments());
}

QAccessibleInterface* SegmentedTapeButtonAccessible::child(int index) const {
    if (index < 0 || index >= childCount()) {
        return nullptr;
    }
    // The keys' interfaces live as long as the strip's, with stable ids.
    while (static_cast<int>(mButtons.size()) <= index) {
        const int segment = static_cast<int>(mButtons.size());
        mButtons.push_back(QAccessible::registerAccessibleInterface(
            new TransportButtonAccessible(strip(), segment)));
    }
    return QAccessible::accessibleInterface(mButtons[static_cast<size_t>(index)]);
}

int SegmentedTapeButtonAccessible::indexOfChild(const QAccessibleInterface* child) const {
    for (int index = 0; index < childCount(); ++index) {
        if (this->child(index) == child) {
            return index;
        }
    }
    return -1;
}

QAccessibleInterface* SegmentedTapeButtonAccessible::childAt(int x, int y) const {
    const int64_t segment = strip()->segmentForPoint(strip()->mapFromGlobal(QPointF(x, y)));
    return segment == SegmentedTapeButtonView::NotFound ? nullptr
                                                        : child(static_cast<int>(segment));
}

void SegmentedTapeButtonAccessible::segmentsPressedChanged(SegmentedTapeButtonView* strip,
                                                           const QSet<int>& before,
                                                           const QSet<int>& after) {
    if (!QAccessible::isActive()) {
        return;
    }
    QAccessibleInterface* stripInterface = QAccessible::queryAccessibleInterface(strip);
    if (!stripInterface) {
        return;
    }
    QAccessible::State changed;
    changed.pressed = true;
    for (int segment : (before - after) + (after - before)) {
        if (QAccessibleInterface* button = stripInterface->child(segment)) {
            QAccessibleStateChangeEvent event(button, changed);
            QAccessible::updateAccessibility(&event);
        }
    }
}

TransportButtonAccessible::TransportButtonAccessible(SegmentedTapeButtonView* strip, int segment)
    : mStrip(strip), mSegment(segment) {}

QWindow* TransportButtonAccessible::window() const {
    return mStrip ? mStrip->window()->windowHandle() : nullptr;
}

QAccessibleInterface* TransportButtonAccessible::parent() const {
    return mStrip ? QAccessible::queryAccessibleInterface(mStrip.data()) : nullptr;
}

QString TransportButtonAccessible::text(QAccessible::Text t) const {
    if (!mStrip) {
        return {};
    }
    switch (t) {
    case QAccessible::Name:
        return mStrip->labelForSegment(mSegment);
    case QAccessible::Description:
        return mStrip->toolTipForSegment(mSegment);
    case QAccessible::Accelerator:
        return mStrip->keyNameForSegment(mSegment);
    default:
        return {};
    }
}

QRect TransportButtonAccessible::rect() const {
    if (!mStrip) {
        return {};
    }
    const QRect local = mStrip->rectForSegment(mSegment).toAlignedRect();
    return QRect(mStrip->mapToGlobal(local.topLeft()), local.size());
}

QAccessible::State TransportButtonAccessible::state() const {
    QAccessible::State state;
    if (!mStrip) {
        state.invalid = true;
        return state;
    }
    state.invisible = !mStrip->isVisible();
    state.disabled = !mStrip->isEnabled();
    // Latched keys (REC while recording, PLAY while playing) stay pressed in.
    state.pressed = mStrip->isDepressedSegment(mSegment);
    return state;
}

void* TransportButtonAccessible::interface_cast(QAccessible::InterfaceType type) {
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                : nullptr;
}

QStringList TransportButtonAccessible::actionNames() const {
    return {pressAction()};
}

void TransportButtonAccessible::doAction(const QString& actionName) {
    if (actionName != pressAction() || !mStrip) {
        return;
    }
    // A click: the key goes in, acts, and comes out. Later, from the event
    // loop, so the assistive technology's call returns before the deck acts.
    QMetaObject::invokeMethod(
        mStrip.data(),
        [strip = mStrip, segment = mSegment] {
            if (strip) {
                strip->pressButtonForSegment(segment);
                strip->performActionForSegment(segment);
                strip->clearPressedButtons();
            }
        },
        Qt::QueuedConnection);
}

QStringList TransportButtonAccessible::keyBindingsForAction(const QString& actionName) const {
    if (actionName != pressAction() || !mStrip) {
        return {};
    }
    const QString key = mStrip->keyNameForSegment(mSegment);
    return key.isEmpty() ? QStringList() : QStringList{key};
}
