// Greedy shortest-edge triangulation over two images.
//
// Why one sweep reproduces the greedy rounds: every round takes, among the pairs
// not yet taken, the one of least (D, scan order) that crosses no accepted edge in
// either image.  Edges are only ever added, so a pair that crosses an accepted edge
// crosses it for good, and a pair that passes against a set of edges also passes
// against any subset of it.  Walking the pairs in (D, scan order) and accepting each
// one that passes against the edges accepted so far therefore accepts the same
// edges in the same order.  Pairs at D >= kMaxEdgeDistance are never candidates.
//
// Why the grid finds every crossing: the crossing test intersects the two lines,
// truncates the intersection to integers and asks whether that point lies in both
// bounding boxes.  The exact intersection is then less than one unit (per axis)
// outside each box, which puts it within sqrt(2) of both segments.  A cell therefore
// holds every edge passing within kMargin > sqrt(2) of it, and a query visits every
// cell within kMargin of the candidate: any edge the test could accept is met.
#include "project/triangulation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace sq {

namespace {

struct Pt {
  int32_t x;
  int32_t y;
};

// Within this bound every product of the crossing and inside tests fits 63 bits
// (|c1 * b2| <= 4R^2 * 2R); beyond it the tests run in 128 bits.
constexpr int64_t kNarrowLimit = int64_t(1) << 19;
using Wide = __int128;

// Combined squared length of the pair's two segments, in 64 bits: a 32-bit sum would
// wrap once coordinates differ by about 23,000 and let far pairs pass as short ones.
// kMaxEdgeDistance stands for anything at or beyond the limit.
int64_t CombinedDistance(const PointPair& a, const PointPair& b) {
  const int64_t d[4] = {int64_t{a.x1} - b.x1, int64_t{a.y1} - b.y1, int64_t{a.x2} - b.x2, int64_t{a.y2} - b.y2};
  int64_t sum = 0;
  for (int64_t v : d) {
    if (v > 65535 || v < -65535) return kMaxEdgeDistance;
    sum += v * v;
  }
  return std::min(sum, kMaxEdgeDistance);
}

// The line-intersection test of two edges in one image; parallel and collinear
// edges never cross.
template <class T>
bool Crosses(Pt i, Pt j, Pt p, Pt q) {
  // The truncated intersection must lie in both boxes, so boxes that do not meet
  // settle the test without the two divisions.
  if (std::max(i.x, j.x) < std::min(p.x, q.x) || std::max(p.x, q.x) < std::min(i.x, j.x) ||
      std::max(i.y, j.y) < std::min(p.y, q.y) || std::max(p.y, q.y) < std::min(i.y, j.y))
    return false;
  const T a1 = T(i.y) - j.y, b1 = T(j.x) - i.x, c1 = T(i.x) * a1 + T(i.y) * b1;
  const T a2 = T(p.y) - q.y, b2 = T(q.x) - p.x, c2 = T(p.x) * a2 + T(p.y) * b2;
  const T det = a1 * b2 - a2 * b1;
  if (det == 0) return false;
  const T x = (c1 * b2 - c2 * b1) / det;
  const T y = (a1 * c2 - a2 * c1) / det;
  return x >= std::min(i.x, j.x) && x <= std::max(i.x, j.x) && x >= std::min(p.x, q.x) && x <= std::max(p.x, q.x) &&
         y >= std::min(i.y, j.y) && y <= std::max(i.y, j.y) && y >= std::min(p.y, q.y) && y <= std::max(p.y, q.y);
}

// Side value of p against the directed side a -> b; p is inside a triangle when all
// three of its side values are <= 0.
template <class T>
T Side(Pt a, Pt b, Pt p) {
  return (T(a.x) - p.x) * (T(a.y) - b.y) + (T(a.y) - p.y) * (T(b.x) - a.x);
}

// A uniform grid over one image's points that lists, per cell, the accepted edges
// passing near it.
class TEdgeGrid {
 public:
  static constexpr double kMargin = 3.0;

  explicit TEdgeGrid(const std::vector<Pt>& points) {
    int32_t xmin = points[0].x, xmax = xmin, ymin = points[0].y, ymax = ymin;
    for (const Pt& p : points) {
      xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x);
      ymin = std::min(ymin, p.y), ymax = std::max(ymax, p.y);
    }
    const double width = double(xmax) - xmin + 1, height = double(ymax) - ymin + 1;
    // About one cell per point, shaped like the points' extent.
    const double n = static_cast<double>(points.size());
    cols_ = std::clamp(static_cast<int>(std::sqrt(n * width / height)), 1, 256);
    rows_ = std::clamp(static_cast<int>(std::sqrt(n * height / width)), 1, 256);
    originX_ = xmin;
    originY_ = ymin;
    cellWidth_ = width / cols_;
    cellHeight_ = height / rows_;
    cells_.resize(static_cast<size_t>(cols_) * rows_);
  }

