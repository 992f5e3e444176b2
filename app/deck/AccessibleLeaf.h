#pragma once

#include <QAccessible>

// A part of a painted view that assistive technology sees as an element of
// its own, with no children and no object behind it: what every such part
// answers alike.
class AccessibleLeaf : public QAccessibleInterface {
public:
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}
};
