#pragma once

#include <QDateTime>
#include <QStringList>

class Tape;

// `cassora info FILE [--json]`: a tape's attributes.
int runInfoCommand(const QStringList& arguments);
// `cassora label FILE [--title T] [--notes N] [--artist A] [--date D]
//  [--letter L] [--color NAME|INDEX]`: edits the label and prints the new path.
int runLabelCommand(const QStringList& arguments);

// `cassora library [DIR] [--search QUERY] [--json]`: the library's tapes,
// newest first, narrowed by the search.
int runLibraryCommand(const QStringList& arguments);

// Labels a new recording as the deck does ("Untitled", dated when it started
// (now when not given), the author, letter "A"), commits and reloads it.
// False when the file cannot be labelled.
bool labelNewRecording(Tape& tape, const QDateTime& started = {});
// The "TapeAuthor" default, else the user's full name.
QString tapeAuthor();
