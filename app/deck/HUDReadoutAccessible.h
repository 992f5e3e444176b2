#pragma once

#include "app/deck/ReadOnlyAccessibleText.h"

#include <QAccessibleWidget>

#include <functional>
#include <optional>

// One of the HUD's readouts as assistive technology sees it: a name
// ("Time", "Volume"), its value as text ("0:03.46 of 2:10"), and for the
// readouts a person changes, a value in steps that the arrow keys and
// assistive technology both set.
class HUDReadoutAccessible : public QAccessibleWidget,
                             public ReadOnlyAccessibleText,
                             public QAccessibleValueInterface {
public:
    struct Steps {
        std::function<double()> current;
        double minimum = 0;
        std::function<double()> maximum;
        std::function<double()> step;
        std::function<void(double)> set;
    };

    HUDReadoutAccessible(QWidget* view, QAccessible::Role role, std::function<QString()> name,
                         std::function<QString()> value, std::optional<Steps> steps = {});

    QString text(QAccessible::Text t) const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QString accessibleText() const override { return mValue ? mValue() : QString(); }
    using ReadOnlyAccessibleText::text;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    std::function<QString()> mName;
    std::function<QString()> mValue;
    std::optional<Steps> mSteps;
};
