#include "imaging/color_quantizer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "base/progress.h"
#include "base/rounding.h"
#include "imaging/linear_bitmap.h"

namespace sq {

namespace {

constexpr int kBits = 6;
constexpr int kBins = 1 << (3 * kBits);

inline uint32_t BinOf(const uint8_t* p) {
  constexpr int drop = 8 - kBits;
  return (uint32_t(p[2] >> drop) << (2 * kBits)) | (uint32_t(p[1] >> drop) << kBits) | uint32_t(p[0] >> drop);
}

// The colours that fall into one histogram bin.
struct TBin {
  double Count = 0;
  double Sum[3] = {};  // blue, green, red
  double SumSq = 0;
  double Mean(int c) const { return Sum[c] / Count; }
};

struct TBox {
  size_t Begin, End;  // range in the bin list
  double Error;       // summed squared distance of its colours from their mean
};

double BoxError(double count, const double* sum, double sumSq) {
  if (count <= 0) return 0;
  return sumSq - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / count;
}

double ErrorOf(const std::vector<TBin>& bins, const std::vector<uint32_t>& list, size_t begin, size_t end) {
  double count = 0, sum[3] = {}, sumSq = 0;
  for (size_t i = begin; i < end; ++i) {
    const TBin& b = bins[list[i]];
    count += b.Count;
    for (int c = 0; c < 3; ++c) sum[c] += b.Sum[c];
    sumSq += b.SumSq;
  }
  return BoxError(count, sum, sumSq);
}

// Splits a box where the two halves' error is least, along its widest channel.
std::pair<TBox, TBox> SplitBox(const std::vector<TBin>& bins, std::vector<uint32_t>& list, const TBox& box) {
  double count = 0, sum[3] = {}, sq[3] = {};
  for (size_t i = box.Begin; i < box.End; ++i) {
    const TBin& b = bins[list[i]];
    count += b.Count;
    for (int c = 0; c < 3; ++c) {
      sum[c] += b.Sum[c];
      sq[c] += b.Count * b.Mean(c) * b.Mean(c);
    }
  }
  int axis = 0;
  double widest = -1;
  for (int c = 0; c < 3; ++c) {
    const double spread = sq[c] - sum[c] * sum[c] / count;
    if (spread > widest) widest = spread, axis = c;
  }
  std::sort(list.begin() + static_cast<ptrdiff_t>(box.Begin), list.begin() + static_cast<ptrdiff_t>(box.End),
            [&](uint32_t a, uint32_t b) { return bins[a].Mean(axis) < bins[b].Mean(axis); });

  double leftCount = 0, leftSum[3] = {}, leftSq = 0, totalSq = 0;
  for (size_t i = box.Begin; i < box.End; ++i) totalSq += bins[list[i]].SumSq;
  double best = std::numeric_limits<double>::max();
  size_t cut = box.Begin + 1;
  for (size_t i = box.Begin; i + 1 < box.End; ++i) {
    const TBin& b = bins[list[i]];
    leftCount += b.Count;
    leftSq += b.SumSq;
    for (int c = 0; c < 3; ++c) leftSum[c] += b.Sum[c];
    const double rightSum[3] = {sum[0] - leftSum[0], sum[1] - leftSum[1], sum[2] - leftSum[2]};
    const double error = BoxError(leftCount, leftSum, leftSq) + BoxError(count - leftCount, rightSum, totalSq - leftSq);
    if (error < best) best = error, cut = i + 1;
  }
  return {TBox{box.Begin, cut, ErrorOf(bins, list, box.Begin, cut)},
          TBox{cut, box.End, ErrorOf(bins, list, cut, box.End)}};
}

int Nearest(const std::vector<std::array<double, 3>>& palette, const double* color) {
  int best = 0;
  double bestDistance = std::numeric_limits<double>::max();
  for (size_t i = 0; i < palette.size(); ++i) {
    const double d0 = palette[i][0] - color[0], d1 = palette[i][1] - color[1], d2 = palette[i][2] - color[2];
    const double distance = d0 * d0 + d1 * d1 + d2 * d2;
    if (distance < bestDistance) bestDistance = distance, best = static_cast<int>(i);
  }
  return best;
}

// Keeps the exact colours when there are few enough; false otherwise.
bool QuantizeExact(const TLinearBitmap& source, int maxColors, TLinearBitmap& result, int& used) {
  std::vector<uint64_t> seen((size_t(1) << 24) / 64, 0);
  std::vector<uint32_t> colors;
  const int ps = source.PixelSize;
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* p = source.ScanLine(y);
    for (int x = 0; x < source.Width; ++x, p += ps) {
      const uint32_t c = p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16);
      uint64_t& word = seen[c >> 6];
      const uint64_t bit = uint64_t(1) << (c & 63);
      if (word & bit) continue;
      word |= bit;
      colors.push_back(c);
      if (static_cast<int>(colors.size()) > maxColors) return false;
    }
  }
  std::sort(colors.begin(), colors.end());
  std::unordered_map<uint32_t, uint8_t> index;
  for (size_t i = 0; i < colors.size(); ++i) {
    index[colors[i]] = static_cast<uint8_t>(i);
    result.Palette[3 * i] = static_cast<uint8_t>(colors[i]);
    result.Palette[3 * i + 1] = static_cast<uint8_t>(colors[i] >> 8);
    result.Palette[3 * i + 2] = static_cast<uint8_t>(colors[i] >> 16);
  }
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* p = source.ScanLine(y);
    uint8_t* d = result.ScanLine(y);
    uint32_t last = 0xFFFFFFFF;
    uint8_t lastIndex = 0;
    for (int x = 0; x < source.Width; ++x, p += ps) {
      const uint32_t c = p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16);
      if (c != last) last = c, lastIndex = index[c];
      d[x] = lastIndex;
    }
  }
  used = static_cast<int>(colors.size());
  return true;
}

}  // namespace

