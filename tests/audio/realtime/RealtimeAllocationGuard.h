#pragma once

#include <cstddef>

// In the engine test program every allocation is checked: one made while
// real-time code of ours runs (inside a RealtimeScope) is counted here.
namespace RealtimeAllocationGuard {
size_t violations();
void reset();
} // namespace RealtimeAllocationGuard
