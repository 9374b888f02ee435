// ImageMagick's convert as a reference peer for the codec tests.  Tests that need
// it skip when it is not installed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/linear_bitmap.h"
#include "support/temp_dir.h"

namespace sq::test {

inline bool HaveMagick() {
  static const bool have = std::system("convert -version >/dev/null 2>&1") == 0;
  return have;
}

// Runs convert with the arguments (quoted by the caller) and expects success.
inline void Magick(const std::string& args) {
  ASSERT_EQ(std::system(("convert " + args + " >/dev/null 2>&1").c_str()), 0) << args;
}

// The peer's decoding of a file as a pf24bit bitmap, through a binary PPM written
// into folder (so no codec of ours reads the peer's answer).
inline TLinearBitmap MagickPixels(const std::string& file, const std::string& folder) {
  const std::string ppm = folder + "/peer.ppm";
  Magick("'" + file + "' -depth 8 -alpha off ppm:'" + ppm + "'");
  const std::vector<uint8_t> data = ReadBytes(ppm);
  int width = 0, height = 0, maxValue = 0, used = 0;
  const std::string text(data.begin(), data.begin() + std::min<size_t>(data.size(), 64));
  if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &used) != 3 ||
      data.size() < size_t(used) + 1 + size_t(width) * height * 3) {
    ADD_FAILURE() << "no readable PPM from the peer for " << file;
    return TLinearBitmap();
  }
  TLinearBitmap bitmap(width, height, pf24bit);
  const uint8_t* p = data.data() + used + 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x, p += 3) {
      uint8_t* d = bitmap.PixelAddress(x, y);
      d[0] = p[2], d[1] = p[1], d[2] = p[0];
    }
  return bitmap;
}

}  // namespace sq::test
