#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/codecs/pcx_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"
#include "support/image_compare.h"
#include "support/magick_peer.h"

using namespace sq;
using namespace sq::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Header(int planes, int xMax, int yMax, int bytesPerLine) {
  std::vector<uint8_t> h(128, 0);
  h[0] = 10, h[1] = 5, h[2] = 1, h[3] = 8;
  h[8] = static_cast<uint8_t>(xMax), h[10] = static_cast<uint8_t>(yMax);
  h[65] = static_cast<uint8_t>(planes);
  h[66] = static_cast<uint8_t>(bytesPerLine);
  return h;
}

std::vector<uint8_t> Encode(const TLinearBitmap& bitmap) {
  TMemoryStream stream;
  PCXLoader().SaveToStream(stream, "PCX", bitmap);
  return stream.Data();
}

TLinearBitmap Decode(const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  TLinearBitmap bitmap;
  PCXLoader().LoadFromStream(stream, "PCX", bitmap);
  return bitmap;
}

}  // namespace

TEST(PcxWriter, RunRules) {
  TLinearBitmap pixel(1, 1, pf8bit);
  std::memcpy(pixel.Palette, GrayPalette(), 768);
  pixel.Map[0] = 200;
  std::vector<uint8_t> file = Encode(pixel);
  ASSERT_EQ(file.size(), 128u + 2 + 769);
  EXPECT_EQ(file[128], 0xC1);
  EXPECT_EQ(file[129], 0xC8);
  EXPECT_EQ(file[130], 12);
  EXPECT_EQ(file[131 + 3 * 77], 77);       // palette entry 77 as red, green, blue
  EXPECT_EQ(file[8] | (file[9] << 8), 0);  // x max = width - 1
  EXPECT_EQ(file[66] | (file[67] << 8), 1);

  pixel.Map[0] = 100;
  EXPECT_EQ(Encode(pixel)[128], 0x64);

  // 100 equal bytes: runs of 63 and 37.  Rows that end and start with the same
  // value: separate runs.
  TLinearBitmap rows(100, 2, pf8bit);
  rows.Clear(5);
  file = Encode(rows);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 128, file.begin() + 136),
            (std::vector<uint8_t>{0xFF, 5, 0xE5, 5, 0xFF, 5, 0xE5, 5}));

  // Three planes: red, green, blue lines of each row.
  TLinearBitmap color(2, 1, pf24bit);
  const uint8_t bgr[6] = {1, 2, 3, 1, 2, 3};
  std::memcpy(color.Map, bgr, 6);
  file = Encode(color);
  EXPECT_EQ(file[65], 3);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 128, file.end()), (std::vector<uint8_t>{0xC2, 3, 0xC2, 2, 0xC2, 1}));
}

TEST(PcxReader, CropsPaddingAndCarriesRuns) {
  // 3 pixels wide, 4 bytes per line: the padding column is cut.  The run of 0xC5
  // crosses the row end; 0xC0 holds a count of 0, taken as 1.
  std::vector<uint8_t> file = Header(1, 2, 1, 4);
  file.insert(file.end(), {7, 0xC5, 9, 0xC0, 0xD0, 8});
  file.push_back(12);
  for (int i = 0; i < 256; ++i) file.insert(file.end(), {uint8_t(i), uint8_t(i / 2), 3});
  TLinearBitmap bitmap = Decode(file);
  ASSERT_EQ(bitmap.Width, 3);
  ASSERT_EQ(bitmap.Height, 2);
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Map, bitmap.Map + 6), (std::vector<uint8_t>{7, 9, 9, 9, 9, 0xD0}));
  EXPECT_EQ(bitmap.Palette[3 * 200], 3);        // blue
  EXPECT_EQ(bitmap.Palette[3 * 200 + 1], 100);  // green
  EXPECT_EQ(bitmap.Palette[3 * 200 + 2], 200);  // red

  // Without a palette section the indices show as grey levels.
  file.resize(128 + 6);
  EXPECT_TRUE(Decode(file).IsGrayScale());

  // Three planes with one run across the red and green lines.
  file = Header(3, 1, 0, 2);
  file.insert(file.end(), {0xC3, 50, 60, 70, 80});
  bitmap = Decode(file);
  ASSERT_EQ(bitmap.PixelFormat, pf24bit);
  EXPECT_EQ(std::vector<uint8_t>(bitmap.Map, bitmap.Map + 6), (std::vector<uint8_t>{70, 50, 50, 80, 60, 50}));
}

TEST(PcxReader, RefusesDamagedFiles) {
  const std::vector<uint8_t> good = [] {
    std::vector<uint8_t> f = Header(1, 1, 0, 2);
    f.insert(f.end(), {1, 2});
    return f;
  }();
  auto with = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> f = good;
    f[at] = value;
    return f;
  };
  std::vector<uint8_t> overflow = good;
  overflow[128] = 0xC3;  // three samples where the image holds two
  std::vector<uint8_t> huge = with(67, 0x7F);
  huge[11] = 0x7F;
  const struct {
    std::vector<uint8_t> bytes;
    const char* message;
  } cases[] = {
      {with(0, 11), "Unsupported file format"},
      {with(1, 3), "Unsupported file format"},
      {with(2, 0), "Unsupported file format"},
      {with(3, 1), "Unsupported file format"},
      {with(65, 4), "Unsupported file format"},
      {{10, 5, 1}, "Unsupported file format"},
      {with(9, 0x80), "Error in bitmap data"},  // x max before x min
      {overflow, "Error in bitmap data"},
      {huge, "Read less than expected"},  // far more samples than the file holds
      {std::vector<uint8_t>(good.begin(), good.end() - 1), "Read less than expected"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    try {
      Decode(cases[i].bytes);
      ADD_FAILURE() << "case " << i << " loaded";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), cases[i].message) << "case " << i;
    }
  }
}

TEST(Pcx, PeerAgrees) {
  if (!HaveMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  TTempDir dir;
  const std::string folder = dir.Path().string();
  const std::string source = folder + "/source.ppm";
  Magick("-size 31x9 plasma:fractal -seed 11 -depth 8 '" + source + "'");
  for (const char* args : {"", "-colors 100 -type Palette"}) {
    const std::string file = folder + "/peer.pcx";
    Magick("'" + source + "' " + args + " '" + file + "'");
    TLinearBitmap ours;
    ours.LoadFromFile(file);
    EXPECT_EQ(ours.PixelFormat, *args ? pf8bit : pf24bit);
    EXPECT_EQ(As24(ours), As24(MagickPixels(file, folder))) << args;

    // And the peer reads what we write, from both pixel formats.
    ours.SaveToFile(folder + "/ours.pcx");
    EXPECT_EQ(As24(MagickPixels(folder + "/ours.pcx", folder)), As24(ours)) << args;
  }
}
