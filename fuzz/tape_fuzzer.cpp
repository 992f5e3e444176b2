// libFuzzer entry: build with -DCASSORA_FUZZ=ON and clang (see the README).

#include "TapeFuzzCase.h"

#include <QGuiApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!runTapeFuzzCase(data, size)) {
        std::abort();
    }
    return 0;
}