int QuantizeColors(const TLinearBitmap& source, int maxColors, TLinearBitmap& target) {
  maxColors = Clamp(maxColors, 2, 256);
  const TLinearBitmap* image = &source;
  TLinearBitmap converted;
  if (source.PixelFormat != pf24bit && source.PixelFormat != pf32bit) {
    converted.Assign(source);
    converted.SetPixelFormat(pf24bit);
    image = &converted;
  }
  TLinearBitmap result(image->Width, image->Height, pf8bit);
  std::memset(result.Palette, 0, 768);
  int used = 0;
  if (QuantizeExact(*image, maxColors, result, used)) {
    target.TakeOver(result);
    return used;
  }

  // Histogram.
  const int ps = image->PixelSize;
  std::vector<TBin> bins(kBins);
  for (int y = 0; y < image->Height; ++y) {
    const uint8_t* p = image->ScanLine(y);
    for (int x = 0; x < image->Width; ++x, p += ps) {
      TBin& b = bins[BinOf(p)];
      b.Count += 1;
      for (int c = 0; c < 3; ++c) b.Sum[c] += p[c];
      b.SumSq += double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2];
    }
  }
  std::vector<uint32_t> list;
  for (uint32_t i = 0; i < kBins; ++i)
    if (bins[i].Count > 0) list.push_back(i);

  // Split the box of largest error until the palette is full.
  std::vector<TBox> boxes{TBox{0, list.size(), ErrorOf(bins, list, 0, list.size())}};
  while (static_cast<int>(boxes.size()) < maxColors) {
    int worst = -1;
    for (size_t i = 0; i < boxes.size(); ++i)
      if (boxes[i].End - boxes[i].Begin > 1 && (worst < 0 || boxes[i].Error > boxes[worst].Error))
        worst = static_cast<int>(i);
    if (worst < 0) break;
    auto [left, right] = SplitBox(bins, list, boxes[worst]);
    boxes[worst] = left;
    boxes.push_back(right);
  }
  std::vector<std::array<double, 3>> palette;
  for (const TBox& box : boxes) {
    double count = 0, sum[3] = {};
    for (size_t i = box.Begin; i < box.End; ++i) {
      count += bins[list[i]].Count;
      for (int c = 0; c < 3; ++c) sum[c] += bins[list[i]].Sum[c];
    }
    palette.push_back({sum[0] / count, sum[1] / count, sum[2] / count});
  }

  // A few k-means rounds move each entry to the mean of the colours nearest to it.
  std::vector<uint8_t> binIndex(kBins, 0);
  for (int round = 0; round < 3; ++round) {
    std::vector<std::array<double, 4>> sums(palette.size(), {0, 0, 0, 0});
    for (uint32_t bin : list) {
      const TBin& b = bins[bin];
      const double mean[3] = {b.Mean(0), b.Mean(1), b.Mean(2)};
      const int nearest = Nearest(palette, mean);
      binIndex[bin] = static_cast<uint8_t>(nearest);
      for (int c = 0; c < 3; ++c) sums[nearest][c] += b.Sum[c];
      sums[nearest][3] += b.Count;
    }
    if (round == 2) break;  // the last round only assigns
    for (size_t i = 0; i < palette.size(); ++i)
      if (sums[i][3] > 0)
        for (int c = 0; c < 3; ++c) palette[i][c] = sums[i][c] / sums[i][3];
  }

  for (size_t i = 0; i < palette.size(); ++i)
    for (int c = 0; c < 3; ++c) result.Palette[3 * i + c] = RoundToByte(palette[i][c]);
  for (int y = 0; y < image->Height; ++y) {
    const uint8_t* p = image->ScanLine(y);
    uint8_t* d = result.ScanLine(y);
    for (int x = 0; x < image->Width; ++x, p += ps) d[x] = binIndex[BinOf(p)];
    ReportRowProgress(y, image->Height);
  }
  target.TakeOver(result);
  return static_cast<int>(palette.size());
}

}  // namespace sq
