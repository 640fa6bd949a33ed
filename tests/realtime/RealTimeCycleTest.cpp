// Complete control cycles run inside a region where a heap allocation or a system call is fatal:
// the cycles run in a forked child that, after one warm-up cycle (lazy symbol binding, first
// touches of every page), turns on the allocation counter's abort mode and enters Linux strict
// seccomp mode. Strict mode allows only read, write, _exit and sigreturn; the kernel kills the
// process with SIGKILL on any other system call. The child reports its outputs through a pipe with
// write() and leaves with syscall(SYS_exit) (glibc's _exit uses exit_group, which strict mode
// kills). The parent then runs the same cycles on its own copy of the state and requires the
// child's outputs to be bit for bit the same, so the region provably did the whole computation.
//
// The first tests check the region itself: a deliberate system call, operator new or malloc inside
// it must be caught, and an empty region must pass.
#include <gtest/gtest.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"
#include "support/ControlCycle.h"

namespace {

using namespace zorvik_test;

const char kAllocationMessage[] = "heap allocation inside a real-time region";

// Exit codes of the child other than 0 (success).
enum ChildExit { kSeccompUnavailable = 3, kRecordOverflow = 4, kAllocationCounted = 5 };

struct RegionOutcome {
  bool exited = false;     // left through SYS_exit (or _exit before entering the region)
  int exitCode = -1;
  int signal = 0;          // the signal that killed the child, if any
  std::vector<double> output;
  std::string diagnostics;  // what the child wrote to stderr
};

std::string describe(const RegionOutcome& o) {
  std::string s = o.exited
                      ? "exited with code " + std::to_string(o.exitCode)
                      : "killed by signal " + std::to_string(o.signal) +
                            (o.signal == SIGKILL ? " (SIGKILL: a system call in strict mode)" : "");
  if (!o.diagnostics.empty()) s += "; stderr: " + o.diagnostics;
  return s;
}

void readAll(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
}

// Writes the whole buffer with write(), the only output strict mode allows.
void writeAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n <= 0) return;
    p += n;
    size -= static_cast<size_t>(n);
  }
}

