// Row kernels of the resampling and rotation code.  The vector versions run only
// when the processor has AVX2, and each gives the same bytes as the plain loops,
// which stay the reference: tests switch the vectors off and compare.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/linear_bitmap.h"

namespace sq {

// True when the vector kernels may run: the processor has AVX2 and no test has
// switched them off.
bool ResampleVectorsEnabled();
// For tests: false makes every operation take its plain loops.
void SetResampleVectorsForTesting(bool enabled);

// For tests: the plain loops while it lives.
class TPlainResampleLoops {
 public:
  TPlainResampleLoops() { SetResampleVectorsForTesting(false); }
  ~TPlainResampleLoops() { SetResampleVectorsForTesting(true); }
  TPlainResampleLoops(const TPlainResampleLoops&) = delete;
  TPlainResampleLoops& operator=(const TPlainResampleLoops&) = delete;
};

// Rounding of a 2 x 2 sum s into a byte: (s + 2) >> 2, or s / 4 with halves to even.
enum class THalfRounding { HalfUp, HalfEven };

// out pixel x = the rounded mean of pixels 2x and 2x + 1 of rows a and b, channel by
// channel; pixelSize bytes per pixel.
void HalveRows(const uint8_t* a, const uint8_t* b, uint8_t* out, int outWidth, int pixelSize, THalfRounding rounding);

// One axis of the bilinear resize: target index j samples between source indexes
// low[j] and high[j], weight[j] being the share of high[j].
struct TBilinearAxis {
  std::vector<int> low, high;
  std::vector<double> weight;
};
TBilinearAxis BilinearAxis(int n, int m);

// The bilinear resize of pf8bit or pf24bit samples into target (already sized) when
// the vector kernels can produce it; false (target untouched) when the plain loops
// must do it.
bool BilinearBytesFast(const TLinearBitmap& source, TLinearBitmap& target, const TBilinearAxis& ax,
                       const TBilinearAxis& ay);

}  // namespace sq
