// A tiny stereo pair for reconstruction tests: image 2 shows image 1 four pixels
// further left and a nearer square eight pixels, with four exact point pairs.
#pragma once

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>

#include "imaging/linear_bitmap.h"
#include "project/correspondence_project.h"

namespace sq::test {

struct TSmallStereoScene {
  TSmallStereoScene() {
    std::mt19937 random(17);
    Image1.New(80, 60, pf24bit);
    for (int64_t i = 0; i < Image1.Size; ++i) Image1.Map[i] = static_cast<uint8_t>(random());
    Image2.New(80, 60, pf24bit);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 80; ++x) {
        const bool square = x >= 30 && x < 50 && y >= 20 && y < 40;
        std::memcpy(Image2.PixelAddress(x, y), Image1.PixelAddress(std::min(79, x + (square ? 8 : 4)), y), 3);
      }
    const PointPair pairs[] = {{10, 10, 6, 10}, {70, 10, 66, 10}, {10, 50, 6, 50}, {70, 50, 66, 50}};
    Project.PointCount = 4;
    std::copy(std::begin(pairs), std::end(pairs), Project.Points.begin());
  }
  TLinearBitmap Image1, Image2;
  CorrespondenceProject Project;
};

}  // namespace sq::test