  void Add(int edge, Pt a, Pt b) {
    VisitCells(a, b, [&](int cell) {
      cells_[static_cast<size_t>(cell)].push_back(edge);
      return false;
    });
  }

  const std::vector<int>& Cell(int cell) const { return cells_[static_cast<size_t>(cell)]; }

  // Calls visit(cell) for every cell within kMargin of segment a-b until it returns
  // true; returns whether it did.
  template <class Visit>
  bool VisitCells(Pt a, Pt b, Visit&& visit) const {
    const double ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const double segLo = std::min(ax, bx), segHi = std::max(ax, bx);
    const int c0 = Column(segLo - kMargin), c1 = Column(segHi + kMargin);
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (int c = c0; c <= c1; ++c) {
      // Column and Row clamp, so the outer columns and rows reach to infinity.
      const double x0 = c == 0 ? -inf : originX_ + c * cellWidth_;
      const double x1 = c == cols_ - 1 ? inf : originX_ + (c + 1) * cellWidth_;
      // The part of the segment whose neighbourhood reaches into this column.
      double u0 = std::min(std::max(x0 - kMargin, segLo), segHi);
      double u1 = std::max(std::min(x1 + kMargin, segHi), segLo);
      if (u0 > u1) std::swap(u0, u1);
      double yLo, yHi;
      if (ax == bx) {
        yLo = std::min(ay, by), yHi = std::max(ay, by);
      } else {
        const double slope = (by - ay) / (bx - ax);
        const double y0 = ay + (u0 - ax) * slope, y1 = ay + (u1 - ax) * slope;
        yLo = std::min(y0, y1), yHi = std::max(y0, y1);
      }
      const int r0 = Row(yLo - kMargin), r1 = Row(yHi + kMargin);
      for (int r = r0; r <= r1; ++r)
        if (visit(r * cols_ + c)) return true;
    }
    return false;
  }

 private:
  static int Clamped(double v, int count) {
    if (!(v >= 0)) return 0;
    if (v >= count) return count - 1;
    return static_cast<int>(v);
  }
  int Column(double x) const { return Clamped((x - originX_) / cellWidth_, cols_); }
  int Row(double y) const { return Clamped((y - originY_) / cellHeight_, rows_); }

  int cols_ = 1, rows_ = 1;
  double originX_ = 0, originY_ = 0, cellWidth_ = 1, cellHeight_ = 1;
  std::vector<std::vector<int>> cells_;
};

// The lower index i of the first pair (i, j) in scan order that shares a position
// in either image; 0 when all positions are distinct.
int FirstDuplicate(std::span<const PointPair> points) {
  const int n = static_cast<int>(points.size());
  for (int i = 0; i < n - 1; ++i)
    for (int j = i + 1; j < n; ++j) {
      const PointPair &a = points[static_cast<size_t>(i)], &b = points[static_cast<size_t>(j)];
      if ((a.x1 == b.x1 && a.y1 == b.y1) || (a.x2 == b.x2 && a.y2 == b.y2)) return i + 1;
    }
  return 0;
}

struct TBlocker {
  int Edge = -1;
  int Image = 0;
};

template <class T>
class TMeshBuilder {
 public:
  explicit TMeshBuilder(std::span<const PointPair> points)
      : n_(static_cast<int>(points.size())), blocker_(points.size()) {
    for (const PointPair& p : points) {
      image_[0].push_back({p.x1, p.y1});
      image_[1].push_back({p.x2, p.y2});
    }
  }

  void Build(TTriangulation& mesh) {
    BuildEdges(mesh.Edges);
    BuildTriangles(mesh.Edges, mesh.Triangles);
    mesh.Result = FirstUnusedPoint(mesh.Triangles);
  }

