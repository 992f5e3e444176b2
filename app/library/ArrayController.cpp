#include "app/library/ArrayController.h"

#include <algorithm>

namespace {

bool contains(const TapeList& list, const Tape& tape) {
    return std::any_of(list.begin(), list.end(), [&](const auto& t) { return *t == tape; });
}

} // namespace

ArrayController::ArrayController(QObject* parent) : QObject(parent) {}

void ArrayController::observe(const std::shared_ptr<Tape>& tape) {
    for (auto signal : {&Tape::titleChanged, &Tape::notesChanged, &Tape::dateChanged,
                        &Tape::tapeLetterChanged, &Tape::headersChanged}) {
        connect(tape.get(), signal, this, &ArrayController::rearrangeObjects, Qt::UniqueConnection);
    }
}

void ArrayController::setContent(TapeList content) {
    for (const auto& tape : mContent) {
        disconnect(tape.get(), nullptr, this, nullptr);
    }
    mContent.clear();
    for (auto& tape : content) {
        if (tape && !contains(mContent, *tape)) {
            observe(tape);
            mContent.push_back(std::move(tape));
        }
    }
    rearrangeObjects();
}

void ArrayController::addObject(const std::shared_ptr<Tape>& tape) {
    addObjects({tape});
}

void ArrayController::addObjects(const TapeList& tapes) {
    TapeList added;
    for (const auto& tape : tapes) {
        if (tape && !contains(mContent, *tape)) {
            observe(tape);
            mContent.push_back(tape);
            added.push_back(tape);
        }
    }
    if (added.empty()) {
        return;
    }
    const TapeList selected = selectedObjects();
    rearrangeObjects();
    setSelectedObjects(mSelectsInsertedObjects ? added : selected);
}

void ArrayController::removeObject(const Tape& tape) {
    const auto found =
        std::find_if(mContent.begin(), mContent.end(), [&](const auto& t) { return *t == tape; });
    if (found == mContent.end()) {
        return;
    }
    const TapeList selected = selectedObjects();
    disconnect(found->get(), nullptr, this, nullptr);
    mContent.erase(found);
    rearrangeObjects();
    setSelectedObjects(selected);
}

void ArrayController::removeObjects(const TapeList& tapes) {
    for (const auto& tape : tapes) {
        removeObject(*tape);
    }
}

void ArrayController::setSortKey(const QString& key, bool ascending) {
    mSortKey = key;
    mAscending = ascending;
    rearrangeObjects();
}

TapeList ArrayController::arrangeObjects(const TapeList& objects) {
    return sortObjects(objects);
}

TapeList ArrayController::sortObjects(TapeList objects) const {
    const auto less = [this](const std::shared_ptr<Tape>& a, const std::shared_ptr<Tape>& b) {
        if (mSortKey == QLatin1String("title")) {
            return QString::localeAwareCompare(a->title(), b->title()) < 0;
        }
        if (mSortKey == QLatin1String("duration")) {
            return a->duration() < b->duration();
        }
        return a->date() < b->date();
    };
    std::stable_sort(objects.begin(), objects.end(), [&](const auto& a, const auto& b) {
        return mAscending ? less(a, b) : less(b, a);
    });
    return objects;
}

void ArrayController::rearrangeObjects() {
    const TapeList selected = selectedObjects();
    mArranged = arrangeObjects(mContent);
    emit arrangedObjectsChanged();
    setSelectedObjects(selected);
}

bool ArrayController::setSelectionIndexes(const QList<int>& indexes) {
    QList<int> valid;
    for (int index : indexes) {
        if (index >= 0 && index < static_cast<int>(mArranged.size()) && !valid.contains(index)) {
            valid.append(index);
        }
    }
    std::sort(valid.begin(), valid.end());
    if (valid == mSelection) {
        return false;
    }
    mSelection = valid;
    emit selectionChanged();
    return true;
}

TapeList ArrayController::selectedObjects() const {
    TapeList selected;
    for (int index : mSelection) {
        if (index < static_cast<int>(mArranged.size())) {
            selected.push_back(mArranged[static_cast<size_t>(index)]);
        }
    }
    return selected;
}

bool ArrayController::setSelectedObjects(const TapeList& tapes) {
    QList<int> indexes;
    for (const auto& tape : tapes) {
        for (size_t i = 0; i < mArranged.size(); ++i) {
            if (*mArranged[i] == *tape) {
                indexes.append(static_cast<int>(i));
            }
        }
    }
    return setSelectionIndexes(indexes);
}
