#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/codecs/bmp_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"
#include "support/magick_peer.h"

using namespace sq;
using namespace sq::test;
namespace fs = std::filesystem;

namespace {

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void ExpectSamePixels(TLinearBitmap a, TLinearBitmap b, int tolerance, const std::string& what) {
  a.SetPixelFormat(pf24bit);
  b.SetPixelFormat(pf24bit);
  ASSERT_EQ(a.Width, b.Width) << what;
  ASSERT_EQ(a.Height, b.Height) << what;
  int worst = 0;
  for (int y = 0; y < a.Height; ++y)
    for (int x = 0; x < a.Width * 3; ++x) worst = std::max(worst, std::abs(a.ScanLine(y)[x] - b.ScanLine(y)[x]));
  EXPECT_LE(worst, tolerance) << what;
}

// A colourful test picture with every channel varying.
TLinearBitmap Pattern(int width, int height, TPixelFormat format) {
  TLinearBitmap bitmap(width, height, format);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * bitmap.PixelSize; ++x) bitmap.ScanLine(y)[x] = static_cast<uint8_t>(x * 37 + y * 11);
  if (format == pf8bit)
    for (int i = 0; i < 768; ++i) bitmap.Palette[i] = static_cast<uint8_t>(i * 7);
  return bitmap;
}

TLinearBitmap LoadBMP(const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  TLinearBitmap bitmap;
  BMPLoader().LoadFromStream(stream, "BMP", bitmap);
  return bitmap;
}

// A hand-made 8-bit BMP file: header fields, a colour table and pixel bytes.
std::vector<uint8_t> MakeBMP(int width, int height, int bits, uint32_t compression, uint32_t colors,
                             const std::vector<uint8_t>& table, const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> b(54, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 10, static_cast<uint32_t>(54 + table.size()));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<uint32_t>(width));
  Put32(b, 22, static_cast<uint32_t>(height));
  b[26] = 1;
  b[28] = static_cast<uint8_t>(bits);
  Put32(b, 30, compression);
  Put32(b, 46, colors);
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

}  // namespace

TEST(BmpReader, MatchesPeerOnEveryVariant) {
  if (!HaveMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  TTempDir dir;
  const std::string source = dir / "source.ppm";
  Magick("-size 29x17 plasma:fractal -seed 7 -depth 8 '" + source + "'");
  struct TVariant {
    const char* name;
    const char* args;
    TPixelFormat format;
    int tolerance;
  };
  const TVariant variants[] = {
      {"1bit", "-colors 2 -type Palette -compress None BMP3:", pf8bit, 0},
      {"4bit", "-colors 16 -type Palette -compress None BMP3:", pf8bit, 0},
      {"8bit", "-colors 200 -type Palette -compress None BMP3:", pf8bit, 0},
      {"rle8", "-colors 200 -type Palette -compress RLE BMP3:", pf8bit, 0},
      {"24bit", "BMP3:", pf24bit, 0},
      {"v5", "BMP:", pf24bit, 0},
      {"core24", "BMP2:", pf24bit, 0},
      {"core4", "-colors 16 BMP2:", pf8bit, 0},
      {"rgb565", "-define bmp:subtype=RGB565 BMP:", pf24bit, 1},
      {"rgb555", "-define bmp:subtype=RGB555 BMP:", pf24bit, 1},
      {"argb32", "-alpha on -channel A -fx 1 +channel BMP:", pf24bit, 0},
  };
  for (const TVariant& v : variants) {
    const std::string file = dir / (std::string(v.name) + ".bmp");
    Magick("'" + source + "' " + v.args + "'" + file + "'");
    TLinearBitmap ours;
    ours.LoadFromFile(file);
    EXPECT_EQ(ours.PixelFormat, v.format) << v.name;
    ExpectSamePixels(ours, MagickPixels(file, dir.Path().string()), v.tolerance, v.name);
    if (std::string(v.name) == "4bit") {  // 16 colours, the rest of the palette black
      for (int i = 48; i < 768; ++i) ASSERT_EQ(ours.Palette[i], 0) << i;
    }
  }

  // Top-down rows: the same picture with its rows reversed and a negative height.
  std::vector<uint8_t> bytes = ReadBytes(dir / "24bit.bmp");
  const size_t offset = Get32(bytes, 10), stride = (29 * 3 + 3) & ~3u;
  std::vector<uint8_t> flipped = bytes;
  for (int r = 0; r < 17; ++r) std::memcpy(&flipped[offset + r * stride], &bytes[offset + (16 - r) * stride], stride);
  Put32(flipped, 22, static_cast<uint32_t>(-17));
  ExpectSamePixels(LoadBMP(flipped), LoadBMP(bytes), 0, "top-down");

  // The 108-byte header: the 124-byte one without its last 16 bytes.
  bytes = ReadBytes(dir / "v5.bmp");
  std::vector<uint8_t> v4 = bytes;
  v4.erase(v4.begin() + 14 + 108, v4.begin() + 14 + 124);
  Put32(v4, 14, 108);
  Put32(v4, 10, Get32(bytes, 10) - 16);
  ExpectSamePixels(LoadBMP(v4), LoadBMP(bytes), 0, "108-byte header");

  // 32 bits without masks: blue, green, red and an unused byte.
  bytes = ReadBytes(dir / "24bit.bmp");
  std::vector<uint8_t> pixels;
  for (int r = 0; r < 17; ++r)
    for (int x = 0; x < 29; ++x) {
      const uint8_t* p = &bytes[offset + r * stride + 3 * x];
      pixels.insert(pixels.end(), {p[0], p[1], p[2], 0x5A});
    }
  TLinearBitmap plain32 = LoadBMP(MakeBMP(29, 17, 32, 0, 0, {}, pixels));
  EXPECT_EQ(plain32.PixelFormat, pf24bit);
  ExpectSamePixels(plain32, LoadBMP(bytes), 0, "32-bit");
}

TEST(BmpReader, DecodesRunLengthRules) {
  // 4-bit, 6 x 3, bottom row first: a run that alternates two indices, an absolute
  // run with its padding, a jump, a run cut at the row end, end of bitmap.
  std::vector<uint8_t> table(16 * 4, 0);
  for (int i = 0; i < 16; ++i) table[4 * i] = static_cast<uint8_t>(i * 16);
  const std::vector<uint8_t> rle4 = {4,    0x12, 0, 3,
                                     0x34, 0x50, 0, 0,  // row 2: 1 2 1 2 3 4 5... cut at 6 -> 1 2 1 2 3 4
                                     0,    2,    2, 1,  // jump two right, one up: to (2, row 0)
                                     9,    0x77,        // run of 9 sevens, cut at the row end
                                     0,    1};
  TLinearBitmap bitmap = LoadBMP(MakeBMP(6, 3, 4, 2, 16, table, rle4));
  ASSERT_EQ(bitmap.PixelFormat, pf8bit);
  const std::vector<uint8_t> expected = {0, 0, 7, 7, 7, 7,   // top row
                                         0, 0, 0, 0, 0, 0,   // middle row: jumped over
                                         1, 2, 1, 2, 3, 4};  // bottom row
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Map, bitmap.Map + 18), expected);
  EXPECT_EQ(bitmap.Palette[3 * 15], 240);
  EXPECT_EQ(bitmap.Palette[3 * 16], 0);

  // RLE8: an absolute run of 3 padded to 4 bytes, then end of line and of bitmap.
  const std::vector<uint8_t> rle8 = {0, 3, 9, 8, 7, 0, 2, 5, 0, 0, 0, 1};
  bitmap = LoadBMP(MakeBMP(5, 2, 8, 1, 0, std::vector<uint8_t>(1024, 0), rle8));
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Map, bitmap.Map + 10), (std::vector<uint8_t>{0, 0, 0, 0, 0, 9, 8, 7, 5, 5}));
}

