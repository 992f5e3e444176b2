#pragma once

#include <QStringList>

// `cassora devices [--json] [--watch]`: lists the audio devices, or prints
// the hardware notices as they arrive until interrupted.
int runDevicesCommand(const QStringList& arguments);
