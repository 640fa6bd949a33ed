// The release library's exported API against a committed baseline: every entry of
// exported_symbols.txt (the demangled names of the defined dynamic symbols in the namespaces
// LieGroup and ZorvikFoundation, as the release library exported them when the list was made) must
// still be exported, so that a refactor cannot silently drop an explicit instantiation or an
// out-of-line member that clients link against. Symbols may be added freely; the list is a
// regression baseline, not a statement of what is correct (see the file for how to regenerate it).
//
// The dynamic symbol table is read with binutils' nm. In a sanitizer build (ZORVIK_TEST_SANITIZED)
// the library under test is an instrumented variant, not the deliverable: instrumentation changes
// which inline functions get out-of-line copies, so the baseline comparison is skipped there while
// the check of the explicit instantiations still runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

// The demangled names of the defined dynamic symbols of `library`.
std::set<std::string> exportedSymbols(const std::string& library) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only --demangle '" + library + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  std::string line;
  char buffer[4096];
  while (fgets(buffer, sizeof buffer, pipe)) {
    line += buffer;
    if (line.empty() || line.back() != '\n') continue;
    line.pop_back();
    // "<address> <type> <name>"
    const size_t type = line.find(' ');
    if (type != std::string::npos && type + 3 <= line.size()) names.insert(line.substr(type + 3));
    line.clear();
  }
  pclose(pipe);
  return names;
}

std::vector<std::string> baseline() {
  std::vector<std::string> entries;
  std::ifstream in(ZORVIK_SYMBOL_LIST);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') entries.push_back(line);
  return entries;
}

TEST(ExportedSymbols, ReleaseLibraryExportsEveryListedSymbol) {
#ifdef ZORVIK_TEST_SANITIZED
  GTEST_SKIP() << "the baseline describes the uninstrumented release library";
#endif
  const std::vector<std::string> listed = baseline();
  ASSERT_GT(listed.size(), 100u) << "baseline missing or empty: " << ZORVIK_SYMBOL_LIST;
  const std::set<std::string> exported = exportedSymbols(ZORVIK_RELEASE_LIBRARY);
  ASSERT_FALSE(exported.empty()) << "nm gave nothing for " << ZORVIK_RELEASE_LIBRARY;
  std::vector<std::string> missing;
  for (const std::string& name : listed)
    if (!exported.count(name)) missing.push_back(name);
  std::string report;
  for (size_t i = 0; i < missing.size() && i < 40; ++i) report += "\n  " + missing[i];
  EXPECT_TRUE(missing.empty()) << missing.size() << " listed symbol(s) no longer exported:" << report;
}

// The reader itself: members of every robot instantiation that the library compiles out of line
// are seen, and a size the library does not instantiate is not, so a dropped entry is noticed.
TEST(ExportedSymbols, ReaderSeesTheInstantiationsAndOnlyThem) {
  const std::set<std::string> exported = exportedSymbols(ZORVIK_RELEASE_LIBRARY);
  for (int n : {6, 7, 14, 16}) {
    const std::string N = std::to_string(n);
    EXPECT_TRUE(exported.count("ZorvikFoundation::VexoSDK::VexoBaseXD<" + N + ">::update(bool)")) << N;
    EXPECT_TRUE(exported.count("ZorvikFoundation::VexoSDK::MomentumObserverXD<" + N + ">::setPeriod(double)")) << N;
  }
  EXPECT_FALSE(exported.count("ZorvikFoundation::VexoSDK::VexoBaseXD<8>::update(bool)"));
}

}  // namespace
