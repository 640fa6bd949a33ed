#include "support/AllocationCounter.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
thread_local long t_allocations = 0;
thread_local bool t_abort_on_allocation = false;

inline void noteAllocation() {
  ++t_allocations;
  if (t_abort_on_allocation) {
    static const char msg[] = "heap allocation inside a real-time region\n";
    fwrite(msg, 1, sizeof(msg) - 1, stderr);
    abort();
  }
}
}  // namespace

namespace zorvik_test {
long allocationCount() { return t_allocations; }
void setAbortOnAllocation(bool on) { t_abort_on_allocation = on; }
}  // namespace zorvik_test

#ifndef ZORVIK_TEST_NO_MALLOC_HOOK
// Interpose the C allocator: the executable's definitions take precedence over libc's for every
// shared object, the library under test included.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
  noteAllocation();
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
  noteAllocation();
  return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  noteAllocation();
  void* p = __libc_memalign(alignment, size);
  if (!p) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}
#define ZORVIK_RAW_ALLOC(size) __libc_malloc(size)
#else
#define ZORVIK_RAW_ALLOC(size) std::malloc(size)
#endif

// Global operator new: counted, then served by the C allocator.
namespace {
void* countedNew(std::size_t size) {
  noteAllocation();
  void* p = ZORVIK_RAW_ALLOC(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
}  // namespace

void* operator new(std::size_t size) { return countedNew(size); }
void* operator new[](std::size_t size) { return countedNew(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return countedNew(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return countedNew(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
