// Runs stereoquill-cli from tests and gives each test a scratch folder.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace sq::test {

// Runs the tool with stderr folded into the output; returns the exit code (-1 when
// a signal ended it).
inline int RunCli(const std::string& arguments, std::string* out = nullptr) {
  FILE* pipe = ::popen((std::string("'") + SQ_CLI_PATH + "' " + arguments + " 2>&1").c_str(), "r");
  char block[4096];
  for (size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;)
    if (out) out->append(block, got);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A temporary folder with what command lines need of it.
class TScratchFolder : public TTempDir {
 public:
  explicit TScratchFolder(const std::string& name) : TTempDir(name) {}

  // name inside the folder, quoted for the shell.
  std::string Quoted(const std::string& name) const { return "'" + File(name) + "'"; }
  // Every entry of the folder, hidden ones included, by name.
  std::string Listing() const {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(Path()))
      names += entry.path().filename().string() + " ";
    return names;
  }
};

}  // namespace sq::test
