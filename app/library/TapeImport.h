#pragma once

#include <QString>

// Copies tapes into the library folder safely: the copy is written to a
// hidden file beside its destination, synced, and only then given its name,
// so the folder's watcher never sees half a tape and a full disk leaves
// nothing behind. An existing tape of the same name is never replaced.
namespace TapeImport {

enum class Outcome { Copied, AlreadyThere, Failed };

struct Result {
    Outcome outcome = Outcome::Failed;
    QString destination;
    QString error; // in words, when it failed
};

// Copies `source` into `folder` under its own file name, given the ".m4a"
// extension the library lists when it has another.
Result copyTape(const QString& source, const QString& folder);
// The name a file gets in the library.
QString libraryNameFor(const QString& fileName);

// Copies `source` to exactly `destination` (an export); an existing file
// there is replaced only when `replace` is set.
Result copyFile(const QString& source, const QString& destination, bool replace);

} // namespace TapeImport
