#pragma once

#include <QStringList>

// `cassora movie TAPE [--output FILE]`: renders the tape's movie, with a
// progress bar on a terminal; Ctrl-C stops it and removes the partial movie.
int runMovieCommand(const QStringList& arguments);
// `cassora import FILE…`: copies tapes into the library folder; names the
// library already holds are skipped.
int runImportCommand(const QStringList& arguments);
// `cassora export TAPE DIR|FILE`: copies a tape out, never over an existing file.
int runExportCommand(const QStringList& arguments);
