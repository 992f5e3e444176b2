#include "TapeFuzzCase.h"

#include "FuzzScratch.h"
#include "app/library/Tape.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <unistd.h>

bool runTapeFuzzCase(const uint8_t* data, size_t size) {
    static const FuzzScratch scratch;
    if (!scratch.put("case.m4a", data, size)) {
        return true;
    }
    bool kept = true;
    {
        Tape tape(QString::fromStdString(scratch.path("case.m4a")));
        tape.setCommitsOnDestruction(false);
        tape.setKeepsFileName(true); // renaming is the file system's work, not the label's
        tape.setTitle(QStringLiteral("Fuzzed"));
        if (!tape.commitAttributes()) {
            const std::string after = scratch.get("case.m4a");
            kept = after.size() == size && std::memcmp(after.data(), data, size) == 0;
            if (!kept) {
                std::fprintf(stderr, "a refused commit changed the file\n");
            }
        }
    }
    unlink(scratch.path("case.m4a").c_str());
    return kept;
}
