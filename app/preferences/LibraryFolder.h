#pragma once

#include <QString>

// The library folder's first-run preparation: the default folder, its icon
// and the welcome tape.
namespace LibraryFolder {

// "Cassora" in the user's music folder (~/Music when the desktop names none).
QString defaultPath();

// Makes `path` and any missing parent folders. True when the folder exists
// afterwards; otherwise `error` says why.
bool create(const QString& path, QString* error);

// Writes the folder icon (our own SVG) into the user's data folder when it is
// missing or out of date; returns its path, empty when it cannot be written.
QString writeFolderIcon();

// Gives `folder` the custom icon through `gio` when that program exists.
// Runs detached: start-up never waits for it.
void setCustomIcon(const QString& folder);

enum class CopyResult { Copied, AlreadyThere, NoSource, Failed };

// Copies the tape at `source` into `folder` under the same file name, unless
// a file of that name is already there (it is left alone). The copy is
// readable and writable by the user even when the source is read-only (as
// resources are). A failed copy leaves nothing behind; `error` says why.
CopyResult copyWelcomeTape(const QString& source, const QString& folder, QString* error);

} // namespace LibraryFolder
