#include "imaging/ops/tone_map.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/exception.h"
#include "imaging/ops/filters_rows.h"

namespace sq {

ToneMap IdentityMap() {
  ToneMap map;
  for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
  return map;
}

void MakeLevelsMap(ToneMap& map, int black, int white) {
  for (int i = 0; i < std::min(black, 256); ++i) map[i] = 0;
  for (int i = std::max(white, 0); i <= 255; ++i) map[i] = 255;
  if (white <= black) return;
  for (int i = std::max(black, 0); i <= std::min(white, 255); ++i)
    map[i] = static_cast<uint8_t>(DivRoundEven(int64_t(i - black) * 255, int64_t(white) - black));
}

ToneMap MakeLevelsMap(int black, int white) {
  ToneMap map = IdentityMap();
  MakeLevelsMap(map, black, white);
  return map;
}

ToneMap MakeGammaMap(double gamma) {
  ToneMap map;
  const double exponent = 1 / gamma;
  map[0] = 0;
  for (int i = 1; i < 256; ++i) map[i] = RoundClampByte(255 * std::pow(i / 255.0, exponent));
  return map;
}

ToneMap MakeEqualizationMap(const LevelHistogram& histogram, int levels) {
  uint64_t total = 0;
  for (const uint32_t count : histogram.Counts) total += count;
  if (total == 0) return IdentityMap();
  const int64_t n = std::max(levels, 2);
  const double N = double(total);
  const int c0 = RoundEvenInt(histogram.Counts[0] * 255.0 / N);
  const int c = c0 == 255 ? 127 : c0;
  ToneMap map;
  map[0] = 0;
  map[255] = 255;
  uint64_t running = histogram.Counts[0];
  for (int i = 1; i <= 254; ++i) {
    running += histogram.Counts[i];
    const double x = (running * 255.0 / N - c) / (255 - c) * 255;
    const int64_t k = static_cast<int64_t>(n * x / 256);
    map[i] = static_cast<uint8_t>(std::clamp<int64_t>(k * 256 / (n - 1), 0, 255));
  }
  return map;
}

ToneMap MakeQuantizerMap(int levels) {
  const int64_t n = std::max(levels, 2);
  ToneMap map;
  for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(std::min<int64_t>(255, (i * n / 256) * 256 / (n - 1)));
  return map;
}

ToneMap MakeThresholdMap(int threshold) {
  ToneMap map;
  for (int i = 0; i < 256; ++i) {
    if (threshold >= 0)
      map[i] = i > threshold ? 255 : 0;
    else
      map[i] = i > -threshold ? 0 : 255;
  }
  return map;
}

ToneMap MakeZeroPointMap(int zero) {
  ToneMap map = IdentityMap();
  if (zero > 0)
    for (int i = 0; i <= std::min(zero, 255); ++i) map[i] = RoundClampByte(255 - double(i) / zero * 255);
  if (zero < 255)
    for (int i = std::max(zero, 0); i <= 255; ++i) map[i] = RoundClampByte(double(i - zero) / (255 - zero) * 255);
  return map;
}

TControlPoints MakeBrightnessContrastPoints(int b, int c) {
  if (c >= 75)
    return {{-std::max(0, b), 0},
            {114 - b, 40 - 2 * (c - 74)},
            {127 - b, 127},
            {141 - b, 215 + 2 * (c - 74)},
            {255 - std::min(0, b), 255}};
  if (c >= 0)
    return {{-std::max(0, b), 0}, {c + 40 - b, 40}, {127 - b, 127}, {215 - c - b, 215}, {255 - std::min(0, b), 255}};
  return {
      {-std::max(1, b - c), 0}, {c + 40 - b, 40}, {127 - b, 127}, {215 - c - b, 215}, {256 - std::min(0, c + b), 255}};
}

TControlPoints DefaultCurvePoints() { return {{0, 0}, {63, 63}, {127, 127}, {192, 192}, {255, 255}}; }

void DrawCurveThroughPoints(ToneMap& map, const TControlPoints& points) {
  const int n = static_cast<int>(points.size());
  if (n == 0) return;
  const int window = std::min(n, 4);
  for (int segment = 0; segment + 1 < n; ++segment) {
    // The four points around the segment: P[s-1..s+2] inside, the first or last
    // four at the ends; node 0 is the segment's start.
    const int first = std::clamp(segment - 1, 0, n - window);
    double node[4];
    for (int k = 0; k < window; ++k) node[k] = first + k - segment;
    for (int step = 1; step <= 384; ++step) {
      const double s = step / 384.0;
      double x = 0, y = 0;
      for (int k = 0; k < window; ++k) {
        double weight = 1;
        for (int j = 0; j < window; ++j)
          if (j != k) weight *= (s - node[j]) / (node[k] - node[j]);
        x += weight * points[size_t(first + k)].X;
        y += weight * points[size_t(first + k)].Y;
      }
      const double level = RoundEven(x);
      if (level >= 0 && level <= 255) map[size_t(level)] = RoundClampByte(y);
    }
  }
  for (const TControlPoint* p : {&points.front(), &points.back()})
    if (p->X >= 0 && p->X <= 255) map[size_t(p->X)] = static_cast<uint8_t>(std::clamp(p->Y, 0, 255));
}

double EstimateGamma(const LevelHistogram& histogram) {
  const ToneMap target = MakeEqualizationMap(histogram, 256);
  const double step = (2.5 - 0.6) / 511;
  double best = 1.0;
  int64_t bestSum = 0x7FFFFFFF;
  double gamma = 0.6;
  for (int candidate = 0; candidate < 512; ++candidate, gamma += step) {
    const ToneMap map = MakeGammaMap(gamma);
    int64_t sum = 0;
    for (int i = 0; i < 256; ++i) {
      const int d = map[i] - target[i];
      sum += d * d;
    }
    if (sum < bestSum) {
      bestSum = sum;
      best = gamma;
    }
  }
  // The candidates are summed step by step, so the last one can pass 2.5 by a hair.
  return std::min(best, 2.5);
}

void ComposeMaps(ToneMap& a, const ToneMap& b) {
  for (auto& entry : a) entry = b[entry];
}

void SmoothMap(ToneMap& map) {
  for (int i = 1; i <= 254; ++i) map[i] = static_cast<uint8_t>((map[i - 1] + 2 * map[i] + map[i + 1]) / 4);
}

void ApplyToneMap(const ToneMap& map, TLinearBitmap& bitmap, int plane) {
  if (bitmap.Present) ApplyToneMap(map, bitmap.Map, bitmap, plane);
}

void ApplyToneMap(const ToneMap& map, const uint8_t* source, TLinearBitmap& bitmap, int plane) {
  if (!bitmap.Present) return;
  const int ps = bitmap.PixelSize;
  const bool every = plane == kPlaneAll || ps == 1;
  if (!every && (plane < 0 || plane >= ps)) throw ELinearBitmap("Invalid color plane");
  const int length = bitmap.Width * ps;
  ForEachRow(bitmap.Height, length, false, [&](int y, int) {
    const uint8_t* in = source + ptrdiff_t(y) * bitmap.BytesPerLine;
    uint8_t* out = bitmap.ScanLine(y);
    if (every) {
      for (int i = 0; i < length; ++i) out[i] = map[in[i]];
    } else {
      for (int i = plane; i < length; i += ps) out[i] = map[in[i]];
    }
  });
}

void GammaSaturate(TLinearBitmap& bitmap, double gammaBlue, double gammaGreen, double gammaRed, double saturation) {
  if (!bitmap.Present) return;
  if (bitmap.PixelFormat != pf24bit) {
    if (gammaRed != 0 && gammaRed != 1) ApplyToneMap(MakeGammaMap(gammaRed), bitmap, kPlaneAll);
    return;
  }
  const double redExponent = 1 / gammaRed;
  const double exponents[3] = {gammaBlue == 0 ? redExponent : 1 / gammaBlue,
                               gammaGreen == 0 ? redExponent : 1 / gammaGreen, redExponent};
  double tables[3][256];
  for (int c = 0; c < 3; ++c) {
    tables[c][0] = 0;
    for (int i = 1; i < 256; ++i) tables[c][i] = 255 * std::pow(i / 255.0, exponents[c]);
  }
  ForEachRow(bitmap.Height, bitmap.Width * 3, true, [&](int y, int) {
    uint8_t* p = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width; ++x, p += 3) {
      const double b = tables[0][p[0]], g = tables[1][p[1]], r = tables[2][p[2]];
      const double level = (2 * r + 3 * g + b) / 6;
      p[0] = RoundClampByte((b - level) * saturation + level);
      p[1] = RoundClampByte((g - level) * saturation + level);
      p[2] = RoundClampByte((r - level) * saturation + level);
    }
  });
}

}  // namespace sq
