#pragma once

#include "app/deck/AccessibleLeaf.h"
#include "app/deck/ReadOnlyAccessibleText.h"

#include <QAccessibleWidget>
#include <QPointer>

#include <array>

class TapeView;

// The cassette as assistive technology sees it: its label's title and notes
// as text that a press opens for editing (in the cassette's own editors,
// which then appear as its children), and the letter tag as a button that
// says its letter and colour and gives the label the next colours.
class TapeViewAccessible : public QAccessibleWidget {
public:
    enum class Part { Title, Notes, LetterTag };
    static constexpr int PartCount = 3;

    explicit TapeViewAccessible(TapeView* view);
    ~TapeViewAccessible() override;

    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;

private:
    TapeView* tapeView() const;
    QList<QWidget*> shownEditors() const;

    mutable std::array<QAccessible::Id, PartCount> mParts{};
};

// One part of the cassette's label.
class TapeLabelPartAccessible : public AccessibleLeaf,
                                public QAccessibleActionInterface,
                                public ReadOnlyAccessibleText {
public:
    TapeLabelPartAccessible(TapeView* view, TapeViewAccessible::Part part);

    bool isValid() const override { return !mView.isNull(); }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

    QString accessibleText() const override;
    using ReadOnlyAccessibleText::text;

private:
    QPointer<TapeView> mView;
    TapeViewAccessible::Part mPart;
};
