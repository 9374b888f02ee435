#include "recon/dispersion_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SQ_HAVE_X86 1
#endif

#include "base/cpu_features.h"
#include "base/exception.h"
#include "base/parallel.h"
#include "recon/warp_bitmap.h"

namespace sq {

// Format notes.  Cell (i, j) of a row's table matches the first i pixels of the
// image-1 span with the first j of the image-2 span; it depends on (i-1, j-1),
// (i-1, j) and (i, j-1) only.  The cells of one anti-diagonal i + j = d are
// therefore independent, and the table is filled diagonal by diagonal: each cell
// is computed with exactly the operations of the row-by-row recurrence, so the
// bits are the same, but a whole diagonal runs through vector registers.  Only the
// last two diagonals of costs are kept; the moves are kept for every cell, packed
// diagonal after diagonal, for the trace back.
//
// Most cells cannot matter.  Every cost is a sum of terms >= 0, and a path through
// cell (i, j) leaves at least |i - j| + |(n1 - n2) - (i - j)| pixels unmatched, so
// its price is at least that many occlusions, Phi(i - j).  Given the price U of any
// one path, a cell with Phi > U can never give the smallest candidate of a cell on,
// or feeding, the traced path: skipping it (its cost taken as infinite) leaves
// every such cost and move, and so the map and the price, exactly as they were.
// A row is first filled in a band of i - j around the straight path; the band's
// own price is such a U, and when a skipped cell could still come within it, the
// row is filled again in the band that U allows.  The margin of 1e-9 on U covers
// the roundings of the sums many times over.

namespace {

// One anti-diagonal's inner cells, every pointer at the diagonal's first cell.
// Pixels are packed as 0x00RRGGBB words.
struct TDiagonal {
  const uint32_t* P;    // the image-1 pixel of each cell
  const uint32_t* Q;    // the image-2 pixel of each cell
  const double* Diag;   // cost(i - 1, j - 1)
  const double* Skip1;  // cost(i - 1, j); cost(i, j - 1) is the next entry
  double* Cost;         // cost(i, j)
  uint8_t* Moves;       // move(i, j)
  const double* Entry;  // Entry[delta] = delta * K for delta = 0 ... 255
  int Count;
  double K;
  double Occlusion;
};

using TDiagonalKernel = void (*)(TDiagonal);

inline uint32_t ByteDifference(uint32_t p, uint32_t q, int shift) {
  const int a = (p >> shift) & 0xFF, b = (q >> shift) & 0xFF;
  return static_cast<uint32_t>(a > b ? a - b : b - a);
}

// Moves: 1 both pixels matched, 2 the image-1 pixel unmatched, 3 the image-2 pixel
// unmatched.  Ties go to 3 first, then to 2: a match must be strictly cheapest.
inline void Cell(const TDiagonal& g, int t) {
  const uint32_t p = g.P[t], q = g.Q[t];
  const double m =
      g.Entry[ByteDifference(p, q, 0)] + g.Entry[ByteDifference(p, q, 8)] + g.Entry[ByteDifference(p, q, 16)];
  const double d = g.Diag[t] + m, a = g.Skip1[t] + g.Occlusion, b = g.Skip1[t + 1] + g.Occlusion;
  const double x = d < a ? d : a;
  const bool takeX = x < b;
  g.Cost[t] = takeX ? x : b;
  g.Moves[t] = takeX ? (d < a ? 1 : 2) : 3;
}

// The kernels take the descriptor by value: a local copy cannot be changed by the
// stores through Cost and Moves, so its pointers stay in registers.
void DiagonalScalar(const TDiagonal g) {
  for (int t = 0; t < g.Count; ++t) Cell(g, t);
}

#ifdef SQ_HAVE_X86
// The four move bytes of a vector of cells from the two comparison masks: bit l of
// the low nibble is "diagonal beats skip 1" in lane l, of the high nibble "the
// better of those beats skip 2".
constexpr std::array<uint32_t, 256> MakeMoveWords() {
  std::array<uint32_t, 256> words{};
  for (uint32_t bits = 0; bits < 256; ++bits)
    for (uint32_t lane = 0; lane < 4; ++lane) {
      const bool diagonal = (bits >> lane) & 1, takeX = (bits >> (lane + 4)) & 1;
      const uint32_t move = takeX ? (diagonal ? 1 : 2) : 3;
      words[bits] |= move << (8 * lane);
    }
  return words;
}
constexpr std::array<uint32_t, 256> kMoveWords = MakeMoveWords();

// Four cells per step.  The byte differences of the packed pixels are exact small
// integers, so converting and scaling them gives the table's entries.
__attribute__((target("avx2"))) void DiagonalAvx2(const TDiagonal g) {
  const __m256d k = _mm256_set1_pd(g.K), occlusion = _mm256_set1_pd(g.Occlusion);
  const __m128i low = _mm_set1_epi32(0xFF);
  int t = 0;
  for (; t + 4 <= g.Count; t += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.P + t));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.Q + t));
    const __m128i delta = _mm_or_si128(_mm_subs_epu8(p, q), _mm_subs_epu8(q, p));
    const __m256d blue = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(delta, low)), k);
    const __m256d green = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(delta, 8), low)), k);
    const __m256d red = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_srli_epi32(delta, 16)), k);
    const __m256d m = _mm256_add_pd(_mm256_add_pd(blue, green), red);
    const __m256d d = _mm256_add_pd(_mm256_loadu_pd(g.Diag + t), m);
    const __m256d a = _mm256_add_pd(_mm256_loadu_pd(g.Skip1 + t), occlusion);
    const __m256d b = _mm256_add_pd(_mm256_loadu_pd(g.Skip1 + t + 1), occlusion);
    // min(u, v) is u < v ? u : v, exactly the choices of the recurrence.
    const __m256d x = _mm256_min_pd(d, a);
    _mm256_storeu_pd(g.Cost + t, _mm256_min_pd(x, b));
    const int bits = _mm256_movemask_pd(_mm256_cmp_pd(d, a, _CMP_LT_OQ)) |
                     (_mm256_movemask_pd(_mm256_cmp_pd(x, b, _CMP_LT_OQ)) << 4);
    std::memcpy(g.Moves + t, &kMoveWords[static_cast<size_t>(bits)], 4);
  }
  for (; t < g.Count; ++t) Cell(g, t);
}
#endif

