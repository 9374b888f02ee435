// The renderer's inner loops: rounding, triangle scan conversion and lines.  Kept in
// a header so that each shading kind gets its own compiled copy of the fill.
//
// Scan conversion follows the edge walk of a classic span rasteriser: the corners
// sorted by row, a long edge from top to bottom, a short edge from top to middle
// and one from middle to bottom, values advanced by one step per row and per pixel;
// the right end pixel of a span is not drawn, the bottom row is.  Rows above the
// frame are not walked one by one: the edges jump to row 0 directly, which keeps a
// vertex near the eye plane (projected millions of rows away) from stalling the
// drawing.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define SQ_RASTER_SSE 1
#endif

#include "model3d/frame32.h"
#include "model3d/renderer_parallel.h"

namespace sq::raster {

// Screen coordinates are kept within this range, so differences of two of them
// and their squares fit the integer types used below.
constexpr float kCoordLimit = 1.0e9f;

// Halves to even (the rounding of nearbyint in the default mode); NaN and values
// beyond the coordinate range are pinned to it.
inline int RoundCoord(float value) {
  value = value > -kCoordLimit ? (value < kCoordLimit ? value : kCoordLimit) : -kCoordLimit;
#ifdef SQ_RASTER_SSE
  return _mm_cvtss_si32(_mm_set_ss(value));
#else
  return static_cast<int>(std::nearbyint(value));
#endif
}

inline int RoundCoord(double value) {
  const double limit = kCoordLimit;
  value = value > -limit ? (value < limit ? value : limit) : -limit;
#ifdef SQ_RASTER_SSE
  return _mm_cvtsd_si32(_mm_set_sd(value));
#else
  return static_cast<int>(std::nearbyint(value));
#endif
}

// A colour channel rounded halves to even and kept within 0..255 (NaN gives 0); the
// same values as PackColor gives.
inline uint32_t RoundChannel(float value) {
  value = value > 0.0f ? (value < 255.0f ? value : 255.0f) : 0.0f;
#ifdef SQ_RASTER_SSE
  return static_cast<uint32_t>(_mm_cvtss_si32(_mm_set_ss(value)));
#else
  return static_cast<uint32_t>(std::nearbyint(value));
#endif
}

inline uint32_t PackChannels(float r, float g, float b) {
  return (RoundChannel(r) << 16) | (RoundChannel(g) << 8) | RoundChannel(b);
}

// A triangle corner: screen position and K interpolated values, V[0] the depth.
template <int K>
struct TCorner {
  int X;
  int Y;
  float V[K];
};

// Fills triangles for one thread's rows.  Shader supplies kValues (depth plus its
// attributes) and Plot(pixel, values), called for every pixel that passes the
// strict depth test.
template <class Shader>
class TTriangleFiller {
 public:
  static constexpr int K = Shader::kValues;
  using Corner = TCorner<K>;

  TTriangleFiller(const Frame32& frame, float* zbuffer, const TRowBands& bands, Shader& shader)
      : frame_(frame), zbuffer_(zbuffer), bands_(bands), shader_(shader) {}

  // Draws a triangle for which Covers said yes (or any triangle: one that covers no
  // pixel centre draws nothing either way).
  void Fill(const Corner& a, const Corner& b, const Corner& c) {
    const Corner *top, *middle, *bottom;
    if (!Sort(a, b, c, top, middle, bottom)) return;
    if (top->Y == bottom->Y) {
      Span<false>(top->Y, float(top->X), top->V, float(middle->X), middle->V);
      Span<false>(top->Y, float(middle->X), middle->V, float(bottom->X), bottom->V);
      return;
    }
    Walk<false>(*top, *middle, *bottom);
  }

  // Whether the triangle has a pixel in a row this thread owns.  It follows only the
  // columns of the edge walk, so most triangles of a dense mesh, which cover no pixel
  // centre, are left out before their depth and attributes are loaded.
  bool Covers(const Corner& a, const Corner& b, const Corner& c) {
    // Every edge stays on one column: every span is empty.
    if (a.X == b.X && b.X == c.X) return false;
    const Corner *top, *middle, *bottom;
    if (!Sort(a, b, c, top, middle, bottom)) return false;
    if (top->Y == bottom->Y)
      return Span<true>(top->Y, float(top->X), top->V, float(middle->X), middle->V) ||
             Span<true>(top->Y, float(middle->X), middle->V, float(bottom->X), bottom->V);
    return Walk<true>(*top, *middle, *bottom);
  }

