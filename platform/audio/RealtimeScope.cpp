#include "platform/audio/RealtimeScope.h"

thread_local int RealtimeScope::tDepth = 0;
