// The one process-wide progress notification.  Long operations report a percentage
// 0..100; the desktop program shows it in the status bar, the command line as a bar
// on stderr.  With no handler installed reporting costs a branch.
#pragma once

#include <functional>

namespace sq {

using ProgressHandler = std::function<void(int percent)>;

// Installs a handler and returns the previous one.
ProgressHandler SetProgressHandler(ProgressHandler handler);

void ReportProgress(int percent);

// Progress of a row loop: row * 100 / (rows - 1); a single row reports 100.
void ReportRowProgress(int row, int rows);

// Installs a handler for the lifetime of a scope and restores the previous one.
class TProgressScope {
 public:
  explicit TProgressScope(ProgressHandler handler) : previous_(SetProgressHandler(std::move(handler))) {}
  ~TProgressScope() { SetProgressHandler(std::move(previous_)); }
  TProgressScope(const TProgressScope&) = delete;
  TProgressScope& operator=(const TProgressScope&) = delete;

 private:
  ProgressHandler previous_;
};

}  // namespace sq
