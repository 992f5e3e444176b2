#include "AudioServerTools.h"

#include "platform/audio/MainQueue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

namespace AudioServerTools {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    std::array<char, 4096> buffer{};
    size_t read = 0;
    while ((read = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), read);
    }
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << command << " failed";
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MainQueue::runPendingFor(0.02);
    }
    return true;
}

void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

} // namespace AudioServerTools
