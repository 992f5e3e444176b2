#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One case of the journal fuzzer: the bytes (after the first, which chooses
// a recording) become the journal of a fixed interrupted recording, lossy
// mono or lossless stereo, in a folder that also holds a file of the user's.
// Recovery must not crash or hang, must never touch the user's file nor make
// another, must never remove the recording, and may change the recording only
// by finishing it: its audio stays where it was and only an index follows.
// Returns false (after printing why) when that promise is broken.
bool runJournalFuzzCase(const uint8_t* data, size_t size);

// The fixed recordings' own journals, each with its choosing byte in front:
// the seeds of the fuzzer's corpus.
std::vector<std::string> journalFuzzSeeds();
