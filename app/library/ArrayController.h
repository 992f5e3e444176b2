#pragma once

#include "app/library/Tape.h"

#include <QList>
#include <QObject>

#include <memory>
#include <vector>

using TapeList = std::vector<std::shared_ptr<Tape>>;

// The part of an array controller the tape box needs: the content, the
// arranged (filtered, sorted) list, a selection over the arranged list, and
// re-arranging when a tape changes. A Qt item model can show `arrangedObjects`
// and follow `arrangedObjectsChanged` and `selectionChanged`.
class ArrayController : public QObject {
    Q_OBJECT

public:
    explicit ArrayController(QObject* parent = nullptr);

    const TapeList& content() const { return mContent; }
    void setContent(TapeList content);
    const TapeList& arrangedObjects() const { return mArranged; }

    // Adds a tape (once: tapes are equal by file name) and, when
    // `selectsInsertedObjects`, selects it.
    virtual void addObject(const std::shared_ptr<Tape>& tape);
    void addObjects(const TapeList& tapes);
    void removeObject(const Tape& tape);
    void removeObjects(const TapeList& tapes);
    bool selectsInsertedObjects() const { return mSelectsInsertedObjects; }
    void setSelectsInsertedObjects(bool selects) { mSelectsInsertedObjects = selects; }

    // Sorting: a key ("date", "title", "duration") and a direction.
    void setSortKey(const QString& key, bool ascending);

    const QList<int>& selectionIndexes() const { return mSelection; }
    bool setSelectionIndexes(const QList<int>& indexes);
    TapeList selectedObjects() const;
    bool setSelectedObjects(const TapeList& tapes);

    void rearrangeObjects();

signals:
    void arrangedObjectsChanged();
    void selectionChanged();

protected:
    // Filters and sorts; subclasses filter first, then call `sortObjects`.
    virtual TapeList arrangeObjects(const TapeList& objects);
    TapeList sortObjects(TapeList objects) const;

private:
    void observe(const std::shared_ptr<Tape>& tape);

    TapeList mContent;
    TapeList mArranged;
    QList<int> mSelection;
    QString mSortKey = QStringLiteral("date");
    bool mAscending = false;
    bool mSelectsInsertedObjects = true;
};
