// Running a command and reading what it prints, for tests that examine built files (nm on the
// libraries) or run a program as a user would (the demo).
#ifndef ZORVIK_TEST_PROCESS_H
#define ZORVIK_TEST_PROCESS_H

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace zorvik_test {

struct CommandResult {
  int status;          // the exit status, -1 when the command did not exit normally or not start
  std::string output;  // its standard output
};

inline CommandResult runCommand(const std::string& command) {
  CommandResult result{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

}  // namespace zorvik_test

#endif
