#pragma once

#include <QStringList>

// `cassora record [--quality HQ|MQ|LQ] [--mono] [--device UID] [--channels 1,2]
//  [--seconds N] [--output FILE]`: records a new tape; always finishes the
// file, also on Ctrl-C or SIGTERM, and prints its path.
int runRecordCommand(const QStringList& arguments);
// `cassora play FILE [--speed S] [--from SECONDS] [--volume DB] [--device UID]`
int runPlayCommand(const QStringList& arguments);
// `cassora meter [--device UID] [--channels 1,2]`: input levels 15 times a second.
int runMeterCommand(const QStringList& arguments);
