#pragma once

#include <QString>

// A file made under a hidden name beside its destination, then given its
// name once whole: nobody ever sees half a file under the real name.
namespace FilePlacement {

// ".NAME.UUID.part" in the destination's folder.
QString partialNameFor(const QString& destination);

enum class Outcome { Placed, AlreadyThere, Failed };
struct Result {
    Outcome outcome = Outcome::Failed;
    QString error; // in words, when it failed
};

// Gives `partial` the name `destination`: an existing file there is
// replaced only when `replace` is set (else the name taken meanwhile wins).
// `partial` is gone afterwards in every case.
Result place(const QString& partial, const QString& destination, bool replace);

} // namespace FilePlacement
