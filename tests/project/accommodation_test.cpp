#include "project/accommodation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/exception.h"

using namespace sq;

TEST(Accommodation, ShiftIsTheRoundedMeanAndCropsLineUpThePairs) {
  CorrespondenceProject project;
  // Image 2 sees the scene 12 pixels further left and 5 higher, with one pixel of noise.
  const PointPair pairs[] = {{30, 40, 18, 35}, {100, 20, 88, 16}, {60, 90, 49, 85}, {80, 70, 68, 64}};
  for (const PointPair& pair : pairs) project.Points[size_t(project.PointCount++)] = pair;

  const TAccommodation a = FindAccommodation(project.ValidPoints(), 200, 150, 180, 160);
  EXPECT_EQ(a.ShiftX, 12);  // mean 11.75
  EXPECT_EQ(a.ShiftY, 5);   // mean 5
  EXPECT_NEAR(a.Residual, std::sqrt(3.0 / 4), 1e-12);
  // Image 1 keeps x 12..191, image 2 x 0..179; rows 5..149 and 0..144.
  EXPECT_EQ(a.Crop1.Left, 12);
  EXPECT_EQ(a.Crop1.Top, 5);
  EXPECT_EQ(a.Crop2.Left, 0);
  EXPECT_EQ(a.Crop2.Top, 0);
  EXPECT_EQ(a.Crop1.Width, 180);
  EXPECT_EQ(a.Crop1.Height, 145);
  EXPECT_EQ(a.Crop2.Width, a.Crop1.Width);
  EXPECT_EQ(a.Crop2.Height, a.Crop1.Height);

  AccommodatePoints(project, a);
  EXPECT_EQ(project.Points[0], (PointPair{18, 35, 18, 35}));
  EXPECT_EQ(project.Points[2], (PointPair{48, 85, 49, 85}));

  // A negative shift crops image 2 instead.
  const PointPair back[] = {{0, 0, 7, 3}};
  const TAccommodation b = FindAccommodation(back, 50, 40, 50, 40);
  EXPECT_EQ(b.Crop1.Left, 0);
  EXPECT_EQ(b.Crop2.Left, 7);
  EXPECT_EQ(b.Crop2.Top, 3);
  EXPECT_EQ(b.Crop1.Width, 43);
  EXPECT_EQ(b.Crop1.Height, 37);
}

TEST(Accommodation, RefusesWithoutPairsOrOverlap) {
  EXPECT_THROW(FindAccommodation({}, 10, 10, 10, 10), Exception);
  const PointPair far[] = {{500, 0, 0, 0}};
  EXPECT_THROW(FindAccommodation(far, 100, 100, 100, 100), Exception);
  const PointPair huge[] = {{2147483647, 0, -2147483647 - 1, 0}};
  EXPECT_THROW(FindAccommodation(huge, 100, 100, 100, 100), Exception);
}

TEST(Accommodation, CropKeepsPixelsAndPalette) {
  TLinearBitmap bitmap(4, 3, pf8bit);
  for (int i = 0; i < 12; ++i) bitmap.Map[i] = uint8_t(i);
  bitmap.Palette[3] = 77;
  CropBitmap(bitmap, {1, 1, 2, 2});
  ASSERT_EQ(bitmap.Width, 2);
  ASSERT_EQ(bitmap.Height, 2);
  EXPECT_EQ(bitmap.ScanLine(0)[0], 5);
  EXPECT_EQ(bitmap.ScanLine(1)[1], 10);
  EXPECT_EQ(bitmap.Palette[3], 77);
  EXPECT_THROW(CropBitmap(bitmap, {1, 1, 2, 2}), ELinearBitmap);
}
