// Counts heap allocations made by the current thread: every global operator new and, unless the
// build uses a sanitizer that owns malloc, every malloc/calloc/realloc/aligned allocation. A test
// wraps the call under test in a scope and checks that nothing was allocated:
//
//   zorvik_test::AllocationScope scope;
//   model.idyn(qdot, qddot, g);
//   EXPECT_EQ(scope.count(), 0);
//
// or uses EXPECT_NO_ALLOCATION(statement).
#ifndef ZORVIK_TEST_ALLOCATION_COUNTER_H
#define ZORVIK_TEST_ALLOCATION_COUNTER_H

#include <gtest/gtest.h>

namespace zorvik_test {

// Number of allocations made by this thread since the program started.
long allocationCount();

// When set, any allocation by this thread aborts the process (used inside real-time regions).
void setAbortOnAllocation(bool on);

class AllocationScope {
 public:
  AllocationScope() : start_(allocationCount()) {}
  long count() const { return allocationCount() - start_; }

 private:
  long start_;
};

// Makes a computed value observable, so that the optimiser cannot drop a computation whose only
// purpose in a test is to show that it does not allocate.
template <typename T>
inline void doNotOptimize(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

}  // namespace zorvik_test

#define EXPECT_NO_ALLOCATION(statement)                                   \
  do {                                                                    \
    ::zorvik_test::AllocationScope zorvik_alloc_scope_;                   \
    statement;                                                            \
    EXPECT_EQ(zorvik_alloc_scope_.count(), 0) << "allocated: " #statement; \
  } while (0)

#endif
