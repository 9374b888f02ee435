#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "base/format.h"
#include "base/large_pages.h"
#include "base/progress.h"
#include "base/random.h"
#include "base/rounding.h"

using namespace sq;

TEST(FormatFloat, PicturesKeepTheirDecimals) {
  EXPECT_EQ(FormatFloat("0.##", 8), "8");
  EXPECT_EQ(FormatFloat("0.##", 2.5), "2.5");
  EXPECT_EQ(FormatFloat("0.##", 1.005), "1");  // 1.005 is stored just below
  EXPECT_EQ(FormatFloat("0.##", -0.001), "0");
  EXPECT_EQ(FormatFloat("0.##", -3.14159), "-3.14");
  EXPECT_EQ(FormatFloat("0.0###", 0), "0.0");
  EXPECT_EQ(FormatFloat("0.0###", 1.23456), "1.2346");
  EXPECT_EQ(FormatFloat("0.0###", 12), "12.0");
  EXPECT_EQ(FormatFloat("0.#####", 1.3333333), "1.33333");
  EXPECT_EQ(FormatFloat(".##", 0.5), ".5");
}

TEST(Rounding, HalvesGoToEven) {
  EXPECT_EQ(Round(0.5), 0);
  EXPECT_EQ(Round(1.5), 2);
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round(-2.5), -2);
  EXPECT_EQ(Trunc(-2.7), -2);
  EXPECT_DOUBLE_EQ(Frac(-2.75), -0.75);
  EXPECT_EQ(RoundToByte(300), 255);
  EXPECT_EQ(RoundToByte(-3), 0);
}

TEST(Random, LinearCongruentialSequence) {
  RandomSeed(0);
  EXPECT_DOUBLE_EQ(RandomUniform(), 1.0 / 4294967296.0);
  EXPECT_EQ(RandomSeedValue(), 1u);
  EXPECT_EQ(RandomUniform(), 134775814.0 / 4294967296.0);
  RandomSeed(0);
  double sum = 0, sumSq = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    const double g = RandomGaussian(5, 2);
    sum += g;
    sumSq += g * g;
  }
  const double mean = sum / n;
  EXPECT_NEAR(mean, 5, 0.1);
  EXPECT_NEAR(std::sqrt(sumSq / n - mean * mean), 2, 0.1);
}

TEST(Progress, RowProgressAndScopedHandler) {
  std::vector<int> seen;
  {
    TProgressScope scope([&](int p) { seen.push_back(p); });
    ReportRowProgress(0, 1);
    ReportRowProgress(1, 3);
    ReportRowProgress(2, 3);
  }
  ReportProgress(7);  // no handler any more
  EXPECT_EQ(seen, (std::vector<int>{100, 50, 100}));
}

TEST(LargePages, ReturnedBlocksComeBackForTheirSizeOnly) {
  constexpr size_t kPage = kLargePageBytes;
  void* first = AcquireLargePages(2 * kPage);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % kPage, 0u);
  std::memset(first, 1, 2 * kPage);
  ReleaseLargePages(first, 2 * kPage);
  void* larger = AcquireLargePages(3 * kPage);
  void* again = AcquireLargePages(2 * kPage);
  void* another = AcquireLargePages(2 * kPage);
  EXPECT_NE(larger, first);
  EXPECT_EQ(again, first);
  EXPECT_NE(another, again);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(larger) % kPage, 0u);
  ReleaseLargePages(another, 2 * kPage);
  ReleaseLargePages(again, 2 * kPage);
  ReleaseLargePages(larger, 3 * kPage);
}