// A diagonal kernel and the cells it takes at a time.
struct TKernel {
  TDiagonalKernel Fill;
  int Lanes;
};

TKernel KernelFor(TDispersionKernel kernel) {
  if (!DispersionKernelAvailable(kernel)) throw Exception("This processor cannot run the chosen kernel");
#ifdef SQ_HAVE_X86
  if (kernel != TDispersionKernel::Scalar && DispersionKernelAvailable(TDispersionKernel::Avx2))
    return {DiagonalAvx2, 4};
#endif
  return {DiagonalScalar, 1};
}

// The cells a fill computes: the inner cells whose i - j lies in [Low, High].
struct TBand {
  int Low;
  int High;
};

// Working memory of one thread, sized for rows of w pixels.
struct TScratch {
  explicit TScratch(int w)
      : Pixels(2 * static_cast<size_t>(w)),
        Costs(3 * static_cast<size_t>(w)),
        Moves(static_cast<size_t>(w) * static_cast<size_t>(w)),
        Base(2 * static_cast<size_t>(w)) {}
  std::vector<uint32_t> Pixels;  // the image-1 span, then the image-2 span reversed
  std::vector<double> Costs;     // three rolling diagonals, indexed by i
  std::vector<uint8_t> Moves;    // the inner cells, diagonal after diagonal
  std::vector<int64_t> Base;     // move(i, j) = Moves[Base[i + j] + i]
  int BandGuess = 32;            // half width of the first band: the last row's need
};

struct TRowJob {
  int Width;
  uint32_t Background;
  double K;
  double Occlusion;
  TKernel Kernel;
  std::array<double, 256> Entry;  // |delta| * K
};

