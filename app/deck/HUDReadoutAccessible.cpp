#include "app/deck/HUDReadoutAccessible.h"

#include <QWidget>

#include <algorithm>

HUDReadoutAccessible::HUDReadoutAccessible(QWidget* view, QAccessible::Role role,
                                           std::function<QString()> name,
                                           std::function<QString()> value,
                                           std::optional<Steps> steps)
    : QAccessibleWidget(view, role), mName(std::move(name)), mValue(std::move(value)),
      mSteps(std::move(steps)) {}

QString HUDReadoutAccessible::text(QAccessible::Text t) const {
    switch (t) {
    case QAccessible::Name:
        return widget()->accessibleName().isEmpty() ? mName() : widget()->accessibleName();
    case QAccessible::Value:
        return accessibleText();
    default:
        return QAccessibleWidget::text(t);
    }
}

void* HUDReadoutAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface && mValue) {
        return static_cast<QAccessibleTextInterface*>(this);
    }
    if (type == QAccessible::ValueInterface && mSteps) {
        return static_cast<QAccessibleValueInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

QVariant HUDReadoutAccessible::currentValue() const {
    return mSteps ? QVariant(mSteps->current()) : QVariant();
}

void HUDReadoutAccessible::setCurrentValue(const QVariant& value) {
    if (mSteps && value.canConvert<double>()) {
        mSteps->set(std::clamp(value.toDouble(), mSteps->minimum,
                               std::max(mSteps->minimum, mSteps->maximum())));
    }
}

QVariant HUDReadoutAccessible::maximumValue() const {
    return mSteps ? QVariant(mSteps->maximum()) : QVariant();
}

QVariant HUDReadoutAccessible::minimumValue() const {
    return mSteps ? QVariant(mSteps->minimum) : QVariant();
}

QVariant HUDReadoutAccessible::minimumStepSize() const {
    return mSteps ? QVariant(mSteps->step()) : QVariant();
}
