#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>

class QKeyEvent;
class QWidget;
class SegmentedTapeButtonView;

// Makes the transport keys work wherever the focus is in the deck's window:
// a key typed on the tape box, the cassette, the HUD or a drawer button goes
// to the button strip, as if the strip had the focus. Only a text field
// being edited (the search field, the title or the notes) keeps what is
// typed into it, and keys with Ctrl, Alt or Super stay shortcuts. A key
// whose press went to the strip has its release go there too, wherever the
// focus has gone meanwhile, so a held REW or FFWD always comes back up.
class DeckKeyRouter : public QObject {
    Q_OBJECT

public:
    // Watches the application's key events for `window`.
    DeckKeyRouter(QWidget* window, SegmentedTapeButtonView* buttons, QObject* parent = nullptr);
    ~DeckKeyRouter() override;

    // Whether typing into `widget` is editing text.
    static bool isEditingText(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool keyPressed(QKeyEvent* event, QWidget* focus);
    bool keyReleased(QKeyEvent* event);

    QPointer<QWidget> mWindow;
    QPointer<SegmentedTapeButtonView> mButtons;
    // The keys whose press went to the strip.
    QSet<quint64> mRoutedKeys;
};
