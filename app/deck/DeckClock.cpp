#include "app/deck/DeckClock.h"

#include <chrono>

namespace {

std::function<double()>& source() {
    static std::function<double()> clock;
    return clock;
}

} // namespace

double DeckClock::now() {
    if (source()) {
        return source()();
    }
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void DeckClock::setSource(std::function<double()> source_) {
    source() = std::move(source_);
}
