// Files that cost more than they hold, and damaged photos: each is refused before
// the reader allocates the image, or loads with a warning that says what is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/codecs/jpeg_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

using namespace sq;

namespace {

const uint8_t kProgressiveFrame[] = {0xFF, 0xC2};

std::string Corpus(const std::string& name) { return std::string(SQ_SOURCE_DIR) + "/tests/corpus/" + name; }

std::string LoadError(const std::string& path) {
  TLinearBitmap bitmap;
  try {
    bitmap.LoadFromFile(path);
  } catch (const Exception& e) {
    return e.what();
  }
  return "(loaded)";
}

// A 64 x 64 picture whose columns and rows differ, so turns and cuts show.
TLinearBitmap Gradient() {
  TLinearBitmap bitmap(64, 48, pf24bit);
  for (int y = 0; y < bitmap.Height; ++y)
    for (int x = 0; x < bitmap.Width; ++x) {
      uint8_t* p = bitmap.PixelAddress(x, y);
      p[0] = static_cast<uint8_t>(x * 4);
      p[1] = static_cast<uint8_t>(y * 5);
      p[2] = 128;
    }
  return bitmap;
}

// The JPEG with an Exif block carrying orientation tag value after its SOI.
std::vector<uint8_t> WithOrientation(std::vector<uint8_t> jpeg, int value) {
  const uint8_t tiff[] = {'M',  'M',  0, 42, 0, 0, 0, 8,                                        // header, IFD at 8
                          0,    1,                                                              // one entry
                          0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, static_cast<uint8_t>(value), 0, 0,  // orientation
                          0,    0,    0, 0};
  std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), std::begin(tiff), std::end(tiff));
  app1[3] = static_cast<uint8_t>(app1.size() - 2);
  jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
  return jpeg;
}

void Decode(const std::vector<uint8_t>& data, TLinearBitmap& bitmap, TLoadReport& report) {
  TReadOnlyMemoryStream stream(data.data(), data.size());
  bitmap.LoadFromStream(stream, "JPG", &report);
}

}  // namespace

