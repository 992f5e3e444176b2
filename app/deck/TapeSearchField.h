#pragma once

#include <QLineEdit>

// The tape box's search field: a magnifier, a clear button and the
// placeholder "Search". Every change of the text is a search; Escape clears.
class TapeSearchField : public QLineEdit {
    Q_OBJECT

public:
    explicit TapeSearchField(QWidget* parent = nullptr);

signals:
    void search(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
