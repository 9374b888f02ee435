#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "base/parallel.h"
#include "base/progress.h"

namespace sq {
namespace {

// Every row once, on a worker below the count asked for, whatever the threads.
void ExpectEveryRowOnce(int rows, int workers, int run) {
  std::vector<std::atomic<int>> visits(static_cast<size_t>(rows));
  std::atomic<bool> badWorker{false};
  ForEachRow(
      rows, workers,
      [&](int row, int worker) {
        ++visits[static_cast<size_t>(row)];
        if (worker < 0 || worker >= workers) badWorker = true;
      },
      false, run);
  for (int row = 0; row < rows; ++row) EXPECT_EQ(visits[static_cast<size_t>(row)], 1) << row;
  EXPECT_FALSE(badWorker);
}

TEST(ParallelRows, EveryRowRunsOnceAndProgressEndsAt100) {
  ExpectEveryRowOnce(1, 4, 1);
  ExpectEveryRowOnce(1000, 4, 1);
  ExpectEveryRowOnce(1000, 3, 7);
  ExpectEveryRowOnce(5, 1, 1);
  int last = -1;
  TProgressScope scope([&](int percent) { last = percent; });
  ForEachRow(50, 4, [](int, int) {});
  EXPECT_EQ(last, 100);
}

TEST(ParallelRows, ThreadsThatCannotStartLeaveTheWorkToTheOthers) {
  for (int allowed : {0, 1}) {
    LimitThreadStartsForTesting(allowed);
    ExpectEveryRowOnce(500, 4, 1);
    LimitThreadStartsForTesting(-1);
  }
}

TEST(ParallelRows, TheFirstFailureStopsTheLoopAndIsRaisedAgain) {
  std::atomic<int> after{0};
  EXPECT_THROW(ForEachRow(
                   100000, 4,
                   [&](int row, int) {
                     if (row == 10) throw std::runtime_error("row 10");
                     if (row > 50000) ++after;
                   },
                   false),
               std::runtime_error);
  EXPECT_LT(after, 50000);
}

}  // namespace
}  // namespace sq
