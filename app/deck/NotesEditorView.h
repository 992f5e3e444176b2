#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The notes editor that opens over the cassette's notes strip: a text area
// and a "Done" button. It only edits text; the cassette view decides what
// happens with it when `done` comes.
class NotesEditorView : public QWidget {
    Q_OBJECT

public:
    explicit NotesEditorView(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QPlainTextEdit* textEdit() const { return mTextEdit; }
    QPushButton* doneButton() const { return mDoneButton; }

signals:
    void done();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* mTextEdit = nullptr;
    QPushButton* mDoneButton = nullptr;
};