 private:
  // Sorts by row (a corner moves up only past a strictly lower row); false when no
  // row of the triangle is in the frame and owned by this thread.
  bool Sort(const Corner& a, const Corner& b, const Corner& c, const Corner*& top, const Corner*& middle,
            const Corner*& bottom) const {
    top = &a;
    middle = &b;
    bottom = &c;
    if (middle->Y < top->Y) std::swap(top, middle);
    if (bottom->Y < middle->Y) {
      std::swap(middle, bottom);
      if (middle->Y < top->Y) std::swap(top, middle);
    }
    if (bottom->Y < 0 || top->Y >= frame_.Height) return false;
    return bands_.OwnsAnyOf(top->Y, bottom->Y);
  }

  struct Edge {
    float X;
    float DX;
    float V[K];
    float DV[K];
  };

  template <bool Probe>
  static void Start(Edge& edge, const Corner& from, const Corner& to, int rows) {
    edge.X = float(from.X);
    // An edge one row high, the usual one in a dense mesh, steps by the whole
    // difference (the quotient by 1), without the divisions.
    if (rows == 1) {
      edge.DX = float(to.X - from.X);
      if constexpr (!Probe) {
        for (int i = 0; i < K; ++i) {
          edge.V[i] = from.V[i];
          edge.DV[i] = to.V[i] - from.V[i];
        }
      }
      return;
    }
    edge.DX = float(to.X - from.X) / float(rows);
    if constexpr (!Probe) {
      for (int i = 0; i < K; ++i) {
        edge.V[i] = from.V[i];
        edge.DV[i] = (to.V[i] - from.V[i]) / float(rows);
      }
    }
  }

  template <bool Probe>
  static void Advance(Edge& edge) {
    edge.X += edge.DX;
    if constexpr (!Probe)
      for (int i = 0; i < K; ++i) edge.V[i] += edge.DV[i];
  }

  // The edge's values `steps` rows below its start (the jump over rows above the frame).
  template <bool Probe>
  static void Jump(Edge& edge, const Corner& from, int steps) {
    const float k = float(steps);
    edge.X = float(from.X) + edge.DX * k;
    if constexpr (!Probe)
      for (int i = 0; i < K; ++i) edge.V[i] = from.V[i] + edge.DV[i] * k;
  }

  // Walks the rows of a triangle that spans more than one row.  Probe only follows
  // the columns and tells whether some owned row has a span with pixels in the frame.
  template <bool Probe>
  bool Walk(const Corner& top, const Corner& middle, const Corner& bottom) {
    const int lastRow = bottom.Y < frame_.Height - 1 ? bottom.Y : frame_.Height - 1;
    Edge longEdge, upper, lower{};
    Start<Probe>(longEdge, top, bottom, bottom.Y - top.Y);
    const bool hasUpper = middle.Y > top.Y;
    const bool hasLower = bottom.Y > middle.Y;
    if (hasUpper) {
      Start<Probe>(upper, top, middle, middle.Y - top.Y);
    } else {
      // The upper edge is the flat top itself: it starts at the middle corner.
      upper.X = float(middle.X);
      upper.DX = 0.0f;
      if constexpr (!Probe) {
        for (int i = 0; i < K; ++i) {
          upper.V[i] = middle.V[i];
          upper.DV[i] = 0.0f;
        }
      }
    }
    if (hasLower) Start<Probe>(lower, middle, bottom, bottom.Y - middle.Y);

    int y = top.Y;
    bool lowerPlaced = false;
    if (y < 0) {
      Jump<Probe>(longEdge, top, -top.Y);
      if (middle.Y >= 0) {
        if (hasUpper) Jump<Probe>(upper, top, -top.Y);
      } else {
        Jump<Probe>(lower, middle, -middle.Y);
        lowerPlaced = true;
      }
      y = 0;
    }
    for (; y <= middle.Y; ++y) {
      if (y > lastRow) return false;
      if (bands_.Owns(y) && Span<Probe>(y, longEdge.X, longEdge.V, upper.X, upper.V) && Probe) return true;
      Advance<Probe>(longEdge);
      if (y < middle.Y) Advance<Probe>(upper);
    }
    if (!hasLower) return false;
    if (!lowerPlaced) {
      // The lower edge starts one row below the middle corner.
      lower.X = float(middle.X) + lower.DX;
      if constexpr (!Probe)
        for (int i = 0; i < K; ++i) lower.V[i] = middle.V[i] + lower.DV[i];
    }
    for (; y <= lastRow; ++y) {
      if (bands_.Owns(y) && Span<Probe>(y, longEdge.X, longEdge.V, lower.X, lower.V) && Probe) return true;
      Advance<Probe>(longEdge);
      Advance<Probe>(lower);
    }
    return false;
  }

