// libFuzzer entry: build with -DCASSORA_FUZZ=ON and clang (see the README).
// With CASSORA_JOURNAL_SEEDS=DIR set, it writes its seeds into DIR and exits.

#include "JournalFuzzCase.h"

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* folder = std::getenv("CASSORA_JOURNAL_SEEDS")) {
        int n = 0;
        for (const std::string& seed : journalFuzzSeeds()) {
            const std::string path = std::string(folder) + "/seed-" + std::to_string(n++);
            if (FILE* file = std::fopen(path.c_str(), "wb")) {
                std::fwrite(seed.data(), 1, seed.size(), file);
                std::fclose(file);
            }
        }
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!runJournalFuzzCase(data, size)) {
        std::abort();
    }
    return 0;
}
