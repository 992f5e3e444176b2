#include "app/deck/DeckKeyRouter.h"

#include "app/transport/SegmentedTapeButtonView.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

// The physical key of an event, or its Qt key when it comes without one.
quint64 keyIdentity(const QKeyEvent& event) {
    return event.nativeScanCode() != 0 ? event.nativeScanCode()
                                       : (quint64{1} << 32) | static_cast<quint32>(event.key());
}

} // namespace

DeckKeyRouter::DeckKeyRouter(QWidget* window, SegmentedTapeButtonView* buttons, QObject* parent)
    : QObject(parent), mWindow(window), mButtons(buttons) {
    qApp->installEventFilter(this);
}

DeckKeyRouter::~DeckKeyRouter() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
}

bool DeckKeyRouter::isEditingText(const QWidget* widget) {
    if (const auto* line = qobject_cast<const QLineEdit*>(widget)) {
        return !line->isReadOnly();
    }
    if (const auto* text = qobject_cast<const QTextEdit*>(widget)) {
        return !text->isReadOnly();
    }
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
        return !plain->isReadOnly();
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        return combo->isEditable();
    }
    return qobject_cast<const QAbstractSpinBox*>(widget) != nullptr;
}

bool DeckKeyRouter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || !mWindow || !mButtons ||
        !watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    // Key events for the deck's window only; the strip's own come here first too.
    if (widget->window() != mWindow) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    return type == QEvent::KeyPress ? keyPressed(key, widget) : keyReleased(key);
}

bool DeckKeyRouter::keyPressed(QKeyEvent* event, QWidget* focus) {
    constexpr auto kShortcutModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (event->modifiers() & kShortcutModifiers) {
        return false;
    }
    if (isEditingText(focus)) {
        return false;
    }
    // Space presses a focused button, as everywhere on the desktop.
    if (event->key() == Qt::Key_Space && qobject_cast<QAbstractButton*>(focus)) {
        return false;
    }
    if (!mButtons->transportKeyPressed(event)) {
        return false;
    }
    mRoutedKeys.insert(keyIdentity(*event));
    return true;
}

bool DeckKeyRouter::keyReleased(QKeyEvent* event) {
    if (!mRoutedKeys.contains(keyIdentity(*event))) {
        return false;
    }
    if (!event->isAutoRepeat()) {
        mRoutedKeys.remove(keyIdentity(*event));
    }
    mButtons->transportKeyReleased(event);
    return true;
}