// Fills the moves of the band's cells of one row's table; returns the cost of the
// last cell, the price of the best matching in the band.
double FillTable(const TRowJob& job, int n1, int n2, TBand band, TScratch& s) {
  constexpr double kSkipped = std::numeric_limits<double>::infinity();
  const size_t w = static_cast<size_t>(job.Width);
  double* diagonals[3] = {s.Costs.data(), s.Costs.data() + w, s.Costs.data() + 2 * w};
  double *before = diagonals[0], *last = diagonals[1], *current = diagonals[2];
  const double occlusion = job.Occlusion;
  // Border: cost(i, 0) = i * occlusion and cost(0, j) = j * occlusion.
  before[0] = 0 * occlusion;
  if (n2 > 1) last[0] = 1 * occlusion;
  if (n1 > 1) last[1] = 1 * occlusion;
  int64_t offset = 0;
  for (int d = 2; d <= (n1 - 1) + (n2 - 1); ++d) {
    if (d <= n2 - 1) current[0] = d * occlusion;
    if (d <= n1 - 1) current[d] = d * occlusion;
    // Inner cells of the diagonal, and those of them in the band (i - j = 2i - d).
    const int lo = std::max(1, d - (n2 - 1)), hi = std::min(n1 - 1, d - 1);
    const int first = std::max(lo, (d + band.Low + 1) >> 1);
    int end = std::min(hi, (d + band.High) >> 1);
    // A kernel that takes cells a vector at a time fills whole vectors where the
    // table has room: the cells past the band are computed for real, not skipped,
    // which is as exact (see the notes at the top) and cheaper than a scalar tail.
    if (const int lanes = job.Kernel.Lanes; lanes > 1 && first <= end)
      end = std::min(hi, first + (end - first + lanes) / lanes * lanes - 1);
    if (first > end) {
      std::fill(current + std::min(lo, hi + 1), current + hi + 1, kSkipped);
    } else {
      // Skipped neighbours that the next diagonals read.
      if (first - 1 >= lo) current[first - 1] = kSkipped;
      if (end + 1 <= hi) current[end + 1] = kSkipped;
      TDiagonal g;
      g.P = s.Pixels.data() + first;
      // Image 2 is stored reversed, so that j = d - i falls as i rises.
      g.Q = s.Pixels.data() + w + (n2 - 1 - d + first);
      g.Entry = job.Entry.data();
      g.Diag = before + first - 1;
      g.Skip1 = last + first - 1;
      g.Cost = current + first;
      g.Moves = s.Moves.data() + offset;
      g.Count = end - first + 1;
      g.K = job.K;
      g.Occlusion = occlusion;
      job.Kernel.Fill(g);
      s.Base[static_cast<size_t>(d)] = offset - first;
      offset += g.Count;
    }
    std::swap(before, last);
    std::swap(last, current);
  }
  if (n1 == 1) return (n2 - 1) * occlusion;
  if (n2 == 1) return (n1 - 1) * occlusion;
  return last[n1 - 1];
}

// Fills the table in a band wide enough to give the exact price and moves of the
// best matching (see the notes at the top).
double FillRelevantCells(const TRowJob& job, int n1, int n2, TScratch& s) {
  const TBand all{-(n2 - 1), n1 - 1};
  const double occlusion = job.Occlusion;
  // Bounds need terms >= 0; without a price for skipping, every cell may matter.
  if (!(occlusion > 0 && job.K >= 0 && std::isfinite(occlusion) && std::isfinite(job.K)))
    return FillTable(job, n1, n2, all, s);
  const int e = n1 - n2;
  auto bandOf = [&](int64_t halfWidth) {
    return TBand{static_cast<int>(std::max<int64_t>(all.Low, std::min(0, e) - halfWidth)),
                 static_cast<int>(std::min<int64_t>(all.High, std::max(0, e) + halfWidth))};
  };
  // The half width the price U allows: Phi(delta) = (|e| + 2 distance) occlusion
  // for delta at that distance outside [min(0, e), max(0, e)].
  auto allowed = [&](double price) {
    const double distance = (price * (1 + 1e-9) / occlusion - std::abs(e)) / 2;
    return distance >= n1 + n2 ? int64_t(n1) + n2 : static_cast<int64_t>(std::floor(distance));
  };
  TBand band = bandOf(s.BandGuess);
  double price = FillTable(job, n1, n2, band, s);
  const int64_t need = allowed(price);
  if ((band.Low > all.Low && std::min(0, e) - need < band.Low) ||
      (band.High < all.High && std::max(0, e) + need > band.High)) {
    band = bandOf(need);
    price = FillTable(job, n1, n2, band, s);
  }
  s.BandGuess = static_cast<int>(std::clamp<int64_t>(allowed(price) + 4, 8, int64_t(n1) + n2));
  return price;
}

