// What the colour-mapper dialog computes: its presets, the maps of its four planes,
// control-point and freehand editing of a map, the preview of the mapped pixels and
// the texts of its histogram panel.  The dialog only gathers values and draws.
#pragma once

#include <string>

#include "imaging/ops/tone_map.h"
#include "imaging/ops/tone_map_expression.h"

namespace sq {

enum TColorMapperPreset {
  cpBlackWhitePoint,
  cpGamma,
  cpBrightnessContrast,
  cpThreshold,
  cpEqualization,
  cpQuantizer,
  cpZeroPoint,
  cpDefineCurve,
  cpExpression,
  cpPresetCount
};

struct TPresetParameter {
  const char* Label = nullptr;  // nullptr: not used
  double Min = 0, Max = 0, Default = 0;
  double Step = 1;  // of the track bar
};

struct TPresetInfo {
  const char* Name;
  TPresetParameter Parameter1, Parameter2;
  const char* TextLabel;  // the Expression preset's text field, else nullptr
};

// Raises "Tool not implemented" for an index outside the list.
const TPresetInfo& PresetInfo(int preset);

// Planes of the "Color plane" list: Blue, Green, Red, All, Luminance.
enum TMapperPlane { mpBlue, mpGreen, mpRed, mpAll, mpLuminance };

class TColorMapperState {
 public:
  TColorMapperState();

  TMapperPlane Plane() const { return plane_; }
  // Switching from All or Luminance to one channel first copies the All map into the
  // three channel maps; choosing Luminance resets the channel maps to the identity.
  void SelectPlane(TMapperPlane plane);

  // The map edited now (Luminance edits the All map's slot).
  ToneMap& CurrentMap() { return maps_[plane_ >= mpAll ? 3 : plane_]; }
  const ToneMap& Map(int index) const { return maps_[index]; }
  // Replaces the current map (a loaded file, say) and forgets the control points, which
  // would otherwise redraw over it at the next edit.
  void SetCurrentMap(const ToneMap& map) {
    CurrentMap() = map;
    points_.clear();
    picked_ = -1;
  }

  // Rebuilds the current map from a preset and its parameters; histogram holds the
  // base pixels of the current plane (Equalization, Expression).  Define curve and
  // Brightness & contrast leave control points; the others clear them.
  void ApplyPreset(int preset, double p1, double p2, const LevelHistogram& histogram,
                   const std::string& expression = kDefaultMapExpression, bool unitRange = true);

  // The "Auto" button: new parameter values for Black/white point and Gamma from the
  // histogram; false (nothing to change) for the other presets.
  static bool AutoParameters(int preset, const LevelHistogram& histogram, double& p1, double& p2);

  // Mouse editing at (input level x, output level), both clamped to 0..255.
  void Press(int x, int level);
  void Drag(int x, int level);
  // The Delete key: removes the picked point when at least 6 exist and it is neither
  // the first nor the last.
  bool DeletePicked();
  void Smooth() { SmoothMap(CurrentMap()); }

  const TControlPoints& Points() const { return points_; }
  int Picked() const { return picked_; }

  // Maps the base pixels into shown (same size and format as base): planes 0..2 with
  // their maps or every byte with the All map; in Luminance mode only the luminance
  // moves, through the All map (baseY is the base's luminance plane).
  void Preview(const TLinearBitmap& base, const TLinearBitmap* baseY, TLinearBitmap& shown) const;

 private:
  void MovePicked(int x, int level);
  void Redraw();

  ToneMap maps_[4];
  TMapperPlane plane_ = mpAll;
  TControlPoints points_;
  int picked_ = -1;
  int lastX_ = 0, lastLevel_ = 0;
};

// Height of a histogram bar in a panel of the given height, linear or square-root.
int HistogramBarHeight(uint32_t count, uint32_t largest, int panelHeight, bool squareRoot);

// "Mean: %.2f  Std dev: %.2f  Min: %d  Max: %d"
std::string HistogramStatisticsText(const LevelHistogram& histogram);
// "Level: %d -> %d" and "Pixel count: %d" for the level under the pointer.
std::string LevelText(int level, const ToneMap& map);
std::string PixelCountText(int level, const LevelHistogram& histogram);

}  // namespace sq