 private:
  // Edge phase: one sweep over the pairs in (D, scan order).  Most meshes are done
  // within the shortest few pairs per point, so those are split off first with
  // nth_element; only when the sweep gets past them is the rest sorted, by radix.
  void BuildEdges(std::vector<MeshEdge>& edges) {
    std::vector<uint64_t> keys;
    keys.reserve(static_cast<size_t>(n_) * (n_ - 1) / 2);
    for (int i = 0; i < n_; ++i)
      for (int j = i + 1; j < n_; ++j) {
        const int64_t d = CombinedDistance(Pair(i), Pair(j));
        if (d < kMaxEdgeDistance) keys.push_back(uint64_t(d) << 20 | uint64_t(i) << 10 | uint64_t(j));
      }
    TEdgeGrid grids[2] = {TEdgeGrid(image_[0]), TEdgeGrid(image_[1])};
    const size_t head = std::min(keys.size(), 8 * static_cast<size_t>(n_));
    if (head < keys.size()) std::nth_element(keys.begin(), keys.begin() + head, keys.end());
    std::sort(keys.begin(), keys.begin() + head);
    if (!Sweep(keys.data(), keys.data() + head, grids, edges)) return;
    RadixSort(keys.data() + head, keys.data() + keys.size());
    Sweep(keys.data() + head, keys.data() + keys.size(), grids, edges);
  }

  // Accepts each pair that crosses no accepted edge; false once the cap is reached.
  bool Sweep(const uint64_t* first, const uint64_t* last, TEdgeGrid (&grids)[2], std::vector<MeshEdge>& edges) {
    for (const uint64_t* key = first; key != last; ++key) {
      const int i = int(*key >> 10 & 1023), j = int(*key & 1023);
      bool crossing = BlockedAgain(edges, i, j) || BlockedAgain(edges, j, i);
      for (int img = 0; img < 2 && !crossing; ++img) {
        ++stamp_;
        crossing = grids[img].VisitCells(image_[img][size_t(i)], image_[img][size_t(j)], [&](int cell) {
          for (int e : grids[img].Cell(cell)) {
            if (stamps_[size_t(e)] == stamp_) continue;
            stamps_[size_t(e)] = stamp_;
            if (CrossesEdge(edges[size_t(e)], img, i, j)) {
              Remember(i, {e, img});
              Remember(j, {e, img});
              return true;
            }
          }
          return false;
        });
      }
      if (crossing) continue;
      const int id = static_cast<int>(edges.size());
      edges.push_back({i + 1, j + 1});
      stamps_.push_back(0);
      for (int img = 0; img < 2; ++img) grids[img].Add(id, image_[img][size_t(i)], image_[img][size_t(j)]);
      if (edges.size() == static_cast<size_t>(kMaxMeshEdges)) return false;
    }
    return true;
  }

  // Least significant digit first, 13 bits a pass: the keys use 51 bits.
  static void RadixSort(uint64_t* first, uint64_t* last) {
    const size_t count = static_cast<size_t>(last - first);
    std::vector<uint64_t> buffer(count);
    uint64_t *from = first, *to = buffer.data();
    constexpr int kDigitBits = 13;
    for (int shift = 0; shift < 52; shift += kDigitBits) {
      std::vector<size_t> offsets((size_t(1) << kDigitBits) + 1, 0);
      for (size_t k = 0; k < count; ++k) ++offsets[((from[k] >> shift) & ((1u << kDigitBits) - 1)) + 1];
      for (size_t d = 1; d < offsets.size(); ++d) offsets[d] += offsets[d - 1];
      for (size_t k = 0; k < count; ++k) to[offsets[(from[k] >> shift) & ((1u << kDigitBits) - 1)]++] = from[k];
      std::swap(from, to);
    }
    // Four passes: the sorted keys are back in the caller's range.
  }

  bool CrossesEdge(const MeshEdge& edge, int img, int i, int j) const {
    const int p = edge.p1 - 1, q = edge.p2 - 1;
    if (p == i || p == j || q == i || q == j) return false;
    const std::vector<Pt>& pts = image_[img];
    return Crosses<T>(pts[size_t(i)], pts[size_t(j)], pts[size_t(p)], pts[size_t(q)]);
  }

  // Pairs leaving a point in similar directions tend to be stopped by the same
  // edges, so the two edges that last stopped a pair at point i are tried first.
  bool BlockedAgain(const std::vector<MeshEdge>& edges, int i, int j) const {
    for (const TBlocker& last : blocker_[size_t(i)])
      if (last.Edge >= 0 && CrossesEdge(edges[size_t(last.Edge)], last.Image, i, j)) return true;
    return false;
  }

  void Remember(int point, TBlocker blocker) {
    auto& recent = blocker_[size_t(point)];
    if (recent[0].Edge == blocker.Edge && recent[0].Image == blocker.Image) return;
    recent[1] = recent[0];
    recent[0] = blocker;
  }