// Runs warmUp(record) outside and region(record) inside the strict region, in a forked child.
// record is a Record over a buffer of `capacity` doubles, allocated here before the fork.
template <typename WarmUp, typename Region>
RegionOutcome runInStrictRegion(std::size_t capacity, WarmUp&& warmUp, Region&& region) {
  std::vector<double> buffer(capacity);
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return RegionOutcome();
  }
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return RegionOutcome();
  }
  if (pid == 0) {
    close(out[0]);
    close(err[0]);
    dup2(err[1], STDERR_FILENO);
    Record record(buffer.data(), buffer.size());
    warmUp(record);
    record.clear();
    const long allocationsBefore = allocationCount();
    setAbortOnAllocation(true);
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) != 0) _exit(kSeccompUnavailable);
    // From here on: read, write, exit and sigreturn only.
    region(record);
    const long allocations = allocationCount() - allocationsBefore;
    int code = 0;
    if (record.overflowed()) code = kRecordOverflow;
    if (allocations != 0) code = kAllocationCounted;
    if (code == 0) writeAll(out[1], record.data(), record.size() * sizeof(double));
    syscall(SYS_exit, code);
    for (;;) {
    }
  }
  close(out[1]);
  close(err[1]);
  std::string bytes;
  readAll(out[0], bytes);
  RegionOutcome outcome;
  readAll(err[0], outcome.diagnostics);
  close(out[0]);
  close(err[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    outcome.exited = true;
    outcome.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  outcome.output.resize(bytes.size() / sizeof(double));
  if (!bytes.empty())
    std::memcpy(outcome.output.data(), bytes.data(), outcome.output.size() * sizeof(double));
  return outcome;
}

void nothing(Record&) {}

// Opaque function pointers keep the compiler from proving the calls away.
void* (*volatile g_operatorNew)(std::size_t) = &::operator new;
void (*volatile g_operatorDelete)(void*) = &::operator delete;
void* (*volatile g_malloc)(std::size_t) = &std::malloc;

TEST(StrictRegion, PassesWhenNothingHappens) {
  const RegionOutcome o = runInStrictRegion(16, nothing, [](Record& r) { r.put(42.0); });
  ASSERT_TRUE(o.exited && o.exitCode == 0) << describe(o);
  ASSERT_EQ(o.output.size(), 1u);
  EXPECT_EQ(o.output[0], 42.0);
}

TEST(StrictRegion, CatchesASystemCall) {
  const RegionOutcome o = runInStrictRegion(
      16, nothing, [](Record& r) { r.put(static_cast<double>(syscall(SYS_getpid))); });
  EXPECT_FALSE(o.exited) << describe(o);
  EXPECT_EQ(o.signal, SIGKILL) << describe(o);
  EXPECT_TRUE(o.output.empty());
}

TEST(StrictRegion, CatchesOperatorNew) {
  const RegionOutcome o = runInStrictRegion(16, nothing, [](Record& r) {
    void* p = g_operatorNew(64);
    r.put(p != nullptr);
    g_operatorDelete(p);
  });
  EXPECT_FALSE(o.exited && o.exitCode == 0) << describe(o);
  EXPECT_NE(o.diagnostics.find(kAllocationMessage), std::string::npos) << describe(o);
  EXPECT_TRUE(o.output.empty());
}

// Under a sanitizer the counter does not see malloc itself, but the sanitizer's allocator then
// maps memory, a system call that strict mode kills: caught either way.
TEST(StrictRegion, CatchesMalloc) {
  const RegionOutcome o = runInStrictRegion(16, nothing, [](Record& r) {
    // A fresh large block cannot come from a free list: it needs the kernel.
    void* p = g_malloc(1 << 24);
    r.put(p != nullptr);
  });
  EXPECT_FALSE(o.exited && o.exitCode == 0) << describe(o);
  EXPECT_TRUE(o.output.empty());
}

// ---------------------------------------------------------------------------------------------

template <typename T>
class RealTimeCycle : public ::testing::Test {};

template <int N>
struct Size {
  static constexpr int value = N;
};
typedef ::testing::Types<Size<6>, Size<7>, Size<14>, Size<16>> Sizes;
TYPED_TEST_SUITE(RealTimeCycle, Sizes);

constexpr int kCycles = 3;
constexpr std::size_t kCapacity = 8 * 1024;

TYPED_TEST(RealTimeCycle, MakesNoSystemCallAndNoAllocation) {
  constexpr int N = TypeParam::value;
  for (unsigned seed : {1u, 2u}) {  // a tree and a serial chain
    std::unique_ptr<ControlCycle<N>> cycle(new ControlCycle<N>(seed));
    const auto warmUp = [&](Record& r) { cycle->step(0, r); };
    const auto region = [&](Record& r) {
      for (int k = 1; k <= kCycles; ++k) cycle->step(k, r);
    };
    const RegionOutcome o = runInStrictRegion(kCycles * kCapacity, warmUp, region);
    ASSERT_TRUE(o.exited && o.exitCode == 0)
        << "N = " << N << ", seed " << seed << ": " << describe(o);

    // The same cycles outside the region, on the parent's copy of the state the child started from.
    std::vector<double> expected(kCycles * kCapacity);
    Record record(expected.data(), expected.size());
    warmUp(record);
    record.clear();
    region(record);
    ASSERT_FALSE(record.overflowed());
    expected.resize(record.size());
    ASSERT_EQ(o.output.size(), expected.size());
    EXPECT_EQ(std::memcmp(o.output.data(), expected.data(), expected.size() * sizeof(double)), 0)
        << "the region's outputs differ from the same cycles run outside it";
    // The cycles computed something: finite, and not all zero.
    bool allFinite = true, anyNonZero = false;
    for (double x : expected) {
      allFinite = allFinite && std::isfinite(x);
      anyNonZero = anyNonZero || x != 0;
    }
    EXPECT_TRUE(allFinite);
    EXPECT_TRUE(anyNonZero);
  }
}

}  // namespace
