#pragma once

#include <QAccessible>

#include <algorithm>

// Text that assistive technology reads but cannot select or edit: the
// deck's readouts and the cassette's label. The text is the value
// accessibleText() gives at the moment it is asked for.
class ReadOnlyAccessibleText : public QAccessibleTextInterface {
public:
    virtual QString accessibleText() const = 0;

    void selection(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override {
        const QString value = accessibleText();
        const auto size = static_cast<int>(value.size());
        endOffset = endOffset < 0 || endOffset > size ? size : endOffset;
        startOffset = std::clamp(startOffset, 0, endOffset);
        return value.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(accessibleText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }
};
