#include "app/deck/TapeViewAccessible.h"

#include "app/deck/NotesEditorView.h"
#include "app/deck/TapeView.h"
#include "app/library/TapeColorScheme.h"
#include "app/library/TapeLetter.h"

#include <QCoreApplication>
#include <QLineEdit>

namespace {

// The colour names, for the translations; the schemes keep the English ones.
[[maybe_unused]] const char* const kColourNames[] = {
    QT_TRANSLATE_NOOP("TapeColorScheme", "red"),    QT_TRANSLATE_NOOP("TapeColorScheme", "blue"),
    QT_TRANSLATE_NOOP("TapeColorScheme", "yellow"), QT_TRANSLATE_NOOP("TapeColorScheme", "green"),
    QT_TRANSLATE_NOOP("TapeColorScheme", "orange"), QT_TRANSLATE_NOOP("TapeColorScheme", "purple"),
    QT_TRANSLATE_NOOP("TapeColorScheme", "black"),  QT_TRANSLATE_NOOP("TapeColorScheme", "gray"),
};

QString letterTagName(const TapeView& view) {
    const auto letter = view.tapeLabelView().tapeLetter();
    if (!letter) {
        return QCoreApplication::translate("TapeView", "Letter tag");
    }
    const QString colour = letter->colorScheme() ? letter->colorScheme()->colorName() : QString();
    return QCoreApplication::translate("TapeView", "Letter %1, %2")
        .arg(letter->letter(),
             QCoreApplication::translate("TapeColorScheme", colour.toUtf8().constData()));
}

} // namespace

TapeViewAccessible::TapeViewAccessible(TapeView* view)
    : QAccessibleWidget(view, QAccessible::Grouping) {}

TapeViewAccessible::~TapeViewAccessible() {
    for (QAccessible::Id id : mParts) {
        if (id != 0) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }
}

TapeView* TapeViewAccessible::tapeView() const {
    return static_cast<TapeView*>(widget());
}

QString TapeViewAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
        return QCoreApplication::translate("TapeView", "Cassette");
    }
    if (t == QAccessible::Description && widget()->accessibleDescription().isEmpty()) {
        return QCoreApplication::translate("TapeView", "Return renames the tape");
    }
    return QAccessibleWidget::text(t);
}

QList<QWidget*> TapeViewAccessible::shownEditors() const {
    QList<QWidget*> editors;
    if (tapeView()->isEditingTitle() && tapeView()->titleEditor()) {
        editors << tapeView()->titleEditor();
    }
    if (tapeView()->isEditingNotes() && tapeView()->notesEditor()) {
        editors << tapeView()->notesEditor();
    }
    return editors;
}

int TapeViewAccessible::childCount() const {
    return PartCount + static_cast<int>(shownEditors().size());
}

QAccessibleInterface* TapeViewAccessible::child(int index) const {
    if (index < 0 || index >= childCount()) {
        return nullptr;
    }
    if (index >= PartCount) {
        return QAccessible::queryAccessibleInterface(shownEditors().at(index - PartCount));
    }
    QAccessible::Id& id = mParts[static_cast<size_t>(index)];
    if (id == 0) {
        id = QAccessible::registerAccessibleInterface(
            new TapeLabelPartAccessible(tapeView(), static_cast<Part>(index)));
    }
    return QAccessible::accessibleInterface(id);
}

int TapeViewAccessible::indexOfChild(const QAccessibleInterface* child) const {
    for (int index = 0; index < childCount(); ++index) {
        if (this->child(index) == child) {
            return index;
        }
    }
    return -1;
}

TapeLabelPartAccessible::TapeLabelPartAccessible(TapeView* view, TapeViewAccessible::Part part)
    : mView(view), mPart(part) {}

QWindow* TapeLabelPartAccessible::window() const {
    return mView ? mView->window()->windowHandle() : nullptr;
}

QAccessibleInterface* TapeLabelPartAccessible::parent() const {
    return mView ? QAccessible::queryAccessibleInterface(mView.data()) : nullptr;
}

