#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/linear_bitmap.h"

using namespace sq;

namespace {

template <class Action>
std::string Message(Action action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A packed DIB with a 40-byte header.
std::vector<uint8_t> MakeDIB(int width, int height, int bits, uint32_t colors, const std::vector<uint8_t>& rest) {
  std::vector<uint8_t> dib(40 + rest.size(), 0);
  std::copy(rest.begin(), rest.end(), dib.begin() + 40);
  Put32(dib, 0, 40);
  Put32(dib, 4, static_cast<uint32_t>(width));
  Put32(dib, 8, static_cast<uint32_t>(height));
  dib[12] = 1;
  dib[14] = static_cast<uint8_t>(bits);
  Put32(dib, 32, colors);
  return dib;
}

}  // namespace

TEST(LinearBitmap, DIBRoundTrips) {
  TLinearBitmap image(3, 2, pf24bit);
  for (int64_t i = 0; i < image.Size; ++i) image.Map[i] = static_cast<uint8_t>(i + 1);
  const std::vector<uint8_t> dib = image.MakeDIB();
  ASSERT_EQ(dib.size(), 40u + 2 * 12);
  EXPECT_EQ(dib[40], image.ScanLine(1)[0]);  // bottom row first, padded 9 -> 12
  EXPECT_EQ(dib[49], 0);
  TLinearBitmap back;
  back.GetFromDIB(dib);
  ASSERT_EQ(back.PixelFormat, pf24bit);
  EXPECT_EQ(std::memcmp(back.Map, image.Map, 18), 0);

  TLinearBitmap indexed(5, 1, pf8bit);
  for (int i = 0; i < 768; ++i) indexed.Palette[i] = static_cast<uint8_t>(255 - i / 3);
  for (int i = 0; i < 5; ++i) indexed.Map[i] = static_cast<uint8_t>(i * 50);
  back.GetFromDIB(indexed.MakeDIB());
  ASSERT_EQ(back.PixelFormat, pf8bit);
  EXPECT_EQ(std::memcmp(back.Palette, indexed.Palette, 768), 0);
  EXPECT_EQ(back.Map[4], 200);

  // Two colours used by an 8-bit DIB: the rest of the palette black.  Top-down rows.
  std::vector<uint8_t> table = {1, 2, 3, 0, 4, 5, 6, 0};
  table.insert(table.end(), {1, 0, 0, 0, 0, 1, 0, 0});
  back.GetFromDIB(MakeDIB(2, -2, 8, 2, table));
  EXPECT_EQ(std::vector<uint8_t>(back.Map, back.Map + 4), (std::vector<uint8_t>{1, 0, 0, 1}));
  EXPECT_EQ(back.Palette[5], 6);
  EXPECT_EQ(back.Palette[6], 0);

  // A 1-bit DIB comes out as 24 bits in its two colours.
  back.GetFromDIB(MakeDIB(3, 1, 1, 0, {10, 20, 30, 0, 40, 50, 60, 0, 0xA0, 0, 0, 0}));
  ASSERT_EQ(back.PixelFormat, pf24bit);
  EXPECT_EQ(std::vector<uint8_t>(back.Map, back.Map + 9), (std::vector<uint8_t>{40, 50, 60, 10, 20, 30, 40, 50, 60}));
}

TEST(LinearBitmap, DIBThatDoesNotFitItsBlockIsRefused) {
  const std::vector<uint8_t> good = MakeDIB(2, 2, 24, 0, std::vector<uint8_t>(16, 9));
  std::vector<std::vector<uint8_t>> bad = {
      {},
      std::vector<uint8_t>(good.begin(), good.begin() + 30),  // header cut
      std::vector<uint8_t>(good.begin(), good.end() - 3),     // rows cut
      MakeDIB(2, 2, 8, 0, std::vector<uint8_t>(100, 0)),      // 256 colours promised
      MakeDIB(2, 2, 8, 70000, std::vector<uint8_t>(100, 0)),
      MakeDIB(1 << 20, 1, 24, 0, std::vector<uint8_t>(100, 0)),  // stride beyond the block
      MakeDIB(0, 2, 24, 0, std::vector<uint8_t>(16, 0)),
  };
  std::vector<uint8_t> headerTooBig = good;
  Put32(headerTooBig, 0, 0xFFFFFFF0u);
  bad.push_back(headerTooBig);
  for (size_t i = 0; i < bad.size(); ++i) {
    TLinearBitmap bitmap(1, 1, pf16bit);
    EXPECT_EQ(Message([&] { bitmap.GetFromDIB(bad[i]); }), "Error in bitmap data") << "case " << i;
    EXPECT_EQ(bitmap.PixelFormat, pf16bit) << "case " << i;
  }
}