TEST(HostileInput, SmallFilesThatClaimHugeImagesAreRefused) {
  // A 35-byte GIF whose screen is 32000 x 32000 pixels.
  EXPECT_EQ(LoadError(Corpus("gif_reader/huge_screen.gif")), "image too large (32000 \u00D7 32000 pixels)");
  // RLE that ends at once cannot fill its 20000 x 8000 canvas.
  EXPECT_EQ(LoadError(Corpus("bmp_reader/rle4_ends_at_once.bmp")),
            "Error in bitmap data: the RLE data holds no pixels");
  // A progressive JPEG whose frame header was patched to 30000 x 30000.
  EXPECT_EQ(LoadError(Corpus("jpeg_reader/patched_size_progressive.jpg")),
            "image too large (30000 \u00D7 30000 pixels)");
  // Below the limit, 663 bytes still cannot hold 10000 x 10000 pixels.
  std::ifstream file(Corpus("jpeg_reader/patched_size_progressive.jpg"), std::ios::binary);
  std::vector<uint8_t> patched((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t frame = static_cast<size_t>(
      std::search(patched.begin(), patched.end(), std::begin(kProgressiveFrame), std::end(kProgressiveFrame)) -
      patched.begin());
  ASSERT_LT(frame, patched.size());
  const uint8_t size[] = {0x27, 0x10, 0x27, 0x10};  // 10000, 10000
  std::copy(std::begin(size), std::end(size), patched.begin() + static_cast<long>(frame) + 5);
  TLinearBitmap bitmap;
  TLoadReport report;
  try {
    Decode(patched, bitmap, report);
    ADD_FAILURE() << "loaded";
  } catch (const ELinearBitmap& e) {
    EXPECT_STREQ(e.what(), "JPEG data too short for a 10000 \u00D7 10000 image");
  }
  // A JPEG that stops right after its scan header yields no row at all.
  EXPECT_EQ(LoadError(Corpus("jpeg_reader/ends_after_header.jpg")), "JPEG data ends before the first row of pixels");
  // Deflate cannot turn 68 bytes into 480 MB of rows.
  EXPECT_EQ(LoadError(Corpus("png_reader/huge_ihdr_tiny_idat.png")), "Read less than expected");
}

TEST(HostileInput, PixelLimitIsTheCallersToSet) {
  const std::vector<uint8_t> jpeg = CompressJPEG(Gradient(), 90);
  TLinearBitmap bitmap;
  TLoadReport report;
  SetMaxImagePixels(64 * 48 - 1);
  try {
    Decode(jpeg, bitmap, report);
    ADD_FAILURE() << "loaded above the limit";
  } catch (const EImageTooLarge& e) {
    EXPECT_EQ(e.Width, 64);
    EXPECT_EQ(e.Height, 48);
  }
  EXPECT_FALSE(bitmap.Present);
  SetMaxImagePixels(64 * 48);
  Decode(jpeg, bitmap, report);
  EXPECT_EQ(bitmap.Width, 64);
  SetMaxImagePixels(0);
}

TEST(HostileInput, TruncatedJpegKeepsWhatDecodedAndSaysSo) {
  const TLinearBitmap original = Gradient();
  const std::vector<uint8_t> whole = CompressJPEG(original, 90);
  TLinearBitmap bitmap;
  TLoadReport report;
  Decode(whole, bitmap, report);
  EXPECT_FALSE(report.Damaged);
  EXPECT_TRUE(report.Warnings.empty());

  // Cut half way through the scan data.
  const uint8_t scan[] = {0xFF, 0xDA};
  const auto start = std::search(whole.begin(), whole.end(), std::begin(scan), std::end(scan));
  const std::vector<uint8_t> cut(whole.begin(), start + (whole.end() - start) / 2);
  Decode(cut, bitmap, report);
  EXPECT_TRUE(report.Damaged);
  ASSERT_EQ(report.Warnings, std::vector<std::string>{"JPEG data ends early; the rest is grey"});
  // The top is the picture, the bottom the decoder's grey.
  EXPECT_NEAR(bitmap.PixelAddress(40, 0)[0], original.PixelAddress(40, 0)[0], 8);
  const uint8_t* last = bitmap.PixelAddress(40, 47);
  EXPECT_NEAR(last[0], 128, 2);
  EXPECT_NEAR(last[1], 128, 2);
}

TEST(HostileInput, ExifOrientationTurnsThePictureUpright) {
  const TLinearBitmap original = Gradient();
  const std::vector<uint8_t> jpeg = CompressJPEG(original, 95);
  struct TCase {
    int Value;
    const char* Text;
    int SourceX, SourceY;  // where the result's top-left pixel comes from
  };
  for (const TCase& c : {TCase{1, "", 0, 0}, TCase{3, "rotated 180\u00B0", 63, 47}, TCase{6, "rotated 90\u00B0", 0, 47},
                         TCase{8, "rotated 270\u00B0", 63, 0}, TCase{2, "mirrored", 63, 0}}) {
    TLinearBitmap bitmap;
    TLoadReport report;
    Decode(WithOrientation(jpeg, c.Value), bitmap, report);
    EXPECT_EQ(report.Orientation, c.Text);
    const bool turned = c.Value >= 5;
    EXPECT_EQ(bitmap.Width, turned ? 48 : 64) << c.Value;
    EXPECT_EQ(bitmap.Height, turned ? 64 : 48) << c.Value;
    const uint8_t* got = bitmap.PixelAddress(0, 0);
    const uint8_t* want = original.PixelAddress(c.SourceX, c.SourceY);
    EXPECT_NEAR(got[0], want[0], 12) << c.Value;
    EXPECT_NEAR(got[1], want[1], 12) << c.Value;
  }
}
