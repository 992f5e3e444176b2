#include "RealtimeAllocationGuard.h"

#include "platform/audio/RealtimeScope.h"

#include <atomic>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<size_t> gViolations{0};
thread_local bool tInside = false; // the check itself may not recurse

void check() {
    if (tInside) {
        return;
    }
    tInside = true;
    if (RealtimeScope::isActive()) {
        gViolations.fetch_add(1, std::memory_order_relaxed);
    }
    tInside = false;
}

} // namespace

namespace RealtimeAllocationGuard {
size_t violations() {
    return gViolations.load();
}
void reset() {
    gViolations.store(0);
}
} // namespace RealtimeAllocationGuard

// Every allocation of the process comes through here; operator new uses malloc.
extern "C" void* malloc(size_t size) {
    check();
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    check();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, size_t size) {
    check();
    return __libc_realloc(pointer, size);
}

extern "C" void* memalign(size_t alignment, size_t size) {
    check();
    return __libc_memalign(alignment, size);
}

extern "C" int posix_memalign(void** result, size_t alignment, size_t size) {
    check();
    *result = __libc_memalign(alignment, size);
    return *result ? 0 : 12; // ENOMEM
}

extern "C" void* aligned_alloc(size_t alignment, size_t size) {
    check();
    return __libc_memalign(alignment, size);
}
