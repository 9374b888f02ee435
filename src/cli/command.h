// Subcommands of stereoquill-cli register themselves here from their own files, so
// that adding a command never touches another command's code.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace sq::cli {

// Called once with the application; adds a subcommand and its callback.
using CommandSetup = std::function<void(CLI::App& app)>;

bool RegisterCommand(CommandSetup setup);

// Exit code a command's callback wants the process to end with (0 by default).
void SetExitCode(int code);

// Prints "stereoquill-cli: " + message on stderr.
void PrintError(const std::string& message);

// A progress bar on stderr fed by the process-wide progress notification, removed
// when the scope ends.  Silent when quiet is set.
class TProgressBar {
 public:
  explicit TProgressBar(bool quiet);
  ~TProgressBar();
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;
  // Names the stage shown before the bar.
  void Stage(const std::string& name);

 private:
  void Draw(int percent);
  bool enabled_;
  bool interactive_;
  bool drawn_ = false;
  int last_ = -1;
  std::string stage_;
};

}  // namespace sq::cli
