#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <memory>

class Tape;
class TapeView;

// Binds a cassette view to a tape both ways: the view shows the tape's
// label values and follows their changes, and the user's edits in the view
// (title, notes, letter) go into the tape, which marks them dirty. Without
// a tape the view shows an empty cassette.
class TapeViewBinding : public QObject {
    Q_OBJECT

public:
    explicit TapeViewBinding(TapeView* view, QObject* parent = nullptr);
    ~TapeViewBinding() override;

    // An edit still open in the view is finished into the tape it was
    // started on before the view moves to the new one.
    void setTape(std::shared_ptr<Tape> tape);
    std::shared_ptr<Tape> tape() const { return mTape; }

private:
    void showTape();
    void disconnectTape();

    QPointer<TapeView> mView;
    std::shared_ptr<Tape> mTape;
    QList<QMetaObject::Connection> mTapeConnections;
};
