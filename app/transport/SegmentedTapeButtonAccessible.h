#pragma once

#include "app/deck/AccessibleLeaf.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QSet>

#include <vector>

class SegmentedTapeButtonView;

// The transport strip as assistive technology sees it: a tool bar named
// "Transport" holding one push button per key (REC, PLAY, REW, FFWD, STOP,
// PAUSE), each with its key, a press action, and the pressed state of a key
// that is latched down or being pressed.
class SegmentedTapeButtonAccessible : public QAccessibleWidget {
public:
    explicit SegmentedTapeButtonAccessible(SegmentedTapeButtonView* strip);
    ~SegmentedTapeButtonAccessible() override;

    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    // Sends the state changes of the keys that went in or came out.
    static void segmentsPressedChanged(SegmentedTapeButtonView* strip, const QSet<int>& before,
                                       const QSet<int>& after);

private:
    SegmentedTapeButtonView* strip() const;

    mutable std::vector<QAccessible::Id> mButtons;
};

// One key of the strip.
class TransportButtonAccessible : public AccessibleLeaf, public QAccessibleActionInterface {
public:
    TransportButtonAccessible(SegmentedTapeButtonView* strip, int segment);

    bool isValid() const override { return !mStrip.isNull(); }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::PushButton; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

private:
    QPointer<SegmentedTapeButtonView> mStrip;
    int mSegment;
};
