// Independent models in concurrent threads. Each thread owns a complete control setup (a robot
// model with its own bodies and joints, its observers and controllers; see ControlCycle) and runs
// control cycles on it while the other threads do the same; every thread's outputs must be bit for
// bit those of the same setup run alone on the main thread. Shared mutable state anywhere in the
// library (a static scratch buffer, a cache keyed on nothing) would make them differ, and under
// ThreadSanitizer it is reported as a data race.
//
// All threads here are created after the library was loaded, so they inherit the main thread's
// floating-point control register (flush-to-zero and denormals-are-zero, see FtzInheritanceTest);
// identical results across threads rely on that.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "support/ControlCycle.h"

namespace {

using namespace zorvik_test;

constexpr int kCycles = 20;
constexpr std::size_t kPerCycle = 8 * 1024;
constexpr unsigned kModelsPerSize = 2;

// One control setup and the outputs of its run.
struct Job {
  std::function<void(Record&)> run;
  std::vector<double> output;
  std::size_t size = 0;
  bool overflowed = false;
};

template <int N>
std::function<void(Record&)> makeRun(unsigned seed) {
  // The setup is built by the thread that runs it, so nothing but the seed is shared.
  return [seed](Record& r) {
    std::unique_ptr<ControlCycle<N>> cycle(new ControlCycle<N>(seed));
    for (int k = 0; k < kCycles; ++k) cycle->step(k, r);
  };
}

std::vector<Job> makeJobs() {
  std::vector<Job> jobs;
  for (unsigned i = 0; i < kModelsPerSize; ++i) {
    const unsigned seed = 100 + i;
    for (auto run : {makeRun<6>(seed), makeRun<7>(seed), makeRun<14>(seed), makeRun<16>(seed)}) {
      Job job;
      job.run = run;
      job.output.assign(kCycles * kPerCycle, 0.0);
      jobs.push_back(std::move(job));
    }
  }
  return jobs;
}

void execute(Job& job) {
  Record record(job.output.data(), job.output.size());
  job.run(record);
  job.size = record.size();
  job.overflowed = record.overflowed();
}

TEST(ConcurrentModels, ThreadsGiveTheSingleThreadedResultsBitForBit) {
  std::vector<Job> reference = makeJobs();
  for (Job& job : reference) execute(job);

  std::vector<Job> concurrent = makeJobs();
  // All threads start together, so that their cycles overlap.
  std::atomic<int> ready(0);
  const int count = static_cast<int>(concurrent.size());
  std::vector<std::thread> threads;
  for (Job& job : concurrent)
    threads.emplace_back([&ready, &job, count] {
      ready.fetch_add(1);
      while (ready.load() < count) std::this_thread::yield();
      execute(job);
    });
  for (std::thread& t : threads) t.join();

  for (std::size_t i = 0; i < reference.size(); ++i) {
    SCOPED_TRACE("job " + std::to_string(i));
    ASSERT_FALSE(reference[i].overflowed);
    ASSERT_GT(reference[i].size, 0u);
    ASSERT_EQ(concurrent[i].size, reference[i].size);
    EXPECT_EQ(std::memcmp(concurrent[i].output.data(), reference[i].output.data(),
                          reference[i].size * sizeof(double)),
              0);
  }
  // Different seeds and sizes must give different outputs, or the comparison above proves little.
  EXPECT_NE(std::memcmp(reference[0].output.data(), reference[4].output.data(),
                        std::min(reference[0].size, reference[4].size) * sizeof(double)),
            0);
}

// Two threads sharing nothing but running the very same setup (same seed) concurrently.
TEST(ConcurrentModels, SameSetupInTwoThreadsGivesTheSameResults) {
  std::vector<Job> jobs(2);
  for (Job& job : jobs) {
    job.run = makeRun<7>(7);
    job.output.assign(kCycles * kPerCycle, 0.0);
  }
  std::thread a(execute, std::ref(jobs[0])), b(execute, std::ref(jobs[1]));
  a.join();
  b.join();
  ASSERT_EQ(jobs[0].size, jobs[1].size);
  ASSERT_GT(jobs[0].size, 0u);
  EXPECT_EQ(
      std::memcmp(jobs[0].output.data(), jobs[1].output.data(), jobs[0].size * sizeof(double)), 0);
}

}  // namespace
