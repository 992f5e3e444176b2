#pragma once

#include "app/library/ArrayController.h"

#include <QDateTime>

// An array controller narrowed by a search: free words in titles and notes,
// "color:", "quality:", "date:", "month:" and "year:" terms, all terms
// required, or any one when the terms include a lone "|". Tapes added while a
// search is active stay listed until the search is cleared.
class FilteringArrayController : public ArrayController {
    Q_OBJECT

public:
    explicit FilteringArrayController(QObject* parent = nullptr);

    QString filterString() const { return mFilterString; }
    void setFilterString(const QString& filter);
    void addObject(const std::shared_ptr<Tape>& tape) override;
    // Tapes about to be added that stay visible while the filter is active.
    void keepVisible(const TapeList& tapes);

    // Whether a tape passes the search (the newly-added rule aside).
    static bool matches(const Tape& tape, const QString& filter,
                        const QDateTime& now = QDateTime::currentDateTime());

protected:
    TapeList arrangeObjects(const TapeList& objects) override;

private:
    QString mFilterString;
    TapeList mNewlyAdded;
};
