#include "imaging/ops/tone_map_mapper.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/exception.h"
#include "base/format.h"
#include "imaging/ops/filters_rows.h"
#include "imaging/ops/tone_map_ycbcr.h"

namespace sq {

namespace {

const TPresetInfo kPresets[cpPresetCount] = {
    {"Black/white point", {"Black point", -127, 255, 0}, {"White point", 0, 382, 255}, nullptr},
    {"Gamma", {"Gamma  T(x)=x^(1/g)", 0.1, 5, 1, 0.001}, {}, nullptr},
    {"Brightness & contrast", {"Brightness", -127, 127, 0}, {"Contrast", -127, 127, 0}, nullptr},
    {"Threshold", {"Threshold  T(x)=x*255>t", -255, 255, 127}, {}, nullptr},
    {"Histogram equalization", {"Levels", 2, 256, 256}, {}, nullptr},
    {"Quantizer", {"Quantization levels", 2, 256, 256}, {}, nullptr},
    {"Zero point", {"Zero point", 0, 255, 127}, {}, nullptr},
    {"Define curve", {}, {}, nullptr},
    {"Expression", {}, {}, "Map function, T(x)="},
};

int Level(double value, const TPresetParameter& parameter) {
  return RoundEvenInt(std::clamp(value, parameter.Min, parameter.Max));
}

}  // namespace

const TPresetInfo& PresetInfo(int preset) {
  if (preset < 0 || preset >= cpPresetCount) throw Exception("Tool not implemented");
  return kPresets[preset];
}

TColorMapperState::TColorMapperState() {
  for (auto& map : maps_) map = IdentityMap();
}

void TColorMapperState::SelectPlane(TMapperPlane plane) {
  if ((plane_ == mpAll || plane_ == mpLuminance) && plane <= mpRed)
    for (int i = 0; i < 3; ++i) maps_[i] = maps_[3];
  if (plane == mpLuminance)
    for (int i = 0; i < 3; ++i) maps_[i] = IdentityMap();
  plane_ = plane;
  picked_ = -1;
}

void TColorMapperState::ApplyPreset(int preset, double p1, double p2, const LevelHistogram& histogram,
                                    const std::string& expression, bool unitRange) {
  const TPresetInfo& info = PresetInfo(preset);
  ToneMap map = IdentityMap();
  TControlPoints points;
  switch (preset) {
    case cpBlackWhitePoint:
      map = MakeLevelsMap(Level(p1, info.Parameter1), Level(p2, info.Parameter2));
      break;
    case cpGamma:
      map = MakeGammaMap(std::clamp(p1, info.Parameter1.Min, info.Parameter1.Max));
      break;
    case cpBrightnessContrast:
      points = MakeBrightnessContrastPoints(Level(p1, info.Parameter1), Level(p2, info.Parameter2));
      DrawCurveThroughPoints(map, points);
      break;
    case cpThreshold:
      map = MakeThresholdMap(Level(p1, info.Parameter1));
      break;
    case cpEqualization:
      map = MakeEqualizationMap(histogram, Level(p1, info.Parameter1));
      break;
    case cpQuantizer:
      map = MakeQuantizerMap(Level(p1, info.Parameter1));
      break;
    case cpZeroPoint:
      map = MakeZeroPointMap(Level(p1, info.Parameter1));
      break;
    case cpDefineCurve:
      points = DefaultCurvePoints();
      break;
    case cpExpression:
      map = MakeExpressionMap(expression, histogram, unitRange);
      break;
  }
  CurrentMap() = map;
  points_ = std::move(points);
  picked_ = -1;
}

bool TColorMapperState::AutoParameters(int preset, const LevelHistogram& histogram, double& p1, double& p2) {
  if (preset == cpBlackWhitePoint) {
    const TClipLevels clip = FindClipLevels(histogram, histogram.Total / 10000);
    p1 = clip.Low;
    p2 = clip.High;
    return true;
  }
  if (preset == cpGamma) {
    p1 = EstimateGamma(histogram);
    return true;
  }
  return false;
}

void TColorMapperState::Press(int x, int level) {
  x = std::clamp(x, 0, 255);
  level = std::clamp(level, 0, 255);
  lastX_ = x;
  lastLevel_ = level;
  if (points_.empty()) {
    CurrentMap()[size_t(x)] = static_cast<uint8_t>(level);
    return;
  }
  picked_ = -1;
  int best = 16;
  for (size_t i = 0; i < points_.size(); ++i) {
    const int distance = std::abs(points_[i].X - x) + std::abs(points_[i].Y - level);
    if (distance < best) {
      best = distance;
      picked_ = static_cast<int>(i);
    }
  }
  if (picked_ < 0) {
    // A new point just before the last, starting as a copy of it.
    picked_ = static_cast<int>(points_.size()) - 1;
    points_.insert(points_.begin() + picked_, points_.back());
  }
  MovePicked(x, level);
}

void TColorMapperState::Drag(int x, int level) {
  x = std::clamp(x, 0, 255);
  level = std::clamp(level, 0, 255);
  if (!points_.empty()) {
    if (picked_ >= 0) MovePicked(x, level);
    return;
  }
  // A straight line from the previous position, rounded per entry.
  ToneMap& map = CurrentMap();
  if (x == lastX_) {
    map[size_t(x)] = static_cast<uint8_t>(level);
  } else {
    const int step = x > lastX_ ? 1 : -1;
    for (int i = lastX_; i != x + step; i += step)
      map[size_t(i)] = static_cast<uint8_t>(
          DivRoundEven((int64_t(lastLevel_) * (x - lastX_) + int64_t(level - lastLevel_) * (i - lastX_)) * step,
                       int64_t(x - lastX_) * step));
  }
  lastX_ = x;
  lastLevel_ = level;
}

void TColorMapperState::MovePicked(int x, int level) {
  const int last = static_cast<int>(points_.size()) - 1;
  if (picked_ > 0 && picked_ < last) {
    points_[size_t(picked_)].X = x;
    // Inner points move along the list until it is ordered by x again; the end
    // points stay at the ends.
    while (picked_ > 1 && points_[size_t(picked_ - 1)].X > x) {
      std::swap(points_[size_t(picked_ - 1)], points_[size_t(picked_)]);
      --picked_;
    }
    while (picked_ < last - 1 && points_[size_t(picked_ + 1)].X < x) {
      std::swap(points_[size_t(picked_ + 1)], points_[size_t(picked_)]);
      ++picked_;
    }
  }
  points_[size_t(picked_)].Y = level;
  Redraw();
}

bool TColorMapperState::DeletePicked() {
  const int count = static_cast<int>(points_.size());
  if (count < 6 || picked_ <= 0 || picked_ >= count - 1) return false;
  points_.erase(points_.begin() + picked_);
  picked_ = -1;
  Redraw();
  return true;
}

void TColorMapperState::Redraw() { DrawCurveThroughPoints(CurrentMap(), points_); }

void TColorMapperState::Preview(const TLinearBitmap& base, const TLinearBitmap* baseY, TLinearBitmap& shown) const {
  if (!base.Present) return;
  if (&shown != &base && (!shown.Present || shown.Width != base.Width || shown.Height != base.Height ||
                          shown.PixelFormat != base.PixelFormat || shown.BytesPerLine != base.BytesPerLine))
    shown.Assign(base);
  const bool colour = base.PixelFormat == pf24bit;
  if (plane_ == mpLuminance && colour && baseY) {
    // Only the luminance changes; every pixel keeps its chroma exactly.
    if (&shown != &base) shown.Assign(base);
    TLinearBitmap mapped(*baseY);
    ApplyToneMap(maps_[3], mapped, kPlaneAll);
    ShiftLuminance(shown, *baseY, mapped);
  } else if (plane_ <= mpRed && colour) {
    for (int plane = 0; plane < 3; ++plane) ApplyToneMap(maps_[plane], base.Map, shown, plane);
  } else {
    ApplyToneMap(maps_[3], base.Map, shown, kPlaneAll);
  }
}

int HistogramBarHeight(uint32_t count, uint32_t largest, int panelHeight, bool squareRoot) {
  if (largest == 0) return 0;
  if (squareRoot) return static_cast<int>(std::sqrt(double(count)) * panelHeight / std::sqrt(double(largest)));
  return static_cast<int>(int64_t(count) * panelHeight / largest);
}

std::string HistogramStatisticsText(const LevelHistogram& histogram) {
  const THistogramStatistics stats = HistogramStatistics(histogram);
  return Format("Mean: %.2f  Std dev: %.2f  Min: %d  Max: %d", stats.Mean, stats.StdDev, stats.Min, stats.Max);
}

std::string LevelText(int level, const ToneMap& map) {
  level = std::clamp(level, 0, 255);
  return Format("Level: %d -> %d", level, int(map[size_t(level)]));
}

std::string PixelCountText(int level, const LevelHistogram& histogram) {
  return Format("Pixel count: %d", histogram.Counts[size_t(std::clamp(level, 0, 255))]);
}

}  // namespace sq
