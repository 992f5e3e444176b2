#pragma once

#include <QWidget>

// The deck's speaker grille: a field of punched holes in the panel.
class SpeakerGrilleView : public QWidget {
    Q_OBJECT

public:
    explicit SpeakerGrilleView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
