#include "imaging/ops/rotate.h"
#include "imaging/ops/resample_rows.h"
#include "imaging/ops/rotate_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numbers>
#include <random>
#include <set>

namespace sq {
namespace {

constexpr double pi = std::numbers::pi;

TLinearBitmap Noise(int w, int h, TPixelFormat format, unsigned seed = 1) {
  TLinearBitmap b(w, h, format);
  if (format == pf8bit) std::memcpy(b.Palette, GrayPalette(), 768);
  std::mt19937 random(seed);
  for (int64_t i = 0; i < b.Size; ++i) b.Map[i] = static_cast<uint8_t>(random());
  return b;
}

bool SameBytes(const TLinearBitmap& a, const TLinearBitmap& b) {
  return a.Width == b.Width && a.Height == b.Height && std::memcmp(a.Map, b.Map, size_t(a.Size)) == 0;
}

TEST(Rotate, QuarterTurnsComposeToTheIdentity) {
  for (TPixelFormat format : {pf8bit, pf16bit, pf24bit, pf32bit}) {
    for (auto [w, h] : {std::pair{1, 1}, {5, 3}, {70, 131}}) {
      const TLinearBitmap original = Noise(w, h, format);
      TLinearBitmap a(original), b(original);
      Rotate90(a);
      Rotate90(a);
      Rotate90(a);
      Rotate270(b);
      EXPECT_TRUE(SameBytes(a, b)) << format << " " << w;
      Rotate90(b);
      EXPECT_TRUE(SameBytes(b, original));
      Rotate180(a);
      Rotate180(a);
      Rotate90(a);
      EXPECT_TRUE(SameBytes(a, original));
    }
  }
  // Clockwise: (x, y) goes to (oldHeight - 1 - y, x).
  const TLinearBitmap image = Noise(5, 3, pf24bit);
  TLinearBitmap turned(image);
  Rotate270(turned);
  EXPECT_EQ(std::memcmp(turned.PixelAddress(3 - 1 - 2, 4), image.PixelAddress(4, 2), 3), 0);
}

TEST(Rotate, AnglesNearQuarterTurnsAreExact) {
  const TLinearBitmap image = Noise(9, 4, pf24bit);
  TLinearBitmap left(image), expected(image);
  Rotate90(expected);
  Rotate(left, 0, pi / 2 + 0.00005);
  EXPECT_TRUE(SameBytes(left, expected));
  TLinearBitmap again(image);
  Rotate(again, 0, 5 * pi / 2);  // 450 degrees
  EXPECT_TRUE(SameBytes(again, expected));
  TLinearBitmap right(image);
  Rotate(right, 0, -pi / 2);
  Rotate270(expected);
  Rotate270(expected);
  EXPECT_TRUE(SameBytes(right, expected));
  TLinearBitmap full(image);
  Rotate(full, 0, 2 * pi);
  EXPECT_TRUE(SameBytes(full, image));
  EXPECT_THROW(Rotate(full, 0, std::nan("")), Exception);
}

TEST(Rotate, FreeRotationTurnsLeftAndKeepsConstantsAndPalettes) {
  // A bright block at the bottom centre ends up on the right after a left turn.
  TLinearBitmap marked(101, 101, pf24bit);
  marked.Clear(0);
  for (int y = 85; y < 95; ++y) std::memset(marked.PixelAddress(45, y), 255, 30);
  Rotate(marked, 0, 80 * pi / 180);
  int64_t leftSum = 0, rightSum = 0;
  for (int y = 0; y < marked.Height; ++y)
    for (int x = 0; x < marked.Width; ++x) (x < marked.Width / 2 ? leftSum : rightSum) += *marked.PixelAddress(x, y);
  EXPECT_GT(rightSum, 100 * (leftSum + 1));

  // A constant image with the same background stays constant.
  for (TPixelFormat format : {pf8bit, pf24bit}) {
    TLinearBitmap flat(37, 23, format);
    if (format == pf8bit) std::memcpy(flat.Palette, GrayPalette(), 768);
    flat.ClearColor(0x505050);
    Rotate(flat, 0x505050, 0.3);
    EXPECT_GT(flat.Width, 37);
    for (int64_t i = 0; i < flat.Size; ++i) ASSERT_EQ(flat.Map[i], 0x50);
  }

  // A colour-palette image keeps its palette and gets no blended indices.
  TLinearBitmap palette(30, 20, pf8bit);
  for (int i = 0; i < 768; ++i) palette.Palette[i] = static_cast<uint8_t>(i * 7);
  for (int64_t i = 0; i < palette.Size; ++i) palette.Map[i] = static_cast<uint8_t>(10 + (i % 3) * 100);
  const std::vector<uint8_t> colours(palette.Palette, palette.Palette + 768);
  Rotate(palette, 0, 0.5);
  EXPECT_EQ(std::memcmp(palette.Palette, colours.data(), 768), 0);
  std::set<int> seen(palette.Map, palette.Map + palette.Size);
  EXPECT_EQ(seen, (std::set<int>{0, 10, 110, 210}));

  // The dialog's colour starts at the first pixel; a right turn is remembered negative.
  TLinearBitmap first(2, 2, pf24bit);
  first.Map[0] = 0x11, first.Map[1] = 0x22, first.Map[2] = 0x33;
  EXPECT_EQ(RotateStartColor(first), 0x112233u);
  EXPECT_EQ(RotateDegrees(first, 90, true, 0), -90);
  bool right = false;
  int choice = -1;
  double angle = 0;
  RotateDialogStart(-90, right, choice, angle);
  EXPECT_TRUE(right);
  EXPECT_EQ(choice, 0);

  TLinearBitmap dot(1, 1, pf24bit);
  Rotate(dot, 0, 0.2);
  EXPECT_GE(dot.Width, 1);
}

// The vector sampling against the plain loop: grey, colour-palette and 24-bit images,
// sizes below one 32-bit word and with samples in the last pixel, angles all round.
TEST(Rotate, VectorSamplingGivesThePlainBytes) {
  for (TPixelFormat format : {pf8bit, pf24bit})
    for (bool palette : {false, true})
      for (auto [w, h] : {std::pair{1, 1}, {2, 1}, {3, 2}, {131, 97}, {640, 360}})
        for (double degrees : {10.0, -33.3, 135.0, 200.5, 271.0}) {
          if (palette && format != pf8bit) continue;
          TLinearBitmap image = Noise(w, h, format, unsigned(w * 7 + h));
          if (palette) image.Palette[3] = 1;
          TLinearBitmap fast(image), plain(image);
          Rotate(fast, 0x3366CC, degrees * pi / 180);
          {
            TPlainResampleLoops loops;
            Rotate(plain, 0x3366CC, degrees * pi / 180);
          }
          EXPECT_TRUE(SameBytes(fast, plain)) << format << " " << palette << " " << w << " " << degrees;
        }
}

}  // namespace
}  // namespace sq
