#pragma once

#include <QString>
#include <QStringList>

// `cassora recover [DIR|FILE]`: finishes interrupted recordings (in the
// library folder when nothing is given) and prints what it did. Exits 1 when
// one could not be recovered.
int runRecoverCommand(const QStringList& arguments);

// Recovers the folder's interrupted recordings before anything lists it,
// telling on standard error what was recovered. False when one failed.
bool recoverInterruptedRecordings(const QString& folder);
