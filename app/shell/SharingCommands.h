#pragma once

#include <QStringList>

// `cassora movie TAPE [--output FILE]`: renders the tape's movie, with a
// progress bar on a terminal; Ctrl-C stops it and removes the partial movie.
int runMovieCommand(const QStringList& arguments);
// `cassora import FILE…`: copies tapes into the library folder; names the
// library already holds are skipped.
int runImportCommand(const QStringList& arguments);
// `cassora export TAPE... [--format m4a|wav|flac|opus|mp3] [--output FILE|--to DIR]
// [--bitrate KBITS]`: exports tapes (a copy, or converted with the label in
// the new file's tags), never over an existing file. `export TAPE DIR|FILE`
// works as before: a copy, or the format of FILE's extension.
int runExportCommand(const QStringList& arguments);
