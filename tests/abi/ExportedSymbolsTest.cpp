// The symbols both deliverables export, read from their dynamic symbol tables with nm:
//   - every member of every explicitly instantiated robot template that clients link against
//     (instantiated_members.txt, a size placeholder expanded for N = 6, 7, 14, 16), in both
//     libraries: clients see only `extern template` declarations;
//   - every entry of the release library's committed baseline (exported_symbols.txt: the demangled
//     defined dynamic symbols in LieGroup and ZorvikFoundation as the release library exported them
//     when the list was made), so that a refactor cannot silently drop an instantiation or an
//     out-of-line member. Symbols may be added freely; the list is a regression baseline, not a
//     statement of what is correct (see generate_exported_symbols.sh).
// In a sanitizer build (ZORVIK_TEST_SANITIZED) the libraries are instrumented variants, not the
// deliverables: instrumentation changes which inline functions get out-of-line copies, so the
// baseline comparison is skipped there while the instantiated members are still checked.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/Process.h"

namespace {

const int kSizes[] = {6, 7, 14, 16};

// The demangled names of the symbols a shared library defines in its dynamic symbol table; nm
// prints "<address> <kind> <name>", the name possibly with spaces.
std::set<std::string> exportedSymbols(const std::string& library) {
  const zorvik_test::CommandResult nm =
      zorvik_test::runCommand(std::string(ZORVIK_NM) + " -D --defined-only -C '" + library + "'");
  EXPECT_EQ(nm.status, 0) << "nm failed on " << library;
  std::set<std::string> names;
  std::istringstream lines(nm.output);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t first = line.find(' ');
    if (first == std::string::npos) continue;
    const size_t second = line.find(' ', first + 1);
    if (second != std::string::npos) names.insert(line.substr(second + 1));
  }
  return names;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
  return s;
}

// The lines of a list file, comments and blank lines left out; a line with the size placeholder
// @N@ (and @N1@ for N + 1) stands for one line per instantiated size.
std::vector<std::string> listedSymbols(const char* file) {
  std::ifstream in(file);
  EXPECT_TRUE(in.good()) << "cannot read " << file;
  std::vector<std::string> res;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.find("@N@") == std::string::npos) {
      res.push_back(line);
      continue;
    }
    for (int n : kSizes)
      res.push_back(replaceAll(replaceAll(line, "@N1@", std::to_string(n + 1)), "@N@",
                               std::to_string(n)));
  }
  return res;
}

void expectExported(const char* library, const std::vector<std::string>& listed) {
  const std::set<std::string> exported = exportedSymbols(library);
  ASSERT_FALSE(exported.empty()) << "nm gave nothing for " << library;
  std::string missing;
  int count = 0;
  for (const std::string& name : listed)
    if (!exported.count(name)) {
      if (++count <= 40) missing += "\n  " + name;
    }
  EXPECT_EQ(count, 0) << library << " no longer exports " << count << " listed symbol(s):"
                      << missing;
}

TEST(ExportedSymbols, BothLibrariesExportEveryInstantiatedMember) {
  const std::vector<std::string> members = listedSymbols(ZORVIK_INSTANTIATED_MEMBERS);
  ASSERT_GT(members.size(), 100u) << "the list covers three templates for four sizes";
  expectExported(ZORVIK_RELEASE_LIBRARY, members);
  expectExported(ZORVIK_DEBUG_LIBRARY, members);
}

TEST(ExportedSymbols, ReleaseLibraryExportsEveryBaselineSymbol) {
#ifdef ZORVIK_TEST_SANITIZED
  GTEST_SKIP() << "the baseline describes the uninstrumented release library";
#endif
  const std::vector<std::string> baseline = listedSymbols(ZORVIK_SYMBOL_BASELINE);
  ASSERT_GT(baseline.size(), 100u) << "baseline missing or empty: " << ZORVIK_SYMBOL_BASELINE;
  expectExported(ZORVIK_RELEASE_LIBRARY, baseline);
}

// The reader itself: a size the library does not instantiate is not seen, so a dropped entry
// would be noticed rather than read as present.
TEST(ExportedSymbols, ReaderSeesOnlyWhatIsThere) {
  const std::set<std::string> exported = exportedSymbols(ZORVIK_RELEASE_LIBRARY);
  EXPECT_TRUE(exported.count("ZorvikFoundation::VexoSDK::VexoBaseXD<7>::update(bool)"));
  EXPECT_FALSE(exported.count("ZorvikFoundation::VexoSDK::VexoBaseXD<8>::update(bool)"));
}

}  // namespace
