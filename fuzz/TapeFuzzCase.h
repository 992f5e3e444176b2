#pragma once

#include <cstddef>
#include <cstdint>

// One case of the tape fuzzer: the bytes are written to a file (in memory),
// loaded as a tape, given a new title and committed. Loading must not crash
// or hang; a commit that is refused must leave the bytes exactly as they
// were. Returns false (after printing why) when that promise is broken.
bool runTapeFuzzCase(const uint8_t* data, size_t size);
