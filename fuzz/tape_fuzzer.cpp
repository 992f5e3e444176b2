// libFuzzer entry: build with -DCASSORA_FUZZ=ON and clang (see the README).

#include "TapeFuzzCase.h"

#include "app/library/Tape.h"

#include <QGuiApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    // The cover's drawing and its PNG are Qt's, not ours: an empty one
    // keeps the cases on the label code.
    Tape::setCoverArtRenderer([](const Tape&) { return QImage(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!runTapeFuzzCase(data, size)) {
        std::abort();
    }
    return 0;
}
