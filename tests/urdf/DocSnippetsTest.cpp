// The C++ blocks of the README and docs/ as printed (gathered by ExtractCppSnippets.cmake into
// DocSnippets.cpp), run as a client would: the README's load the bundled Panda by its file name, so
// they run in the directory of the bundled robots. Against the debug library every assertion of
// the library's code is on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>

extern const std::pair<const char*, void (*)()> zorvik_doc_snippets[];

namespace zorvik_test::doc_snippets_test {

// Runs f in `directory` and comes back.
template <typename F>
void inDirectory(const std::string& directory, F f) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(directory.c_str()), 0) << directory;
  f();
  ASSERT_EQ(chdir(previous), 0);
}

TEST(DocSnippets, EveryCppBlockOfTheDocumentationRunsAsPrinted) {
  int pages = 0;
  inDirectory(std::string(ZORVIK_TEST_DATA_DIR) + "/robots", [&] {
    for (; zorvik_doc_snippets[pages].first; ++pages) {
      SCOPED_TRACE(zorvik_doc_snippets[pages].first);
      EXPECT_NO_THROW(zorvik_doc_snippets[pages].second());
    }
  });
  EXPECT_GE(pages, 2) << "the README and docs/extending.md hold C++ blocks";
}

}  // namespace zorvik_test::doc_snippets_test
