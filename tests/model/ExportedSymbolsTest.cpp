// Both deliverables export the compiled members of every explicitly instantiated robot template,
// so that clients, which see only `extern template` declarations, link against either library.
// The expected members are listed in exported_symbols.txt (demangled signatures with a
// placeholder for the size); the test reads each library's dynamic symbol table with nm.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

const int kSizes[] = {6, 7, 14, 16};

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
  return s;
}

// The listed signatures, each line with a size placeholder expanded for every size.
std::vector<std::string> expectedSymbols() {
  std::ifstream in(ZORVIK_EXPECTED_SYMBOLS);
  EXPECT_TRUE(in.good()) << "cannot read " << ZORVIK_EXPECTED_SYMBOLS;
  std::vector<std::string> res;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.find("@N@") == std::string::npos) {
      res.push_back(line);
      continue;
    }
    for (int n : kSizes)
      res.push_back(replaceAll(replaceAll(line, "@N1@", std::to_string(n + 1)), "@N@", std::to_string(n)));
  }
  return res;
}

// Demangled names of the symbols a shared library defines in its dynamic symbol table.
std::set<std::string> exportedSymbols(const std::string& library) {
  std::set<std::string> names;
  const std::string command = std::string(ZORVIK_NM) + " -D --defined-only -C '" + library + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return names;
  }
  // Lines read "<address> <kind> <name>"; the name may contain spaces.
  char buffer[8192];
  while (std::fgets(buffer, sizeof(buffer), pipe)) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    const std::size_t first = line.find(' ');
    if (first == std::string::npos) continue;
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string::npos) continue;
    names.insert(line.substr(second + 1));
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  return names;
}

void expectExportsEveryListedMember(const char* library) {
  const std::vector<std::string> expected = expectedSymbols();
  ASSERT_GT(expected.size(), 100u) << "the list covers three templates for four sizes";
  const std::set<std::string> exported = exportedSymbols(library);
  ASSERT_FALSE(exported.empty()) << library;
  std::string missing;
  int count = 0;
  for (const auto& name : expected)
    if (!exported.count(name)) {
      missing += "  " + name + "\n";
      ++count;
    }
  EXPECT_EQ(count, 0) << library << " does not export:\n" << missing;
}

TEST(ExportedSymbols, ReleaseLibraryExportsEveryInstantiatedMember) {
  expectExportsEveryListedMember(ZORVIK_RELEASE_LIBRARY);
}

TEST(ExportedSymbols, DebugLibraryExportsEveryInstantiatedMember) {
  expectExportsEveryListedMember(ZORVIK_DEBUG_LIBRARY);
}

}  // namespace