TEST(BmpReader, RefusesDamagedFiles) {
  const std::vector<uint8_t> table(1024, 0), row(4, 0);
  const std::vector<uint8_t> good = MakeBMP(3, 2, 8, 0, 0, table, {1, 2, 3, 0, 4, 5, 6, 0});
  EXPECT_EQ(LoadBMP(good).Width, 3);
  struct TCase {
    std::vector<uint8_t> bytes;
    const char* message;
  };
  auto with = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> b = good;
    Put32(b, at, value);
    return b;
  };
  std::vector<uint8_t> notBmp = good;
  notBmp[1] = 'A';
  std::vector<uint8_t> rleJumpOut = MakeBMP(3, 2, 8, 1, 0, table, {0, 2, 5, 0, 0, 1});
  const TCase cases[] = {
      {notBmp, "Unsupported file format"},
      {{'B', 'M', 0}, "Unsupported file format"},
      {with(14, 99), "Error in bitmap data"},           // header size
      {with(18, 0), "Error in bitmap data"},            // width
      {with(22, 0x80000000u), "Error in bitmap data"},  // height that has no absolute value
      {with(18, 100000), "Error in bitmap data"},       // rows the data cannot hold
      {with(46, 300), "Error in bitmap data"},          // colour count
      {with(18, 0x40000000), "image too large (1073741824 \u00D7 2 pixels)"},
      {with(30, 4), "Unsupported file format"},         // embedded JPEG
      {with(30, 1), "Error in bitmap data"},            // RLE8 data that ends too soon
      {MakeBMP(3, 2, 7, 0, 0, {}, row), "Unsupported pixel format"},
      {MakeBMP(3, 2, 24, 1, 0, {}, row), "Error in bitmap data"},  // RLE8 on 24 bits
      {rleJumpOut, "Error in bitmap data"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    TLinearBitmap bitmap(2, 2, pf24bit);
    TReadOnlyMemoryStream stream(cases[i].bytes.data(), cases[i].bytes.size());
    try {
      bitmap.LoadFromStream(stream, "bmp");
      ADD_FAILURE() << "case " << i << " loaded";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), cases[i].message) << "case " << i;
    }
    EXPECT_EQ(bitmap.Width, 2) << "a failed load changed the bitmap, case " << i;
  }
}

TEST(BmpWriter, PeerReadsWhatWeWrite) {
  TTempDir dir;
  for (const TPixelFormat format : {pf8bit, pf16bit, pf24bit, pf32bit}) {
    TLinearBitmap image = Pattern(13, 7, format);
    const std::string file = dir / "out.bmp";
    image.SaveToFile(file);
    const std::vector<uint8_t> bytes = ReadBytes(file);
    const int bits = format == pf16bit ? 8 : image.PixelSize * 8;
    EXPECT_EQ(bytes[28], bits);
    EXPECT_EQ(bytes.size(), 54 + (bits == 8 ? 1024 : 0) + ((13 * bits / 8 + 3) & ~3) * 7u);

    // What the picture should look like: pf16bit shows its high bytes, pf32bit its
    // first three.
    TLinearBitmap expected(image);
    if (format == pf16bit) expected.SetPixelFormat(pf8bit);
    TLinearBitmap back;
    back.LoadFromFile(file);
    EXPECT_EQ(back.PixelFormat, bits == 8 ? pf8bit : pf24bit);
    ExpectSamePixels(back, expected, 0, PixelFormatName(format));
    if (format == pf16bit) {
      EXPECT_TRUE(back.IsGrayScale());
    }
    if (HaveMagick()) ExpectSamePixels(MagickPixels(file, dir.Path().string()), expected, 0, PixelFormatName(format));
  }
}
