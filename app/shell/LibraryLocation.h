#pragma once

#include <QString>

// The library folder: the "TapeLibraryLocation" default, else the music
// folder's "Cassora". Made when missing; an empty string when it cannot be.
QString tapeLibraryPath();
// A fresh tape file name in `folder`: an upper-case UUID with "m4a".
QString newTapeFilePath(const QString& folder);
