// Runs a shell command line with stderr folded into the output, for tests of the
// command-line tool and of the desktop's own tools.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace sq::test {

// Returns the exit code (-1 when the command did not end normally).
inline int RunCommand(const std::string& commandLine, std::string* output = nullptr) {
  FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char block[4096];
  for (size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;)
    if (output) output->append(block, got);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The text in single quotes for the shell.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace sq::test