QString TapeLabelPartAccessible::text(QAccessible::Text t) const {
    if (!mView) {
        return {};
    }
    switch (t) {
    case QAccessible::Name:
        switch (mPart) {
        case TapeViewAccessible::Part::Title:
            return QCoreApplication::translate("TapeView", "Title");
        case TapeViewAccessible::Part::Notes:
            return QCoreApplication::translate("TapeView", "Notes");
        case TapeViewAccessible::Part::LetterTag:
            return letterTagName(*mView);
        }
        return {};
    case QAccessible::Value:
        return mPart == TapeViewAccessible::Part::LetterTag ? QString() : accessibleText();
    case QAccessible::Description:
        switch (mPart) {
        case TapeViewAccessible::Part::Title:
            return QCoreApplication::translate("TapeView", "Press to rename the tape");
        case TapeViewAccessible::Part::Notes:
            return QCoreApplication::translate("TapeView", "Press to edit the notes");
        case TapeViewAccessible::Part::LetterTag:
            return QCoreApplication::translate("TapeView", "Press for the next colour");
        }
        return {};
    default:
        return {};
    }
}

QString TapeLabelPartAccessible::accessibleText() const {
    if (!mView) {
        return {};
    }
    switch (mPart) {
    case TapeViewAccessible::Part::Title:
        return mView->tapeLabelView().title();
    case TapeViewAccessible::Part::Notes:
        return mView->notesLabelView().notes();
    case TapeViewAccessible::Part::LetterTag:
        return letterTagName(*mView);
    }
    return {};
}

QRect TapeLabelPartAccessible::rect() const {
    if (!mView) {
        return {};
    }
    QRectF local;
    switch (mPart) {
    case TapeViewAccessible::Part::Title:
        local = mView->titleRect();
        break;
    case TapeViewAccessible::Part::Notes:
        local = mView->notesRect();
        break;
    case TapeViewAccessible::Part::LetterTag:
        local = mView->letterTagRect();
        break;
    }
    const QRect aligned = local.toAlignedRect();
    return QRect(mView->mapToGlobal(aligned.topLeft()), aligned.size());
}

QAccessible::Role TapeLabelPartAccessible::role() const {
    return mPart == TapeViewAccessible::Part::LetterTag ? QAccessible::PushButton
                                                        : QAccessible::EditableText;
}

QAccessible::State TapeLabelPartAccessible::state() const {
    QAccessible::State state;
    if (!mView) {
        state.invalid = true;
        return state;
    }
    state.invisible = !mView->isVisible();
    const bool inserted = mView->slideState() == TapeView::SlideState::Inserted;
    state.disabled = !mView->isEnabled() || !inserted;
    if (mPart != TapeViewAccessible::Part::LetterTag) {
        state.editable = true;
        state.multiLine = mPart == TapeViewAccessible::Part::Notes;
    }
    return state;
}

void* TapeLabelPartAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ActionInterface) {
        return static_cast<QAccessibleActionInterface*>(this);
    }
    if (type == QAccessible::TextInterface && mPart != TapeViewAccessible::Part::LetterTag) {
        return static_cast<QAccessibleTextInterface*>(this);
    }
    return nullptr;
}

void TapeLabelPartAccessible::doAction(const QString& actionName) {
    if (actionName != pressAction() || !mView) {
        return;
    }
    // From the event loop, so the assistive technology's call returns first.
    QMetaObject::invokeMethod(
        mView.data(),
        [view = mView, part = mPart] {
            if (!view) {
                return;
            }
            switch (part) {
            case TapeViewAccessible::Part::Title:
                view->editTitle();
                break;
            case TapeViewAccessible::Part::Notes:
                view->editNotes();
                break;
            case TapeViewAccessible::Part::LetterTag:
                view->nextColour();
                break;
            }
        },
        Qt::QueuedConnection);
}

QStringList TapeLabelPartAccessible::keyBindingsForAction(const QString& actionName) const {
    if (actionName != pressAction()) {
        return {};
    }
    // The Tape menu's keys for the same commands.
    switch (mPart) {
    case TapeViewAccessible::Part::Title:
        return {QStringLiteral("F2")};
    case TapeViewAccessible::Part::Notes:
        return {QStringLiteral("Shift+F2")};
    case TapeViewAccessible::Part::LetterTag:
        return {QStringLiteral("Ctrl+L")};
    }
    return {};
}
