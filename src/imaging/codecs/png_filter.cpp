#include "imaging/codecs/png_filter.h"

#include <cstdlib>
#include <cstring>

#include "base/exception.h"

namespace sq {

namespace {

// Of left, up and upper-left, the one nearest to left + up - upper-left; ties go
// to left, then up.
// Written with masks instead of branches: on photographs the choice is close to
// random, and mispredicted branches cost more than the whole computation.
inline uint8_t PaethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  const int takeB = -static_cast<int>(pb < pa);
  const int best = a ^ ((a ^ b) & takeB);
  const int bestDistance = pa ^ ((pa ^ pb) & takeB);
  const int takeC = -static_cast<int>(pc < bestDistance);
  return static_cast<uint8_t>(best ^ ((best ^ c) & takeC));
}

// The dependency on the byte bpp to the left is the bottleneck of Sub, Average and
// Paeth.  With a constant bpp the left (and upper-left) pixel stays in registers,
// and the channels form independent chains the processor can overlap.  Rows of
// these depths hold whole pixels.
template <int Bpp>
void UnfilterFixed(int filter, uint8_t* row, const uint8_t* prior, size_t size) {
  int left[Bpp] = {}, upperLeft[Bpp] = {};
  switch (filter) {
    case pngFilterSub:
      for (size_t i = 0; i + Bpp <= size; i += Bpp)
        for (int k = 0; k < Bpp; ++k) left[k] = row[i + k] = static_cast<uint8_t>(row[i + k] + left[k]);
      break;
    case pngFilterAverage:
      for (size_t i = 0; i + Bpp <= size; i += Bpp)
        for (int k = 0; k < Bpp; ++k)
          left[k] = row[i + k] = static_cast<uint8_t>(row[i + k] + ((left[k] + prior[i + k]) >> 1));
      break;
    case pngFilterPaeth:
      for (size_t i = 0; i + Bpp <= size; i += Bpp)
        for (int k = 0; k < Bpp; ++k) {
          const int up = prior[i + k];
          left[k] = row[i + k] = static_cast<uint8_t>(row[i + k] + PaethPredictor(left[k], up, upperLeft[k]));
          upperLeft[k] = up;
        }
      break;
  }
}

void UnfilterAny(int filter, uint8_t* row, const uint8_t* prior, size_t size, size_t bpp) {
  switch (filter) {
    case pngFilterSub:
      for (size_t i = bpp; i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
      break;
    case pngFilterAverage:
      for (size_t i = 0; i < bpp && i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + (prior[i] >> 1));
      for (size_t i = bpp; i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + prior[i]) >> 1));
      break;
    case pngFilterPaeth:
      for (size_t i = 0; i < bpp && i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
      for (size_t i = bpp; i < size; ++i)
        row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(row[i - bpp], prior[i], prior[i - bpp]));
      break;
  }
}

int64_t SignedSum(const uint8_t* p, size_t size) {
  int64_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum += std::abs(static_cast<int8_t>(p[i]));
  return sum;
}

int64_t MinusRuns(const uint8_t* p, size_t size) {
  int64_t runs = 0;
  for (size_t i = 4; i < size; ++i)
    if (p[i] == p[i - 1] && p[i] == p[i - 2] && p[i] == p[i - 3] && p[i] == p[i - 4]) ++runs;
  return -runs;
}

}  // namespace

void UnfilterPNGRow(int filter, uint8_t* row, const uint8_t* prior, size_t size, int bpp) {
  switch (filter) {
    case pngFilterNone:
      return;
    case pngFilterUp:
      for (size_t i = 0; i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
      return;
    case pngFilterSub:
    case pngFilterAverage:
    case pngFilterPaeth:
      break;
    default:
      throw EBadFormat("Invalid PNG data");
  }
  switch (bpp) {
    case 1:
      UnfilterFixed<1>(filter, row, prior, size);
      break;
    case 2:
      UnfilterFixed<2>(filter, row, prior, size);
      break;
    case 3:
      UnfilterFixed<3>(filter, row, prior, size);
      break;
    case 4:
      UnfilterFixed<4>(filter, row, prior, size);
      break;
    case 6:
      UnfilterFixed<6>(filter, row, prior, size);
      break;
    case 8:
      UnfilterFixed<8>(filter, row, prior, size);
      break;
    default:
      UnfilterAny(filter, row, prior, size, static_cast<size_t>(bpp));
      break;
  }
}

void FilterPNGRow(int filter, const uint8_t* row, const uint8_t* prior, size_t size, int bpp, uint8_t* out) {
  const size_t b = static_cast<size_t>(bpp) < size ? static_cast<size_t>(bpp) : size;
  switch (filter) {
    case pngFilterSub:
      std::memcpy(out, row, b);
      for (size_t i = b; i < size; ++i) out[i] = static_cast<uint8_t>(row[i] - row[i - b]);
      break;
    case pngFilterUp:
      for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(row[i] - prior[i]);
      break;
    case pngFilterAverage:
      for (size_t i = 0; i < b; ++i) out[i] = static_cast<uint8_t>(row[i] - (prior[i] >> 1));
      for (size_t i = b; i < size; ++i) out[i] = static_cast<uint8_t>(row[i] - ((row[i - b] + prior[i]) >> 1));
      break;
    case pngFilterPaeth:
      for (size_t i = 0; i < b; ++i) out[i] = static_cast<uint8_t>(row[i] - prior[i]);
      for (size_t i = b; i < size; ++i)
        out[i] = static_cast<uint8_t>(row[i] - PaethPredictor(row[i - b], prior[i], prior[i - b]));
      break;
    default:
      std::memcpy(out, row, size);
      break;
  }
}

int ChoosePNGFilter(int setting, const uint8_t* row, const uint8_t* prior, size_t size, int bpp, uint8_t* out,
                    uint8_t* scratch) {
  if (setting >= pngFilterNone && setting <= pngFilterPaeth) {
    FilterPNGRow(setting, row, prior, size, bpp, out);
    return setting;
  }
  int best = 0;
  int64_t bestCost = 0;
  for (int filter = pngFilterNone; filter <= pngFilterPaeth; ++filter) {
    uint8_t* candidate = scratch + static_cast<size_t>(filter) * size;
    FilterPNGRow(filter, row, prior, size, bpp, candidate);
    const int64_t cost = setting == -2 ? MinusRuns(candidate, size) : SignedSum(candidate, size);
    if (filter == pngFilterNone || cost < bestCost) {
      best = filter;
      bestCost = cost;
    }
  }
  std::memcpy(out, scratch + static_cast<size_t>(best) * size, size);
  return best;
}

}  // namespace sq
