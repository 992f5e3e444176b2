#include "app/library/FilteringArrayController.h"

#include "platform/desktop/NaturalDateParser.h"

#include <QRegularExpression>

namespace {

// The date text keeps its case: an ISO date and time ("2012-03-04T10:00")
// does not parse lower-cased.
std::optional<QDateTime> dateAfter(const QString& term, const QString& prefix,
                                   const QDateTime& now) {
    const auto parsed = NaturalDateParser::parse(
        term.mid(term.indexOf(prefix, 0, Qt::CaseInsensitive) + prefix.size()), now);
    return parsed ? std::optional<QDateTime>(parsed->dateTime) : std::nullopt;
}

// Terms are separated by any space character, the no-break and the other
// Unicode spaces included; two spaces in a row give an empty term.
QStringList splitTerms(const QString& filter) {
    QStringList terms(QString{});
    for (const QChar c : filter) {
        if (c.isSpace()) {
            terms.append(QString());
        } else {
            terms.back().append(c);
        }
    }
    return terms;
}

bool termMatches(const Tape& tape, const QString& original, const QDateTime& now) {
    const QString term = original.toLower();
    if (term.isEmpty()) {
        return false;
    }
    if (term.contains(QLatin1String("color:"))) {
        const auto letter = tape.tapeLetter();
        const QString color = letter ? letter->colorScheme()->colorName().toLower() : QString();
        return !color.isEmpty() && term.contains(color);
    }
    if (term.contains(QLatin1String("quality:"))) {
        const QString quality = tape.quality().toLower();
        return !quality.isEmpty() && term.contains(quality);
    }
    const QDateTime date = tape.date().toLocalTime();
    if (term.contains(QLatin1String("date:"))) {
        const auto wanted = dateAfter(original, QStringLiteral("date:"), now);
        return wanted && date.isValid() && std::llabs(wanted->secsTo(date)) <= 86400 &&
               wanted->date().dayOfYear() == date.date().dayOfYear();
    }
    if (term.contains(QLatin1String("month:"))) {
        const auto wanted = dateAfter(original, QStringLiteral("month:"), now);
        return wanted && date.isValid() && wanted->date().month() == date.date().month();
    }
    if (term.contains(QLatin1String("year:"))) {
        const auto wanted = dateAfter(original, QStringLiteral("year:"), now);
        return wanted && date.isValid() && wanted->date().year() == date.date().year();
    }
    return tape.title().toLower().contains(term) || tape.notes().toLower().contains(term);
}

} // namespace

FilteringArrayController::FilteringArrayController(QObject* parent) : ArrayController(parent) {}

void FilteringArrayController::setFilterString(const QString& filter) {
    mFilterString = filter;
    rearrangeObjects();
}

void FilteringArrayController::keepVisible(const TapeList& tapes) {
    if (mFilterString.isEmpty()) {
        return;
    }
    for (const auto& tape : tapes) {
        if (tape) {
            mNewlyAdded.push_back(tape);
        }
    }
}

void FilteringArrayController::addObject(const std::shared_ptr<Tape>& tape) {
    if (!mFilterString.isEmpty() && tape) {
        mNewlyAdded.push_back(tape);
    }
    ArrayController::addObject(tape);
}

bool FilteringArrayController::matches(const Tape& tape, const QString& filter,
                                       const QDateTime& now) {
    if (filter.isEmpty()) {
        return true;
    }
    QStringList terms = splitTerms(filter); // keeps empty terms
    const bool anyTerm = terms.removeOne(QStringLiteral("|"));
    int matched = 0;
    for (const QString& term : terms) {
        if (termMatches(tape, term, now)) {
            ++matched;
        }
    }
    return anyTerm ? matched > 0 : matched == terms.size();
}

TapeList FilteringArrayController::arrangeObjects(const TapeList& objects) {
    if (mFilterString.isEmpty()) {
        mNewlyAdded.clear();
        return ArrayController::arrangeObjects(objects);
    }
    TapeList kept;
    for (const auto& tape : objects) {
        if (matches(*tape, mFilterString)) {
            kept.push_back(tape);
        }
    }
    // New tapes stay visible; one that also matches is listed once.
    for (const auto& tape : mNewlyAdded) {
        const bool inContent =
            std::any_of(objects.begin(), objects.end(), [&](const auto& t) { return *t == *tape; });
        const bool listed =
            std::any_of(kept.begin(), kept.end(), [&](const auto& t) { return *t == *tape; });
        if (inContent && !listed) {
            kept.push_back(tape);
        }
    }
    return sortObjects(kept);
}
