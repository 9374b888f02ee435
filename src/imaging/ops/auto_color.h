// Automatic colour correction: clip the darkest and brightest 0.01 % of the samples,
// estimate a gamma from the shape of the histogram and apply both.
#pragma once

#include "imaging/histogram.h"

namespace sq {

// The modes in the order the command passes them.
enum class TAutoColorMode {
  Saturation,  // one gamma for all channels, saturation raised with it
  RGBSplit,    // each channel stretched and corrected on its own
  Luminance,   // only the luminance plane is corrected
};

// Histograms are taken inside rect (see TStatisticsRect; the default is the whole
// image).  pf8bit images are corrected on their bytes in any mode; pf24bit images by
// mode; other formats raise ELinearBitmap "Unsupported pixel format".
void AutoColorCorrect(TLinearBitmap& bitmap, const TStatisticsRect& rect, TAutoColorMode mode);

// The clip threshold of both commands: total div 10000.
uint32_t ClipThreshold(const LevelHistogram& histogram);

}  // namespace sq