  // The span between two edge positions on row y; the right end pixel is not drawn.
  // Returns whether it has pixels inside the frame.
  template <bool Probe>
  bool Span(int y, float x1, const float* v1, float x2, const float* v2) {
    const int a = RoundCoord(x1), b = RoundCoord(x2);
    if (a == b) return false;
    int left = a, right = b;
    const float* lv = v1;
    const float* rv = v2;
    if (b < a) {
      left = b;
      right = a;
      lv = v2;
      rv = v1;
    }
    const int from = left > 0 ? left : 0;
    const int to = right < frame_.Width ? right : frame_.Width;
    if (from >= to) return false;
    if constexpr (Probe) return true;

    float* depth = zbuffer_ + static_cast<ptrdiff_t>(y) * frame_.Width;
    uint32_t* pixels = frame_.Row(y);
    if (to - left == 1) {
      // A single pixel at the left end takes the left end's values: no steps needed.
      if (lv[0] > depth[left]) {
        depth[left] = lv[0];
        shader_.Plot(pixels[left], lv);
      }
      return true;
    }
    const float length = float(right - left);
    float v[K], dv[K];
    for (int i = 0; i < K; ++i) {
      dv[i] = (rv[i] - lv[i]) / length;
      v[i] = lv[i];
    }
    if (left < 0) {
      const float k = float(-left);
      for (int i = 0; i < K; ++i) v[i] += dv[i] * k;
    }
    for (int x = from; x < to; ++x) {
      if (v[0] > depth[x]) {
        depth[x] = v[0];
        shader_.Plot(pixels[x], v);
      }
      for (int i = 0; i < K; ++i) v[i] += dv[i];
    }
    return true;
  }

  const Frame32& frame_;
  float* zbuffer_;
  const TRowBands& bands_;
  Shader& shader_;
};

struct TProbeShader {
  static constexpr int kValues = 1;
  void Plot(uint32_t&, const float*) const {}
};

// Whether a triangle with these screen corners (any type with X and Y) has a pixel
// in a row bands owns; see TTriangleFiller::Covers.
template <class Point>
bool CoversPixels(const Point& a, const Point& b, const Point& c, const Frame32& frame, const TRowBands& bands) {
  TProbeShader shader;
  TTriangleFiller<TProbeShader> probe(frame, nullptr, bands, shader);
  return probe.Covers(TCorner<1>{a.X, a.Y, {0.0f}}, TCorner<1>{b.X, b.Y, {0.0f}}, TCorner<1>{c.X, c.Y, {0.0f}});
}

// Whether the span between columns x1 and x2 of a row in the frame has a pixel in
// it (the right end pixel is not drawn).
inline bool SpanInFrame(int x1, int x2, int width) {
  const int left = x1 < x2 ? x1 : x2, right = x1 < x2 ? x2 : x1;
  return (left != right) & (right > 0) & (left < width);
}

// CoversPixels for the rows of the whole frame, answered from the corners alone for
// a triangle one or two rows high (almost every triangle of a dense mesh).  Its edge
// walk then draws only spans between two corners on one row: on a single row the
// spans a-b and b-c (whose union holds a-c), on two rows the span between the two
// corners that share a row (the other row's span is empty).  Columns this small
// make every step of the walk exact in singles, so the spans end at the corners.
template <class Point>
[[gnu::noinline]] bool CoversPixelsInFrameSlow(const Point& a, const Point& b, const Point& c, const Frame32& frame) {
  return CoversPixels(a, b, c, frame, TRowBands(frame.Height, 1, 0));
}

// top and bottom are the lowest and highest row of the corners.
template <class Point>
[[gnu::always_inline]] inline bool CoversPixelsInFrame(const Point& a, const Point& b, const Point& c,
                                                       const Frame32& frame, int top, int bottom) {
  // Every edge on one column: every span is empty (most triangles of a dense mesh).
  if (a.X == b.X && b.X == c.X) return false;
  constexpr unsigned kSmall = 1u << 22;
  const auto near = [](int x) { return unsigned(x) + kSmall < 2 * kSmall; };
  if (bottom - top > 1 || !(near(a.X) & near(b.X) & near(c.X))) [[unlikely]]
    return CoversPixelsInFrameSlow(a, b, c, frame);
  const int width = frame.Width;
  const unsigned height = unsigned(frame.Height);
  const auto rowSpan = [&](const Point& p, const Point& q) {
    return (p.Y == q.Y) & (unsigned(p.Y) < height) & SpanInFrame(p.X, q.X, width);
  };
  return rowSpan(a, b) | rowSpan(b, c) | rowSpan(a, c);
}

}  // namespace sq::raster
