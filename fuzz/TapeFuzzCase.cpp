#include "TapeFuzzCase.h"

#include "FuzzScratch.h"
#include "app/library/Tape.h"

#include <QString>

#include <cstdio>
#include <cstring>

bool runTapeFuzzCase(const uint8_t* data, size_t size) {
    static const FuzzScratch scratch;
    static const std::string path = scratch.path("case.m4a");
    struct stat written {};
    if (!scratch.put("case.m4a", data, size) || !scratch.stamp("case.m4a", &written)) {
        return true;
    }
    Tape tape(QString::fromStdString(path));
    tape.setCommitsOnDestruction(false);
    tape.setKeepsFileName(true); // renaming is the file system's work, not the label's
    tape.setTitle(QStringLiteral("Fuzzed"));
    if (tape.commitAttributes() || !scratch.changedSince("case.m4a", written)) {
        return true;
    }
    // Something touched the file although the commit was refused: it must
    // still hold exactly its bytes.
    const std::string after = scratch.get("case.m4a");
    if (after.size() == size && std::memcmp(after.data(), data, size) == 0) {
        return true;
    }
    std::fprintf(stderr, "a refused commit changed the file\n");
    return false;
}
