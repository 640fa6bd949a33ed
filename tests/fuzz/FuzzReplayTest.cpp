// Replays the fuzzers' seed corpora and every input that once made a fuzzer fail (fuzz/corpus and
// fuzz/regressions) through the same code the fuzz targets run, in both test variants and, in the
// sanitizer build of scripts/check.sh, under AddressSanitizer and UndefinedBehaviorSanitizer. An
// input fails the test by crashing, by a sanitizer report, or (the URDF loader) by throwing
// anything but a LoadError.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "LieGroupControllerInput.h"
#include "UrdfInput.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsIn(const std::vector<fs::path>& dirs) {
  std::vector<fs::path> files;
  for (const fs::path& dir : dirs) {
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
      if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const fs::path kFuzzDir = ZORVIK_FUZZ_DIR;

template <typename Run>
void replay(const std::vector<fs::path>& dirs, Run run, size_t minimum) {
  const std::vector<fs::path> files = inputsIn(dirs);
  EXPECT_GE(files.size(), minimum) << "corpus missing";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::string bytes = contents(file);
    EXPECT_NO_THROW(run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  }
}

TEST(FuzzReplay, LieGroupControllerCorpusAndRegressions) {
  replay({kFuzzDir / "corpus" / "liegroup_controller",
          kFuzzDir / "regressions" / "liegroup_controller"},
         zorvik_fuzz::runLieGroupControllerInput, 4);
}

TEST(FuzzReplay, UrdfCorpusAndRegressions) {
  replay({kFuzzDir / "corpus" / "urdf", kFuzzDir / "regressions" / "urdf",
          fs::path(ZORVIK_TEST_DATA_DIR) / "robots"},
         zorvik_fuzz::runUrdfInput, 10);
}

}  // namespace
