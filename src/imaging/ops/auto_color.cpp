#include "imaging/ops/auto_color.h"

#include <cmath>

#include "base/exception.h"
#include "base/progress.h"
#include "imaging/ops/filters_rows.h"
#include "imaging/ops/tone_map.h"
#include "imaging/ops/tone_map_ycbcr.h"

namespace sq {

namespace {

// Levels stretch then the estimated gamma, as one map applied once to the plane.
void StretchAndGamma(TLinearBitmap& bitmap, int plane, const TStatisticsRect& rect) {
  LevelHistogram histogram = ComputeHistogram(bitmap, plane, rect);
  const TClipLevels clip = FindClipLevels(histogram, ClipThreshold(histogram));
  ToneMap map = MakeLevelsMap(clip.Low, clip.High);
  histogram = RemapHistogram(histogram, map);
  ComposeMaps(map, MakeGammaMap(EstimateGamma(histogram)));
  ApplyToneMap(map, bitmap, plane);
}

void CorrectSaturation(TLinearBitmap& bitmap, const TStatisticsRect& rect) {
  LevelHistogram histogram = ComputeHistogram(bitmap, kPlaneAll, rect);
  const TClipLevels clip = FindClipLevels(histogram, ClipThreshold(histogram));
  if (clip.Low != 0 || clip.High != 255) {
    const ToneMap levels = MakeLevelsMap(clip.Low, clip.High);
    ApplyToneMap(levels, bitmap, kPlaneAll);
    histogram = RemapHistogram(histogram, levels);
  }
  ReportProgress(30);
  const double gamma = EstimateGamma(histogram);
  const double saturation = gamma >= 1 ? std::pow(gamma, 0.5 / gamma) : 1.0;
  TProgressRange range(30, 100);
  GammaSaturate(bitmap, 0, 0, gamma, saturation);
}

void CorrectRGBSplit(TLinearBitmap& bitmap, const TStatisticsRect& rect) {
  for (int plane = kPlaneBlue; plane <= kPlaneRed; ++plane) {
    const LevelHistogram histogram = ComputeHistogram(bitmap, plane, rect);
    const TClipLevels clip = FindClipLevels(histogram, ClipThreshold(histogram));
    ApplyToneMap(MakeLevelsMap(clip.Low, clip.High), bitmap, plane);
    ReportProgress(10 * (plane + 1));
  }
  const double red = EstimateGamma(ComputeHistogram(bitmap, kPlaneRed, rect));
  const double green = EstimateGamma(ComputeHistogram(bitmap, kPlaneGreen, rect));
  const double blue = EstimateGamma(ComputeHistogram(bitmap, kPlaneBlue, rect));
  const double gamma = (red + green + blue) / 3;
  const double saturation = gamma >= 1 ? std::pow(gamma, 1 / gamma) : 1.0;
  TProgressRange range(40, 100);
  GammaSaturate(bitmap, blue, green, red, saturation);
}

void CorrectLuminance(TLinearBitmap& bitmap, const TStatisticsRect& rect) {
  TLinearBitmap y;
  ExtractLuminance(bitmap, y);
  const TLinearBitmap before(y);
  ReportProgress(30);
  StretchAndGamma(y, kPlaneAll, rect);
  ReportProgress(60);
  ShiftLuminance(bitmap, before, y);
}

}  // namespace

uint32_t ClipThreshold(const LevelHistogram& histogram) { return histogram.Total / 10000; }

void AutoColorCorrect(TLinearBitmap& bitmap, const TStatisticsRect& rect, TAutoColorMode mode) {
  if (!bitmap.Present) return;
  ReportProgress(0);
  if (bitmap.PixelFormat == pf8bit) {
    StretchAndGamma(bitmap, kPlaneAll, rect);
  } else if (bitmap.PixelFormat == pf24bit) {
    switch (mode) {
      case TAutoColorMode::Saturation:
        CorrectSaturation(bitmap, rect);
        break;
      case TAutoColorMode::RGBSplit:
        CorrectRGBSplit(bitmap, rect);
        break;
      case TAutoColorMode::Luminance:
        CorrectLuminance(bitmap, rect);
        break;
      default:
        throw Exception("Unknown color correction mode");
    }
  } else {
    throw ELinearBitmap("Unsupported pixel format");
  }
  ReportProgress(100);
}

}  // namespace sq
