// Adaptive noise reduction: a weighted mean over a size x size window whose weights
// fall with the local gradient, so edges blur less than flat areas.
#pragma once

#include "imaging/linear_bitmap.h"

namespace sq {

// The noise-reduction dialog's choices, with its defaults; the dialog keeps its own
// copy between uses.
struct TNoiseReductionSettings {
  int Strength = 20;
  int SizeIndex = 0;  // 0, 1, 2 for 3 x 3, 5 x 5, 7 x 7
  bool DoubleSize = false;
};

// size 3, 5 or 7 (others raise).  pf24bit images are filtered on their luminance
// only; pf8bit images directly.  With doubleSize the plane is enlarged first,
// filtered, reduced by keeping every second pixel and sharpened again.  Pixels
// closer than size div 2 to the border keep their values.
void AdaptiveSmooth(TLinearBitmap& bitmap, int strength, int size, bool doubleSize);
// The same with the dialog's choices (size 3 + 2 * SizeIndex).
void AdaptiveSmooth(TLinearBitmap& bitmap, const TNoiseReductionSettings& settings);

}  // namespace sq