  // Triangle phase: for each edge a = (u, v) in order and each later edge b at u,
  // with c the far end of b, the triangle (u, v, c) is recorded when the edge v-c
  // also comes after a and no point lies inside it in either image.  Edges are
  // distinct pairs, so at most one edge joins v and c.
  void BuildTriangles(const std::vector<MeshEdge>& edges, std::vector<MeshTriangle>& triangles) {
    const int m = static_cast<int>(edges.size());
    std::vector<int16_t> edgeOf(static_cast<size_t>(n_) * n_, -1);
    std::vector<std::vector<int>> incident(static_cast<size_t>(n_));
    for (int e = 0; e < m; ++e) {
      const int p = edges[size_t(e)].p1 - 1, q = edges[size_t(e)].p2 - 1;
      edgeOf[size_t(p) * n_ + q] = edgeOf[size_t(q) * n_ + p] = static_cast<int16_t>(e);
      incident[size_t(p)].push_back(e);
      incident[size_t(q)].push_back(e);
    }
    for (int a = 0; a < m; ++a) {
      const int u = edges[size_t(a)].p1 - 1, v = edges[size_t(a)].p2 - 1;
      const std::vector<int>& atU = incident[size_t(u)];
      for (auto it = std::upper_bound(atU.begin(), atU.end(), a); it != atU.end(); ++it) {
        const MeshEdge& b = edges[size_t(*it)];
        const int c = b.p1 - 1 == u ? b.p2 - 1 : b.p1 - 1;
        if (edgeOf[size_t(v) * n_ + c] <= a) continue;
        if (!Empty(u, v, c)) continue;
        const MeshTriangle triangle{u + 1, v + 1, c + 1};
        if (triangles.size() < static_cast<size_t>(kMaxTriangles))
          triangles.push_back(triangle);
        else
          triangles.back() = triangle;
      }
    }
  }

  bool Empty(int u, int v, int c) const {
    for (const std::vector<Pt>& pts : image_) {
      const Pt pu = pts[size_t(u)], pv = pts[size_t(v)], pc = pts[size_t(c)];
      // The three side values of any point add up to this constant, so no point can
      // have all three <= 0 when it is positive; when it is negative the points
      // that do form the closed triangle, inside its bounding box.  When it is zero
      // (collinear corners) every point on the line counts, so no box applies.
      const T total = Side<T>(pv, pc, pu);
      if (total > 0) continue;
      const bool boxed = total < 0;
      const int32_t xlo = std::min({pu.x, pv.x, pc.x}), xhi = std::max({pu.x, pv.x, pc.x});
      const int32_t ylo = std::min({pu.y, pv.y, pc.y}), yhi = std::max({pu.y, pv.y, pc.y});
      for (int p = 0; p < n_; ++p) {
        if (p == u || p == v || p == c) continue;
        const Pt pp = pts[size_t(p)];
        if (boxed && (pp.x < xlo || pp.x > xhi || pp.y < ylo || pp.y > yhi)) continue;
        if (Side<T>(pu, pv, pp) <= 0 && Side<T>(pv, pc, pp) <= 0 && Side<T>(pc, pu, pp) <= 0) return false;
      }
    }
    return true;
  }

  int FirstUnusedPoint(const std::vector<MeshTriangle>& triangles) const {
    std::vector<bool> used(static_cast<size_t>(n_) + 1, false);
    for (const MeshTriangle& t : triangles) used[size_t(t.p1)] = used[size_t(t.p2)] = used[size_t(t.p3)] = true;
    for (int p = 1; p <= n_; ++p)
      if (!used[size_t(p)]) return p;
    return 0;
  }

  PointPair Pair(int i) const {
    return {image_[0][size_t(i)].x, image_[0][size_t(i)].y, image_[1][size_t(i)].x, image_[1][size_t(i)].y};
  }

  int n_;
  std::vector<Pt> image_[2];
  std::vector<std::array<TBlocker, 2>> blocker_;
  std::vector<int> stamps_;  // per edge: the query that last tested it
  int stamp_ = 0;
};

}  // namespace

TTriangulation TriangulatePoints(std::span<const PointPair> points) {
  TTriangulation mesh;
  const int n = static_cast<int>(points.size());
  if (n < 3 || n > kMaxPointPairs) {
    mesh.Result = 1;
    return mesh;
  }
  if (const int duplicate = FirstDuplicate(points)) {
    mesh.Result = duplicate;
    return mesh;
  }
  mesh.MeshBuilt = true;
  const bool narrow = std::all_of(points.begin(), points.end(), [](const PointPair& p) {
    return std::llabs(p.x1) <= kNarrowLimit && std::llabs(p.y1) <= kNarrowLimit && std::llabs(p.x2) <= kNarrowLimit &&
           std::llabs(p.y2) <= kNarrowLimit;
  });
  if (narrow)
    TMeshBuilder<int64_t>(points).Build(mesh);
  else
    TMeshBuilder<Wide>(points).Build(mesh);
  return mesh;
}

}  // namespace sq
