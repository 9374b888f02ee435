// The tone-map library shared by the colour mapper and the auto colour correction:
// 256-entry look-up tables built from presets, control points or histograms, and
// their application to colour planes.
#pragma once

#include <vector>

#include "imaging/histogram.h"

namespace sq {

ToneMap IdentityMap();

// Entries below black become 0, entries from white up 255, and when white > black
// the entries between (and at) them the straight line round((i - black) * 255 /
// (white - black)).  With white <= black only the two fills happen (the 255 fill
// last) and the entries between keep their values.
void MakeLevelsMap(ToneMap& map, int black, int white);
ToneMap MakeLevelsMap(int black, int white);

// Entry i = round(255 * (i / 255)^(1 / gamma)), entry 0 = 0.
ToneMap MakeGammaMap(double gamma);

// Output levels spread in proportion to the cumulative count, starting from the share
// of level 0, quantised to levels steps (2..256; fewer are taken as 2).  An empty
// histogram gives the identity.
ToneMap MakeEqualizationMap(const LevelHistogram& histogram, int levels);

// levels (2..256; fewer are taken as 2) evenly spaced output levels.
ToneMap MakeQuantizerMap(int levels);

// t >= 0: 255 above t, else 0; t < 0: 0 above -t, else 255.
ToneMap MakeThresholdMap(int threshold);

// Falls from 255 at level 0 to 0 at level zero, then rises to 255 at level 255.
ToneMap MakeZeroPointMap(int zero);

struct TControlPoint {
  int X = 0;
  int Y = 0;
};
using TControlPoints = std::vector<TControlPoint>;

// Five control points for brightness b and contrast c (both -127..127).
TControlPoints MakeBrightnessContrastPoints(int brightness, int contrast);

// The five points of the "Define curve" preset: the identity's.
TControlPoints DefaultCurvePoints();

// Piecewise cubic Lagrange interpolation through points ordered by x: each segment is
// traced with 384 samples of the cubic through the four neighbouring points; entries
// that no sample reaches keep their values.
void DrawCurveThroughPoints(ToneMap& map, const TControlPoints& points);

// The gamma in 0.6 .. 2.5 whose gamma map is closest (least squares) to the
// histogram's equalization map.
double EstimateGamma(const LevelHistogram& histogram);

// a[i] := b[a[i]]: a followed by b.
void ComposeMaps(ToneMap& a, const ToneMap& b);

// "&Smooth" of the colour mapper: entries 1..254 in order become (left + 2 self +
// right) div 4, each step seeing the smoothed left neighbour.
void SmoothMap(ToneMap& map);

// Replaces every byte of the plane (kPlaneAll: every byte) by map[byte].
void ApplyToneMap(const ToneMap& map, TLinearBitmap& bitmap, int plane);
// Writes map[source byte] into the bitmap for the plane's bytes; source holds a pixel
// block laid out like the bitmap's (the colour mapper's base pixels).
void ApplyToneMap(const ToneMap& map, const uint8_t* source, TLinearBitmap& bitmap, int plane);

// pf24bit: every channel through 255 * (level / 255)^(1 / gamma) (a zero blue or
// green gamma takes red's), then the distance of each channel from the grey level
// (2R + 3G + B) / 6 multiplied by saturation.  Other images: red's gamma map on every
// byte when that gamma is neither 0 nor 1.
void GammaSaturate(TLinearBitmap& bitmap, double gammaBlue, double gammaGreen, double gammaRed, double saturation);

}  // namespace sq
