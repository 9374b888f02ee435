#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/codecs/gif_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"
#include "support/image_compare.h"
#include "support/magick_peer.h"

using namespace sq;
using namespace sq::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Save(const TLinearBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.SaveToStream(stream, "gif");
  return stream.Data();
}

TLinearBitmap Load(const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  TLinearBitmap bitmap;
  bitmap.LoadFromStream(stream, "GIF");
  return bitmap;
}

// Entries of the global colour table a GIF file declares.
int TableEntries(const std::vector<uint8_t>& gif) { return 2 << (gif.at(10) & 7); }

}  // namespace

TEST(Gif, PaletteImagesKeepIndicesAndPackWhereTheyFit) {
  TLinearBitmap image(7, 5, pf8bit);
  std::memset(image.Palette, 0, 768);
  for (int i = 0; i < 3 * 9; ++i) image.Palette[i] = static_cast<uint8_t>(10 + i);
  for (int64_t i = 0; i < image.Size; ++i) image.Map[i] = static_cast<uint8_t>(i % 9);

  std::vector<uint8_t> file = Save(image);
  EXPECT_EQ(TableEntries(file), 16);
  TLinearBitmap back = Load(file);
  ASSERT_EQ(back.PixelFormat, pf8bit);
  EXPECT_EQ(std::vector<uint8_t>(back.Map, back.Map + back.Size),
            std::vector<uint8_t>(image.Map, image.Map + image.Size));
  EXPECT_EQ(std::vector<uint8_t>(back.Palette, back.Palette + 768),
            std::vector<uint8_t>(image.Palette, image.Palette + 768));
  EXPECT_EQ(GIFLoader().TransparentColor, -1);

  std::memset(image.Palette + 6, 0, 768 - 6);  // two entries in use: 1 bit
  image.Clear(1);
  EXPECT_EQ(TableEntries(Save(image)), 2);

  // A pixel naming a black entry far down the table keeps the full depth.
  image.Map[3] = 200;
  file = Save(image);
  EXPECT_EQ(TableEntries(file), 256);
  EXPECT_EQ(Load(file).Map[3], 200);
}

TEST(Gif, TrueColourIsReducedWell) {
  // Few colours: kept exactly.
  TLinearBitmap few(40, 30, pf24bit);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      uint8_t* p = few.PixelAddress(x, y);
      p[0] = static_cast<uint8_t>(x / 4 * 25), p[1] = static_cast<uint8_t>(y / 3 * 25), p[2] = 77;
    }
  EXPECT_EQ(MeanError(Load(Save(few)), few), 0.0);

  // Thousands of colours: close on average (ImageMagick's quantiser without
  // dithering is 5.85 off on this picture), and a flat area stays flat.
  TLinearBitmap many(128, 96, pf32bit);
  many.Clear(0);
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 128; ++x) {
      uint8_t* p = many.PixelAddress(x, y);
      p[0] = static_cast<uint8_t>(x * 2), p[1] = static_cast<uint8_t>(y * 2);
      p[2] = static_cast<uint8_t>(128 + 120 * std::sin(x * 0.1 + y * 0.05));
      if (x < 16 && y < 16) p[0] = 10, p[1] = 200, p[2] = 30;
    }
  const TLinearBitmap back = Load(Save(many));
  EXPECT_LT(MeanError(back, many), 5.5);
  const uint8_t* flat = back.Palette + 3 * back.Map[0];
  EXPECT_NEAR(flat[1], 200, 2);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(back.ScanLine(y)[x], back.Map[0]);
}

TEST(Gif, PeerAgreesAndTransparencyIsReported) {
  if (!HaveMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  TTempDir dir;
  // An interlaced file from the peer: the same pixels as the peer's own decoding.
  Magick("-size 23x19 plasma:fractal -seed 5 -colors 64 -interlace GIF '" + dir / "peer.gif" + "'");
  TLinearBitmap ours;
  ours.LoadFromFile(dir / "peer.gif");
  EXPECT_EQ(MeanError(ours, MagickPixels(dir / "peer.gif", dir.Path().string())), 0.0);

  // The peer reads what we write.
  ours.SaveToFile(dir / "ours.gif");
  EXPECT_EQ(MeanError(ours, MagickPixels(dir / "ours.gif", dir.Path().string())), 0.0);

  // A transparent blue: platform colour 0x00BBGGRR.
  Magick("-size 6x4 xc:red -fill blue -draw 'point 1,1' -transparent blue -transparent-color blue '" +
         dir / "clear.gif" + "'");
  ours.LoadFromFile(dir / "clear.gif");
  EXPECT_EQ(GIFLoader().TransparentColor, 0xFF0000);
}

TEST(Gif, DamagedFilesRaise) {
  TLinearBitmap image(5, 5, pf8bit);
  std::memset(image.Palette, 0, 768);
  std::memset(image.Palette + 3, 255, 3);
  image.Clear(1);
  const std::vector<uint8_t> good = Save(image);
  ASSERT_EQ(TableEntries(good), 2);
  std::vector<uint8_t> noFrame(good.begin(), good.begin() + 13 + 6);  // header and 2-entry table
  noFrame.push_back(0x3B);
  const struct {
    std::vector<uint8_t> bytes;
    const char* message;
  } cases[] = {
      {{'G', 'I', 'X', '8', '9', 'a', 0, 0}, "Unsupported file format"},
      {noFrame, "Error in bitmap data"},
      {std::vector<uint8_t>(good.begin(), good.end() - 6), nullptr},  // cut inside the pixel data
      {{}, nullptr},
  };
  for (const auto& c : cases) {
    try {
      Load(c.bytes);
      ADD_FAILURE() << "loaded";
    } catch (const Exception& e) {
      if (c.message) {
        EXPECT_STREQ(e.what(), c.message);
      }
    }
  }
}
