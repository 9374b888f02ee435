#include "base/progress.h"

#include <utility>

namespace sq {

namespace {
ProgressHandler& Handler() {
  static ProgressHandler handler;
  return handler;
}
}  // namespace

ProgressHandler SetProgressHandler(ProgressHandler handler) { return std::exchange(Handler(), std::move(handler)); }

void ReportProgress(int percent) {
  if (auto& handler = Handler()) handler(percent);
}

void ReportRowProgress(int row, int rows) {
  if (!Handler()) return;
  ReportProgress(rows <= 1 ? 100 : static_cast<int>(static_cast<long long>(row) * 100 / (rows - 1)));
}

}  // namespace sq
