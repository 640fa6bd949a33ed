// Client of an installed ZorvikCore: checks that the library it runs with is the expected build
// from the installation prefix (not a build tree), that loading it switched on flush-to-zero, and
// that the installed headers compute: the logarithm of a pose recovers the twist it came from.
#include <LieGroup/HTransform>

#include <link.h>
#include <xmmintrin.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string loadedObjectPath(const char* file_name) {
  struct Search {
    const char* name;
    std::string path;
  } search{file_name, ""};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        Search* s = static_cast<Search*>(data);
        const char* slash = std::strrchr(info->dlpi_name, '/');
        if (std::strcmp(slash ? slash + 1 : info->dlpi_name, s->name) == 0) {
          s->path = info->dlpi_name;
          return 1;
        }
        return 0;
      },
      &search);
  return search.path;
}

std::string canonical(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

}  // namespace

int main() {
  int failures = 0;
  const std::string loaded = canonical(loadedObjectPath(ZORVIK_LIBRARY_FILE));
  const std::string prefix = canonical(ZORVIK_EXPECTED_PREFIX) + "/";
  std::printf("loaded %s\n", loaded.empty() ? "(nothing)" : loaded.c_str());
  if (loaded.empty() || loaded.compare(0, prefix.size(), prefix) != 0) {
    std::printf("FAIL: %s is not loaded from %s\n", ZORVIK_LIBRARY_FILE, prefix.c_str());
    ++failures;
  }
  if ((_mm_getcsr() & 0x8040) != 0x8040) {
    std::printf("FAIL: FTZ/DAZ not set (MXCSR 0x%04x)\n", _mm_getcsr());
    ++failures;
  }
  const LieGroup::Twist lambda(0.3, -0.2, 0.5, 0.4, -0.7, 1.1);
  const LieGroup::HTransform T = lambda.exp();
  const double residual = (T.expCoord() - lambda).norm();
  std::printf("log(exp(lambda)) - lambda: %g\n", residual);
  if (!(residual < 1e-12)) ++failures;
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
