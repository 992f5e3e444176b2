#include "app/deck/NotesEditorView.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

NotesEditorView::NotesEditorView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("notesEditor"));
    mTextEdit = new QPlainTextEdit(this);
    mTextEdit->setAccessibleName(tr("Notes"));
    mTextEdit->setObjectName(QStringLiteral("notesText"));
    QFont font(QFontDatabase::hasFamily(QStringLiteral("Helvetica Neue"))
                   ? QStringLiteral("Helvetica Neue")
                   : QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    mTextEdit->setFont(font);
    mTextEdit->setTabChangesFocus(true);
    mTextEdit->installEventFilter(this);

    mDoneButton = new QPushButton(tr("Done"), this);
    mDoneButton->setObjectName(QStringLiteral("notesDone"));
    mDoneButton->setCursor(Qt::PointingHandCursor);
    connect(mDoneButton, &QPushButton::clicked, this, &NotesEditorView::done);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch();
    buttons->addWidget(mDoneButton);
    // Lies on the label's paper and hides the notes strip under it.
    QPalette paper = palette();
    paper.setColor(QPalette::Window, QColor(0xf6, 0xf2, 0xe6));
    setPalette(paper);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(3);
    layout->addWidget(mTextEdit, 1);
    layout->addLayout(buttons);
}

QString NotesEditorView::text() const {
    return mTextEdit->toPlainText();
}

void NotesEditorView::setText(const QString& text) {
    mTextEdit->setPlainText(text);
    mTextEdit->moveCursor(QTextCursor::End);
}

bool NotesEditorView::eventFilter(QObject* watched, QEvent* event) {
    // Ctrl+Return finishes, as the button does; Return alone is a new line.
    // Escape finishes too, keeping what was typed (notes can be long).
    if (watched == mTextEdit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
             (key->modifiers() & Qt::ControlModifier)) ||
            key->key() == Qt::Key_Escape) {
            emit done();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
