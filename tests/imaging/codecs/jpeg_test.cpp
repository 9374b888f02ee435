#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/codecs/jpeg_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"
#include "support/image_compare.h"
#include "support/magick_peer.h"

using namespace sq;
using namespace sq::test;
namespace fs = std::filesystem;

namespace {

std::string Output(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    pclose(pipe);
  }
  return output;
}

// A smooth colour picture with some waves, the kind JPEG is made for.
TLinearBitmap Picture(int width, int height) {
  TLinearBitmap bitmap(width, height, pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = bitmap.PixelAddress(x, y);
      p[0] = static_cast<uint8_t>(x * 255 / width);
      p[1] = static_cast<uint8_t>(y * 255 / height);
      p[2] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.3) * std::cos(y * 0.2));
    }
  return bitmap;
}

struct TJpegSettings {  // sets the process-wide loader for one scope
  explicit TJpegSettings(int quality, int64_t maxSize = 0) { Set(quality, maxSize); }
  ~TJpegSettings() { Set(0, 0); }
  static void Set(int quality, int64_t maxSize) { JPEGLoader().Quality = quality, JPEGLoader().MaxFileSize = maxSize; }
};

std::vector<uint8_t> Save(const TLinearBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.SaveToStream(stream, "jpg");
  return stream.Data();
}

TLinearBitmap Load(const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  TLinearBitmap bitmap;
  bitmap.LoadFromStream(stream, "JPEG");
  return bitmap;
}

}  // namespace

TEST(Jpeg, RoundTripAndPeerAgree) {
  const TLinearBitmap picture = Picture(64, 48);
  TJpegSettings settings(92);
  const std::vector<uint8_t> bytes = Save(picture);
  const TLinearBitmap back = Load(bytes);
  EXPECT_EQ(back.PixelFormat, pf24bit);
  EXPECT_LT(MeanError(back, picture), 3.0);

  // Greyscale images become one-component files that load with the grey palette.
  TLinearBitmap gray(picture);
  gray.SetPixelFormat(pf8bit);
  std::memcpy(gray.Palette, GrayPalette(), 768);
  const TLinearBitmap grayBack = Load(Save(gray));
  EXPECT_EQ(grayBack.PixelFormat, pf8bit);
  EXPECT_TRUE(grayBack.IsGrayScale());
  EXPECT_LT(MeanError(grayBack, gray), 3.0);

  if (!HaveMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  TTempDir dir;
  const std::string file = dir / "ours.jpg";
  picture.SaveToFile(file);
  EXPECT_EQ(Output("identify -format '%Q %[colorspace] %wx%h' '" + file + "'"), "92 sRGB 64x48");

  // The peer's pixels of our file equal ours: both decode the same data.
  picture.SaveToFile(file);
  TLinearBitmap ours;
  ours.LoadFromFile(file);
  EXPECT_LT(MeanError(MagickPixels(file, dir.Path().string()), ours), 0.5);
}

TEST(Jpeg, SizeTargetNeverRaisesQuality) {
  const TLinearBitmap picture = Picture(96, 96);
  const std::vector<uint8_t> at40 = CompressJPEG(picture, 40);
  {
    TJpegSettings settings(40, 10000000);  // fits at once: the start quality stays
    EXPECT_EQ(Save(picture), at40);
  }
  {
    const int64_t target = static_cast<int64_t>(at40.size()) * 2 / 3;
    TJpegSettings settings(40, target);
    const std::vector<uint8_t> fitted = Save(picture);
    EXPECT_LE(static_cast<int64_t>(fitted.size()), target);
    // The best quality that fits: one step up would not.
    int quality = 39;
    while (quality > 1 && CompressJPEG(picture, quality) != fitted) --quality;
    EXPECT_GT(static_cast<int64_t>(CompressJPEG(picture, quality + 1).size()), target);
  }
  {
    TJpegSettings settings(0, 10);  // unreachable: quality 1 is written anyway
    EXPECT_EQ(Save(picture), CompressJPEG(picture, 1));
  }
}

TEST(Jpeg, DamagedDataRaisesInsteadOfExiting) {
  const std::vector<uint8_t> good = Save(Picture(16, 16));
  std::vector<uint8_t> badMarker = good;
  badMarker[3] = 0xD9;  // the end marker right behind the start
  for (const auto& bytes :
       {std::vector<uint8_t>{}, std::vector<uint8_t>{0xFF, 0xD8},
        std::vector<uint8_t>(good.begin(), good.begin() + 100), badMarker, std::vector<uint8_t>(300, 0x5A)}) {
    TLinearBitmap bitmap(3, 3, pf8bit);
    EXPECT_THROW(bitmap.LoadFromStream(*std::make_unique<TReadOnlyMemoryStream>(bytes.data(), bytes.size()), "jpg"),
                 ELinearBitmap);
    EXPECT_EQ(bitmap.Width, 3);
  }
}
