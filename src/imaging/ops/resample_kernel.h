// Separable resampling with a line filter: every row is resampled to the new width,
// then every column (as a row of the quarter-turned plane, so memory is walked in
// order) to the new height.  Used by the Resize command's low-pass, spline and sinc
// methods.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/linear_bitmap.h"

namespace sq {

enum class TLineFilterKind { LowPass, Spline, Sinc };

// A line filter prepared for lines of n samples resampled to m.  Apply may run on
// several threads at once, each with its own scratch vector.
class TLineFilter {
 public:
  virtual ~TLineFilter() = default;
  virtual void Apply(const uint8_t* source, uint8_t* target, std::vector<double>& scratch) const = 0;

  static std::unique_ptr<TLineFilter> Make(TLineFilterKind kind, int n, int m);
};

// One line (n, m >= 1).  A line resampled to a single sample gets the line's mean.
//   Low pass: centre weight 1 / r and side weights (1 - 1 / r) / 2k over k = ceil(r / 2)
//   neighbours on each side, r = m / n; the result is clamped to 0..255.
//   Spline: natural cubic spline through the samples.
//   Sinc: 65 unwindowed sinc taps at unit spacing around each position.
void LowPassLineFilter(const uint8_t* source, uint8_t* target, int n, int m);
void SplineLineFilter(const uint8_t* source, uint8_t* target, int n, int m);
void SincLineFilter(const uint8_t* source, uint8_t* target, int n, int m);

// pf8bit (palette kept) and pf24bit (plane by plane).  target may be bitmap.
void KernelResize(const TLinearBitmap& bitmap, int width, int height, TLinearBitmap& target,
                  TLineFilterKind lineFilter);

}  // namespace sq