// Returns the price of the row's best matching, NaN for a row without image data.
double MatchRow(const TRowJob& job, const uint8_t* row1, const uint8_t* row2, double* out, TScratch& s) {
  // Step 1: the spans that hold image data.
  int a1 = 0, b1 = job.Width - 1, a2 = 0, b2 = job.Width - 1;
  FindRowSpan(row1, a1, b1, job.Background);
  FindRowSpan(row2, a2, b2, job.Background);
  const int n1 = b1 - a1 + 1, n2 = b2 - a2 + 1;
  if (n1 < 1 || n2 < 1) return std::numeric_limits<double>::quiet_NaN();

  // Step 2: the pixels as packed words.  Cell (i, j) compares image-1 pixel
  // a1 + i - 1 with image-2 pixel a2 + j - 1: the last pixel of each span is
  // never compared.
  uint32_t* p = s.Pixels.data();
  for (int i = 1; i < n1; ++i) p[i] = PixelValue(row1 + 3 * (a1 + i - 1));
  uint32_t* q = s.Pixels.data() + job.Width;
  for (int t = 0; t + 1 < n2; ++t) q[t] = PixelValue(row2 + 3 * (a2 + n2 - 2 - t));

  // Step 3: fill the table where it matters.
  const double price = FillRelevantCells(job, n1, n2, s);

  // Step 4: trace back from the last cell.  The border cells (i, 0) skip image-1
  // pixels and (0, j) image-2 pixels, so every path ends at (0, 0) and every
  // column of the image-1 span is written; the last write of a column stays.
  int i = n1 - 1, j = n2 - 1;
  while (i >= 0 && j >= 0) {
    out[a1 + i] = (a1 + i) - (a2 + j);
    const int move = i == 0 ? 3 : (j == 0 ? 2 : s.Moves[static_cast<size_t>(s.Base[static_cast<size_t>(i + j)] + i)]);
    switch (move) {
      case 1:
        --i;
        --j;
        break;
      case 2:
        --i;
        break;
      case 3:
        --j;
        break;
      default:
        throw Exception("Invalid M value");
    }
  }
  return price;
}

}  // namespace

void FindRowSpan(const uint8_t* row, int& first, int& last, uint32_t background) {
  while (first <= last && PixelValue(row + 3 * first) == background) ++first;
  while (last >= first && PixelValue(row + 3 * last) == background) --last;
}

bool DispersionKernelAvailable(TDispersionKernel kernel) {
#ifdef SQ_HAVE_X86
  return kernel != TDispersionKernel::Avx2 || HaveAvx2();
#else
  return kernel != TDispersionKernel::Avx2;
#endif
}

void ComputeDispersionMapWith(const TLinearBitmap& image1, const TLinearBitmap& image2, TFloatMap& map,
                              uint32_t background, double spread, double occlusion, TDispersionKernel kernel,
                              int workers, std::vector<double>* rowPrices) {
  if (spread == 0.0) throw EZeroDivide();
  if (!image1.Present || !image2.Present) throw Exception("The dispersion map needs two images");
  if (image1.Width != image2.Width || image1.Height != image2.Height)
    throw Exception("The images of a dispersion map must have the same size");
  // Everything is read as 24-bit pixels, so that the background colour is found
  // whatever the format.
  TLinearBitmap converted1, converted2;
  const TLinearBitmap* im1 = &image1;
  const TLinearBitmap* im2 = &image2;
  if (image1.PixelFormat != pf24bit) {
    converted1.Assign(image1);
    converted1.SetPixelFormat(pf24bit);
    im1 = &converted1;
  }
  if (image2.PixelFormat != pf24bit) {
    converted2.Assign(image2);
    converted2.SetPixelFormat(pf24bit);
    im2 = &converted2;
  }

  TRowJob job{image1.Width, background, 1.0 / (3.0 * spread), occlusion, KernelFor(kernel), {}};
  for (int delta = 0; delta < 256; ++delta) job.Entry[static_cast<size_t>(delta)] = delta * job.K;
  map.SetSize(image1.Width, image1.Height);
  workers = std::max(1, std::min(workers, image1.Height));
  std::vector<std::unique_ptr<TScratch>> scratch(static_cast<size_t>(workers));
  if (rowPrices) rowPrices->assign(static_cast<size_t>(image1.Height), 0.0);
  ForEachRow(image1.Height, workers, [&](int y, int worker) {
    auto& s = scratch[static_cast<size_t>(worker)];
    if (!s) s = std::make_unique<TScratch>(job.Width);
    // Each row is cleared by the worker that fills it: its pages are first touched
    // on both cores, and the row is in cache when matched.
    double* const out = map.ScanLine(y);
    std::fill(out, out + job.Width, 0.0);
    const double price = MatchRow(job, im1->ScanLine(y), im2->ScanLine(y), out, *s);
    if (rowPrices) (*rowPrices)[static_cast<size_t>(y)] = price;
  });
}

void ComputeDispersionMap(const TLinearBitmap& image1, const TLinearBitmap& image2, TFloatMap& map, uint32_t background,
                          double spread, double occlusion) {
  ComputeDispersionMapWith(image1, image2, map, background, spread, occlusion, TDispersionKernel::Auto,
                           RowWorkerCount(image1.Height), nullptr);
}

}  // namespace sq
