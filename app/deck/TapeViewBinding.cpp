#include "app/deck/TapeViewBinding.h"

#include "app/deck/TapeView.h"
#include "app/library/Tape.h"

TapeViewBinding::TapeViewBinding(TapeView* view, QObject* parent) : QObject(parent), mView(view) {
    connect(view, &TapeView::titleEdited, this, [this](const QString& title) {
        if (mTape) {
            mTape->setTitle(title);
        }
    });
    connect(view, &TapeView::notesEdited, this, [this](const QString& notes) {
        if (mTape) {
            mTape->setNotes(notes);
        }
    });
    connect(view, &TapeView::tapeLetterEdited, this,
            [this](const std::shared_ptr<TapeLetter>& letter) {
                if (mTape && letter) {
                    mTape->setTapeLetter(letter);
                }
            });
    showTape();
}

TapeViewBinding::~TapeViewBinding() {
    disconnectTape();
}

void TapeViewBinding::disconnectTape() {
    for (const auto& connection : mTapeConnections) {
        disconnect(connection);
    }
    mTapeConnections.clear();
}

void TapeViewBinding::setTape(std::shared_ptr<Tape> tape) {
    if (tape == mTape || !mView) {
        return;
    }
    mView->endEditing();
    disconnectTape();
    mTape = std::move(tape);
    if (mTape) {
        Tape* t = mTape.get();
        auto follow = [this, t](auto signal, auto show) {
            mTapeConnections << connect(t, signal, mView, [this, t, show] { show(mView, *t); });
        };
        follow(&Tape::titleChanged, [](TapeView* v, const Tape& t) { v->setTitle(t.title()); });
        follow(&Tape::notesChanged, [](TapeView* v, const Tape& t) { v->setNotes(t.notes()); });
        follow(&Tape::dateChanged, [](TapeView* v, const Tape& t) { v->setDate(t.date()); });
        follow(&Tape::tapeLetterChanged,
               [](TapeView* v, const Tape& t) { v->setTapeLetter(t.tapeLetter()); });
        follow(&Tape::filenameChanged,
               [](TapeView* v, const Tape& t) { v->setFilename(t.filename()); });
        follow(&Tape::headersChanged, [](TapeView* v, const Tape& t) {
            v->setDuration(t.duration());
            v->setQuality(t.quality());
        });
    }
    showTape();
}

void TapeViewBinding::showTape() {
    if (!mView) {
        return;
    }
    if (!mTape) {
        mView->setTitle({});
        mView->setDate({});
        mView->setDuration(0);
        mView->setQuality({});
        mView->setTapeLetter(nullptr);
        mView->setNotes({});
        mView->setFilename({});
        return;
    }
    mView->setTitle(mTape->title());
    mView->setDate(mTape->date());
    mView->setDuration(mTape->duration());
    mView->setQuality(mTape->quality());
    mView->setTapeLetter(mTape->tapeLetter());
    mView->setNotes(mTape->notes());
    mView->setFilename(mTape->filename());
}
