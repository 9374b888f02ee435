// Format notes for the reduction (the choices the result depends on):
//  - A vertex's cost is that of its cheapest edge; among equal costs the neighbour
//    met first in its neighbour list wins.  A vertex without neighbours costs -1.
//  - An edge with fewer than two faces marks both ends as border vertices for good;
//    edges at a border vertex cost their length, others length x curvature.
//  - The vertex collapsed next is the cheapest, the earliest in vertex order among
//    equals.  After a collapse only the collapsed vertex's former neighbours are
//    re-costed; every other cost stays as it was, even if its neighbourhood changed.
//  - Neighbour and face lists keep insertion order and lose entries in place, since
//    that order decides ties.
// The cheapest vertex is found with a tournament tree keyed by (cost, vertex
// index), which gives exactly the result of scanning all vertices at every step.
// Re-costing a former neighbour works out only the edges whose cost can have
// changed when that is provably all that changed (see UpdateEdgeCostAtVertex); the
// result is always the one a full re-costing gives.
// The setup (links, normals, first costs) runs on all cores with the result of the
// one-by-one setup; see TFirstBorders for how the first costs manage that.
#include "model3d/melax_reduce.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

// The searches below compare four entries at once where SSE2 is there, and one by
// one elsewhere; SQ_PLAIN_VECTORS takes the one-by-one paths on any machine, so that
// the tests can check them against the plain reference too.
#if defined(__SSE2__) && !defined(SQ_PLAIN_VECTORS)
#define SQ_MELAX_SSE2 1
#include <emmintrin.h>
#endif

#include "base/exception.h"
#include "base/format.h"
#include "base/large_pages.h"
#include "base/parallel.h"
#include "base/progress.h"
#include "model3d/texture_model.h"

namespace sq {

namespace {

constexpr double kNoTargetCost = 1.7e308;

// 1 - |N(a) . N(b)|, the term of every curvature.  Each product of two floats is
// exact in double, so the order of a and b does not change a bit.
inline double Flatness(const T3DPoint& a, const T3DPoint& b) {
  return 1 - std::fabs(double(a.X) * b.X + double(a.Y) * b.Y + double(a.Z) * b.Z);
}

// Normals are grouped by value: equal as floats, so 0 and -0 match and a NaN matches
// nothing (ComputeEdgeCostAtVertex says why that keeps every cost bit for bit).
inline bool SameNormal(const T3DPoint& a, const T3DPoint& b) { return a.X == b.X && a.Y == b.Y && a.Z == b.Z; }

// The distinct normals of a small fan (by SameNormal), by coordinate: a new normal is
// compared with all of them at once, with the vector form of SameNormal's test.
struct TFanNormals {
  static constexpr size_t kMost = 16;
  // The vector search zeroes each group of four when its first entry is added, so
  // that its comparisons past Count read defined values; zeroing all of them up
  // front is a string store whose start-up costs more than a small fan's whole
  // search.  The one-by-one search reads nothing past Count.
  alignas(16) float X[kMost], Y[kMost], Z[kMost];
  size_t Count = 0;
  // The index of n among the normals, added if it is new.  At most kMost distinct.
  int Add(const T3DPoint& n) {
#ifdef SQ_MELAX_SSE2
    uint32_t equal = 0;
    const __m128 x = _mm_set1_ps(n.X), y = _mm_set1_ps(n.Y), z = _mm_set1_ps(n.Z);
    for (size_t q = 0; q < Count; q += 4) {
      const __m128 same =
          _mm_and_ps(_mm_and_ps(_mm_cmpeq_ps(_mm_load_ps(X + q), x), _mm_cmpeq_ps(_mm_load_ps(Y + q), y)),
                     _mm_cmpeq_ps(_mm_load_ps(Z + q), z));
      equal |= uint32_t(_mm_movemask_ps(same)) << q;
    }
    // Entries past Count are zeroes, which a degenerate face's normal would match.
    equal &= (uint32_t{1} << Count) - 1;
    if (equal) return std::countr_zero(equal);
    if (Count % 4 == 0) {
      _mm_store_ps(X + Count, _mm_setzero_ps());
      _mm_store_ps(Y + Count, _mm_setzero_ps());
      _mm_store_ps(Z + Count, _mm_setzero_ps());
    }
#else
    for (size_t i = 0; i < Count; ++i)
      if (SameNormal(At(i), n)) return static_cast<int>(i);
#endif
    X[Count] = n.X;
    Y[Count] = n.Y;
    Z[Count] = n.Z;
    return static_cast<int>(Count++);
  }
  T3DPoint At(size_t i) const { return T3DPoint{X[i], Y[i], Z[i]}; }
};

// Bit i set when first[i] or second[i] is n, for the `count` entries (a multiple of
// four, at most 16).
inline uint32_t CornerMask(const int* first, const int* second, size_t count, int n) {
#ifdef SQ_MELAX_SSE2
  const __m128i key = _mm_set1_epi32(n);
  uint32_t mask = 0;
  for (size_t q = 0; q < count; q += 4) {
    const __m128i a = _mm_cmpeq_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(first + q)), key);
    const __m128i b = _mm_cmpeq_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(second + q)), key);
    mask |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_or_si128(a, b)))) << q;
  }
  return mask;
#else
  uint32_t mask = 0;
  for (size_t i = 0; i < count; ++i) mask |= uint32_t((first[i] == n) | (second[i] == n)) << i;
  return mask;
#endif
}

// `chosen` when pick holds, else `other`, by masks: for conditionals on which corner
// of a face is a given vertex the compiler makes branches, and which corner it is is
// anyone's guess.
inline int PickIf(bool pick, int chosen, int other) { return other ^ ((other ^ chosen) & -static_cast<int>(pick)); }

// Room for m entries of a flatness column, rounded up to the four lanes that
// TwoSideCurvature reads at a time.
constexpr size_t PaddedColumn(size_t m) { return (m + 3) & ~size_t{3}; }

// max over i < m of min(1, s0[i], s1[i]), and at least 0: the curvature of an edge
// between two faces, from those faces' columns of a flatness table, which must hold 0
// from m up to PaddedColumn(m) (a curvature starts at 0, so those change nothing).
// Four lanes run independently; each skips a NaN as the one-by-one loop does (a
// comparison with NaN is false), and the maximum of numbers does not depend on the
// order they are taken in.
inline double TwoSideCurvature(const double* s0, const double* s1, size_t m) {
#ifdef SQ_MELAX_SSE2
  const __m128d one = _mm_set1_pd(1);
  __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();
  for (size_t i = 0; i < m; i += 4) {
    // min(a, b) gives b unless a < b, as "if (a < d) d = a" keeps d; max likewise.
    const __m128d d0 = _mm_min_pd(_mm_loadu_pd(s1 + i), _mm_min_pd(_mm_loadu_pd(s0 + i), one));
    const __m128d d1 = _mm_min_pd(_mm_loadu_pd(s1 + i + 2), _mm_min_pd(_mm_loadu_pd(s0 + i + 2), one));
    low = _mm_max_pd(d0, low);
    high = _mm_max_pd(d1, high);
  }
  const __m128d both = _mm_max_pd(low, high);
  return std::max(_mm_cvtsd_f64(both), _mm_cvtsd_f64(_mm_unpackhi_pd(both, both)));
#else
  double curvature = 0;
  for (size_t i = 0; i < m; ++i) {
    double d = 1;
    if (s0[i] < d) d = s0[i];
    if (s1[i] < d) d = s1[i];
    if (d > curvature) curvature = d;
  }
  return curvature;
#endif
}

// The large per-vertex and per-triangle arrays (TLargeVector) live on large pages
// where the system grants them: the reduction reads them at random, and with ordinary
// pages nearly every access of a large mesh misses the address cache as well as the
// data cache.

// An ordered list of indices that keeps its first few entries inside itself: a vertex
// of a surface mesh has about six neighbours and six faces, and collapses in flat
// patches grow fans of twice that, so most lists never touch the heap.  Twelve
// entries (56 bytes) measured best: more inline room costs more memory to fault in
// than the heap lists it saves.
class TIndexList {
 public:
  TIndexList() = default;
  TIndexList(TIndexList&& other) noexcept : size_(other.size_), capacity_(other.capacity_) {
    if (other.OnHeap()) {
      heap_ = other.heap_;
    } else {
      std::copy(other.inline_, other.inline_ + kInline, inline_);
    }
    other.size_ = 0;
    other.capacity_ = kInline;
  }
  TIndexList(const TIndexList&) = delete;
  TIndexList& operator=(const TIndexList&) = delete;
  ~TIndexList() { release(); }

  const int* begin() const { return OnHeap() ? heap_ : inline_; }
  // A view for loops that index the list while writing elsewhere, through which the
  // compiler cannot tell that the list stays put.
  std::span<const int> items() const { return {begin(), size_}; }
  const int* end() const { return begin() + size_; }
  int* data() { return OnHeap() ? heap_ : inline_; }
  int operator[](size_t i) const { return begin()[i]; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The place of the first occurrence, or size() without one.  An inline list is
  // searched all at once: where a match lies is anyone's guess, and a loop that stops
  // there costs a mispredicted branch.
  size_t find(int item) const {
#ifdef SQ_MELAX_SSE2
    if (!OnHeap()) return PlaceOf(InlineMatches(item));
#endif
    return static_cast<size_t>(std::find(begin(), end(), item) - begin());
  }
  bool contains(int item) const { return find(item) != size_; }
  // find(a) and find(b), written out where they are used: the short way asks for both
  // at every neighbour, and a call each costs more than the compares.
  std::pair<size_t, size_t> find(int a, int b) const {
#ifdef SQ_MELAX_SSE2
    if (!OnHeap()) return {PlaceOf(InlineMatches(a)), PlaceOf(InlineMatches(b))};
#endif
    return {find(a), find(b)};
  }

  void push_back(int item) {
    if (size_ == capacity_) Grow();
    data()[size_++] = item;
  }
  // Removes the first occurrence, keeping the order of the rest.
  void remove(int item) {
    const size_t at = find(item);
    if (at == size_) return;
    if (OnHeap()) {
      std::copy(heap_ + at + 1, heap_ + size_, heap_ + at);
    } else {
      // A fixed number of steps without branches: a call to memmove costs more
      // than the few entries of an inline list.
      for (uint32_t i = 0; i + 1 < kInline; ++i) inline_[i] = inline_[i + (i >= at ? 1 : 0)];
    }
    --size_;
  }
  void add_unique(int item) {
    if (!contains(item)) push_back(item);
  }
  void release() {
    if (OnHeap()) delete[] heap_;
    size_ = 0;
    capacity_ = kInline;
  }

 private:
  static constexpr uint32_t kInline = 12;
  bool OnHeap() const { return capacity_ > kInline; }
#ifdef SQ_MELAX_SSE2
  // Bit i set where inline entry i is item, for the entries in use.
  uint32_t InlineMatches(int item) const {
    const __m128i key = _mm_set1_epi32(item);
    uint32_t mask = 0;
    for (uint32_t q = 0; q < kInline; q += 4)
      mask |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(
                  _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(inline_ + q)), key))))
              << q;
    return mask & ((uint32_t{1} << size_) - 1);  // entries past the end hold leftovers
  }
#endif
  size_t PlaceOf(uint32_t matches) const { return matches ? static_cast<size_t>(std::countr_zero(matches)) : size_; }
  void Grow() {
    int* bigger = new int[capacity_ * 2];
    std::copy(begin(), end(), bigger);
    if (OnHeap()) delete[] heap_;
    heap_ = bigger;
    capacity_ *= 2;
  }
  uint32_t size_ = 0;
  uint32_t capacity_ = kInline;
  // Inline entries are always initialised: they are moved and shifted as a whole.
  union {
    int inline_[kInline] = {};
    int* heap_;
  };
};
static_assert(sizeof(TIndexList) == 56);

// Always yields the cheapest live vertex, the lowest index among equal costs.  The
// costs are kept in blocks of consecutive vertices, each represented by its cheapest
// vertex in a tournament tree over the blocks.  That tree is small enough to stay in
// cache; an update scans its block only when the block's cheapest vertex got dearer.
class TCostTree {
 public:
  // costOf(vertex) gives the cost of each of the count vertices.
  template <class TCostOf>
  TCostTree(size_t count, TCostOf costOf) {
    const size_t blocks = (count + kBlock - 1) / kBlock;
    key_.reserve(blocks * kBlock);
    for (size_t v = 0; v < count; ++v) key_.push_back(costOf(v));
    key_.resize(blocks * kBlock, kDead);
    leaves_ = 1;
    while (leaves_ < blocks) leaves_ *= 2;
    node_.assign(2 * leaves_, TKey{kDead, -1});
    for (size_t b = 0; b < blocks; ++b) node_[leaves_ + b] = BlockBest(b);
    for (size_t i = leaves_ - 1; i >= 1; --i) node_[i] = Better(node_[2 * i], node_[2 * i + 1]);
  }
  int Cheapest() const { return node_[1].Index; }
  void Set(int vertex, double cost) {
    key_[static_cast<size_t>(vertex)] = cost;
    const size_t block = static_cast<size_t>(vertex) / kBlock;
    size_t i = leaves_ + block;
    TKey& leaf = node_[i];
    if (cost < leaf.Cost || (cost == leaf.Cost && vertex < leaf.Index)) {
      leaf = TKey{cost, vertex};
    } else if (leaf.Index == vertex) {
      if (cost == leaf.Cost) return;
      leaf = BlockBest(block);
    } else {
      return;
    }
    for (i /= 2; i >= 1; i /= 2) {
      const TKey best = Better(node_[2 * i], node_[2 * i + 1]);
      if (best.Index == node_[i].Index && best.Cost == node_[i].Cost) break;
      node_[i] = best;
    }
  }
  void Remove(int vertex) { Set(vertex, kDead); }
  // Asks for the cost of a vertex that is about to be set, or for its whole block,
  // which removing the cheapest vertex scans.
  void Prefetch(int vertex) const { __builtin_prefetch(&key_[static_cast<size_t>(vertex)]); }
  void PrefetchBlock(int vertex) const {
    const double* key = &key_[static_cast<size_t>(vertex) / kBlock * kBlock];
    for (size_t i = 0; i < kBlock; i += 8) __builtin_prefetch(key + i);
  }

 private:
  static constexpr size_t kBlock = 64;
  // Above every real cost (at most 1.7e308): removed vertices and unused slots.
  static constexpr double kDead = std::numeric_limits<double>::infinity();
  struct TKey {
    double Cost;
    int Index;
  };
  // The left key always has the lower index, so it wins ties.
  static TKey Better(const TKey& left, const TKey& right) { return right.Cost < left.Cost ? right : left; }
  // The least cost first, in independent lanes the compiler can vectorise, then the
  // first vertex that has it: costs are never NaN, so this is the first least key.
  TKey BlockBest(size_t block) const {
    const double* key = &key_[block * kBlock];
    constexpr size_t kLanes = 8;
    double lane[kLanes];
    for (size_t l = 0; l < kLanes; ++l) lane[l] = key[l];
    for (size_t i = kLanes; i < kBlock; i += kLanes)
      for (size_t l = 0; l < kLanes; ++l) lane[l] = key[i + l] < lane[l] ? key[i + l] : lane[l];
    double least = lane[0];
    for (size_t l = 1; l < kLanes; ++l) least = lane[l] < least ? lane[l] : least;
    size_t best = 0;
    while (key[best] != least) ++best;
    return TKey{least, least == kDead ? -1 : static_cast<int>(block * kBlock + best)};
  }
  TLargeVector<double> key_;
  size_t leaves_;
  std::vector<TKey> node_;
};

class TMelaxMesh {
 public:
  explicit TMelaxMesh(const TSurfaceColorModel& model);
  void Reduce(int maxVertices);
  // Writes the surviving vertices and triangles back into the model.
  void Rebuild(TSurfaceColorModel& model) const;

 private:
  // Scratch of the cost of a vertex with many faces, one per thread.
  struct TScratch {
    std::vector<int> SideStart, SideFill, SideNormal, SlotOfCorner;
    TLargeVector<int> SlotOf;  // neighbour slot by vertex while one vertex is costed, else -1
    std::vector<T3DPoint> Normals;
    std::vector<double> Flatness;
    std::vector<uint8_t> ColumnReady;
  };
  // Which vertices count as border vertices while the edges of a vertex are costed.
  // During the reduction that is the flag itself, which an open edge (fewer than two
  // faces) sets on both its ends for good.
  struct TLiveBorders {
    TMelaxMesh& Mesh;
    void Open(int v, int n) const {
      Mesh.MarkBorder(v);
      Mesh.MarkBorder(n);
    }
    bool Is(int x, size_t) const { return Mesh.point_[x].Border != 0; }
  };
  // The first costs, worked out side by side, must see the flags that costing vertex
  // after vertex would have set by then.  An open edge marks its ends when the first
  // of them is costed, at the edge's slot in that vertex's list; so x is a border
  // vertex at slot j of v when the first open edge of x comes at (v, j) or before
  // (When[x], see FindFirstBorders).
  struct TFirstBorders {
    const uint64_t* When;
    uint64_t Vertex;  // v << 32
    void Open(int, int) const {}
    bool Is(int x, size_t slot) const { return When[x] <= (Vertex | slot); }
  };
  static constexpr uint64_t kNeverBorder = UINT64_MAX;

  void ComputeNormal(int t);
  void ComputeEdgeCostAtVertex(int v);
  template <class TBorders>
  void CostOf(int v, const TBorders& borders, TScratch& scratch, double& cost, int& target);
  // The two ways CostOf works out the cost of a vertex with neighbours.
  static constexpr size_t kSmallFan = 16;
  template <class TBorders>
  void SmallFanCost(int v, const TBorders& borders, double& cost, int& target);
  template <class TBorders>
  void WideFanCost(int v, const TBorders& borders, TScratch& scratch, double& cost, int& target);
  // The setup's steps that run side by side.
  void LinkCorners(int workers);
  std::vector<uint64_t> FindFirstBorders();
  void ComputeFirstCosts(const std::vector<uint64_t>& when);
  size_t SlotIn(int v, int n) const;
  // Re-costs n, a former neighbour of the collapsed vertex u, after u went onto v.
  // Takes the short way when only the edge to v can have changed.
  void UpdateEdgeCostAtVertex(int n, int u, int v);
  bool UpdateForNewEdge(int n, int v);
  bool KeepsItsNormals(int n) const;
  void PrefetchFaces(int n) const {
    __builtin_prefetch(&point_[n]);
    // A neighbour of cost 0 that two moved faces join to the target most likely
    // keeps its cost without reading its faces (see UpdateForNewEdge).
    if ((touched_[n] & (kTwoSides | kNewNormal | kLostFace)) == kTwoSides && cost_[n].Cost <= 0) return;
    for (const int f : links_[n].Faces) __builtin_prefetch(&triangles_[f]);
  }
  void PrefetchLinks(int n) const {
    __builtin_prefetch(&links_[n].Neighbors);
    __builtin_prefetch(&links_[n].Faces);
  }
  // The records the collapse of u reads first, asked for while the collapse before it
  // is still being finished.
  void PrefetchCollapse(int u) const {
    const TLinks& links = links_[u];
    for (const int f : links.Faces) __builtin_prefetch(&triangles_[f]);
    for (const int n : links.Neighbors) {
      PrefetchLinks(n);
      __builtin_prefetch(&point_[n]);
      __builtin_prefetch(&cost_[n]);
      tree_->Prefetch(n);
    }
    tree_->PrefetchBlock(u);
    if (const int v = cost_[u].Target; v >= 0) PrefetchLinks(v);
  }
  // The faces the collapse of u onto v destroys make it look for another face
  // joining v and each third corner: those faces too, once u's have arrived.
  void PrefetchLostFaces(int u) const {
    const int v = cost_[u].Target;
    if (v < 0) return;
    for (const int f : links_[u].Faces) {
      if (!HasCorner(f, v)) continue;
      for (const int c : triangles_[f].Corners)
        if (c != u && c != v)
          for (const int g : links_[c].Faces) __builtin_prefetch(&triangles_[g]);
    }
  }
  void MarkBorder(int v) {
    if (!point_[v].Border) point_[v].Border = ++borderClock_;
  }
  bool HasCorner(int t, int v) const {
    const std::array<int, 3>& c = triangles_[t].Corners;
    return c[0] == v || c[1] == v || c[2] == v;
  }
  void UnlinkIfNoCommonFace(int a, int b);
  // Pairs with `dying`, the vertex being collapsed, keep their neighbour entries:
  // DestroyVertex removes them right after, and removing an entry early or late
  // leaves the order of the others the same.
  void DestroyTriangle(int t, int dying);
  // neighbors: v's neighbour list, which the caller may have taken from it.
  void DestroyVertex(int v, const TIndexList& neighbors);
  // oldVertex is always the vertex being collapsed; see DestroyTriangle.
  void ReplaceVertex(int t, int oldVertex, int newVertex);
  void Collapse(int u, int v);

  // What the cost of an edge reads of its far end: 16 bytes, one cache line.
  // Border is 0 for an inner vertex, else the tick of borderClock_ at which the
  // vertex became a border vertex.
  struct TPoint {
    T3DPoint Position;
    uint32_t Border;
  };
  // A triangle in 32 bytes, so that it never straddles two cache lines.
  struct alignas(32) TTriangle {
    std::array<int, 3> Corners;
    T3DPoint Normal;
    uint32_t Alive;
  };

  // Vertices, split by use: the cost loops touch positions and border flags of many
  // vertices, and keeping those dense keeps them in cache.
  TLargeVector<TPoint> point_;
  TLargeVector<uint8_t> alive_;
  // A vertex's neighbours and faces.
  struct TLinks {
    TIndexList Neighbors;
    TIndexList Faces;
  };
  TLargeVector<TLinks> links_;
  // A vertex's cost, its target and costClock_, together: a re-costing touches
  // one cache line for them.
  struct TCost {
    double Cost;
    int Target;
    // borderClock_ when the cost was last worked out in full or brought up to date:
    // border flags that changed later make its remembered edge costs unusable.
    uint32_t Clock;
  };
  TLargeVector<TCost> cost_;
  TLargeVector<TTriangle> triangles_;

  int liveVertices_ = 0;
  // Ticks once for every vertex that becomes a border vertex.
  uint32_t borderClock_ = 0;
  // Marks set during a collapse: kLostFace for the corners of the faces destroyed
  // (listed in lostFaces_), kNewNormal for the corners of faces whose normal changed
  // and for everything a collapse without a target touches; kOneSide and kTwoSides
  // count the faces moved onto the target that a vertex is a corner of.
  // kInTargetList marks the target's neighbours while faces move onto it.
  static constexpr uint8_t kLostFace = 1, kNewNormal = 2, kOneSide = 4, kTwoSides = 8, kInTargetList = 16;
  TLargeVector<uint8_t> touched_;
  std::vector<int> lostFaces_;
  std::unique_ptr<TCostTree> tree_;
  std::vector<int> sides_;  // of UpdateForNewEdge
  TScratch scratch_;
};

TMelaxMesh::TMelaxMesh(const TSurfaceColorModel& model) {
  const int vertexCount = model.VertexCount;
  const size_t n = static_cast<size_t>(vertexCount);
  // The first bad corner is the one reported, as when the faces are read in order.
  for (const T3DTriangle& corners : model.Triangles)
    for (const uint32_t c : corners)
      if (c >= static_cast<uint32_t>(vertexCount)) throw EBadFormat(Format("Invalid point in face list: %u", c));
  // About 150 bytes a vertex and 32 a triangle, written first by this thread alone:
  // the pages are faulted in on all cores beforehand.
  auto faultIn = [](auto& items, size_t count) {
    items.reserve(count);
    FaultInPages(items.data(), count * sizeof(items[0]));
  };
  faultIn(point_, n);
  faultIn(alive_, n);
  faultIn(links_, n);
  faultIn(cost_, n);
  faultIn(touched_, n);
  faultIn(scratch_.SlotOf, n);
  faultIn(triangles_, static_cast<size_t>(model.TriangleCount));
  point_.resize(n);
  for (size_t i = 0; i < n; ++i) point_[i] = TPoint{model.Vertices[i], 0};
  alive_.assign(n, 1);
  links_.resize(n);
  cost_.assign(n, TCost{0, -1, 0});
  touched_.assign(n, 0);
  scratch_.SlotOf.assign(n, -1);
  liveVertices_ = vertexCount;
  for (const T3DTriangle& corners : model.Triangles) {
    // A triangle with a repeated corner would keep a collapsed vertex alive in its
    // corner list; it has no area, so it is left out.
    if (corners[0] == corners[1] || corners[1] == corners[2] || corners[0] == corners[2]) continue;
    triangles_.push_back(
        TTriangle{{static_cast<int>(corners[0]), static_cast<int>(corners[1]), static_cast<int>(corners[2])}, {}, 1});
  }
  const int triangleCount = static_cast<int>(triangles_.size());
  ForEachRow(triangleCount, 40, false, [&](int t, int) { ComputeNormal(t); });
  LinkCorners(int64_t(triangleCount) * 30 < 200000 ? 1 : WorkerCount());
  ComputeFirstCosts(FindFirstBorders());
  tree_ = std::make_unique<TCostTree>(n, [&](size_t v) { return cost_[v].Cost; });
}

// Each worker links the corners in its own range of vertices, reading all faces in
// order: every list gets its entries in the order linking face after face gives.
void TMelaxMesh::LinkCorners(int workers) {
  const int64_t n = static_cast<int64_t>(links_.size());
  ForEachRow(
      workers, workers,
      [&](int part, int) {
        const int lo = static_cast<int>(n * part / workers), hi = static_cast<int>(n * (part + 1) / workers);
        const int count = static_cast<int>(triangles_.size());
        for (int t = 0; t < count; ++t) {
          const std::array<int, 3>& c = triangles_[t].Corners;
          for (int i = 0; i < 3; ++i) {
            if (c[i] < lo || c[i] >= hi) continue;
            TLinks& links = links_[c[i]];
            links.Faces.push_back(t);
            for (int j = 0; j < 3; ++j)
              if (i != j) links.Neighbors.add_unique(c[j]);
          }
        }
      },
      false);
}

size_t TMelaxMesh::SlotIn(int v, int n) const { return links_[v].Neighbors.find(n); }

// When each vertex first becomes a border vertex if the vertices are costed one by
// one: at (w << 32 | slot), costing w and at the slot of its open edge to the vertex
// (or to another vertex when w is the vertex itself); kNeverBorder if it never does.
// An open edge is open from both ends (both count the faces that have both as
// corners), and the end costed first is the lower one.  The flags' values follow,
// numbered in that order as MarkBorder numbers them.
std::vector<uint64_t> TMelaxMesh::FindFirstBorders() {
  const int vertexCount = static_cast<int>(links_.size());
  std::vector<uint64_t> when(links_.size(), kNeverBorder);
  ForEachRow(vertexCount, 100, false, [&](int x, int) {
    const TIndexList& neighbors = links_[x].Neighbors;
    const TIndexList& faces = links_[x].Faces;
    uint64_t first = kNeverBorder;
    for (size_t j = 0; j < neighbors.size(); ++j) {
      const int y = neighbors[j];
      int sides = 0;
      for (const int f : faces) sides += HasCorner(f, y) ? 1 : 0;
      if (sides >= 2) continue;
      const uint64_t at = y > x ? uint64_t(x) << 32 | j : uint64_t(y) << 32 | SlotIn(y, x);
      first = std::min(first, at);
    }
    when[static_cast<size_t>(x)] = first;
  });
  // Numbered by the time of marking; at one edge the vertex being costed is marked
  // before its neighbour.
  std::vector<std::pair<uint64_t, int>> marks;
  for (int x = 0; x < vertexCount; ++x)
    if (const uint64_t at = when[static_cast<size_t>(x)]; at != kNeverBorder)
      marks.emplace_back(at * 2 + (static_cast<int>(at >> 32) == x ? 0 : 1), x);
  std::sort(marks.begin(), marks.end());
  for (const auto& [at, x] : marks) point_[x].Border = ++borderClock_;
  return when;
}

void TMelaxMesh::ComputeFirstCosts(const std::vector<uint64_t>& when) {
  const int vertexCount = static_cast<int>(links_.size());
  // A vertex's clock is the count of flags set before it was costed: those of the
  // vertices first marked while a lower vertex was costed.
  {
    std::vector<uint32_t> markedAt(links_.size() + 1, 0);
    for (const uint64_t at : when)
      if (at != kNeverBorder) ++markedAt[static_cast<size_t>(at >> 32) + 1];
    uint32_t clock = 0;
    for (int v = 0; v < vertexCount; ++v) {
      clock += markedAt[static_cast<size_t>(v)];
      cost_[v].Clock = clock;
    }
  }
  // The calling thread uses the mesh's own scratch; another worker makes its own
  // when it first needs it.
  std::vector<std::unique_ptr<TScratch>> scratch(static_cast<size_t>(WorkerCount()));
  ForEachRow(vertexCount, 200, false, [&](int v, int worker) {
    TScratch* mine = &scratch_;
    if (worker > 0) {
      auto& own = scratch[static_cast<size_t>(worker)];
      if (!own) {
        own = std::make_unique<TScratch>();
        own->SlotOf.assign(links_.size(), -1);
      }
      mine = own.get();
    }
    double cost = -1;
    int target = -1;
    CostOf(v, TFirstBorders{when.data(), uint64_t(v) << 32}, *mine, cost, target);
    cost_[v].Cost = cost;
    cost_[v].Target = target;
  });
}

void TMelaxMesh::ComputeNormal(int t) {
  const std::array<int, 3>& corners = triangles_[t].Corners;
  const T3DPoint& a = point_[corners[0]].Position;
  const T3DPoint& b = point_[corners[1]].Position;
  const T3DPoint& c = point_[corners[2]].Position;
  const double ux = double(b.X) - a.X, uy = double(b.Y) - a.Y, uz = double(b.Z) - a.Z;
  const double vx = double(c.X) - b.X, vy = double(c.Y) - b.Y, vz = double(c.Z) - b.Z;
  double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
  if (nx != 0 || ny != 0 || nz != 0) {
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= length;
    ny /= length;
    nz /= length;
  }
  triangles_[t].Normal = T3DPoint{static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(nz)};
}

// The costs of all edges at v at once.  Edge (v, n) costs its length times the
// curvature max over faces f of v of min over the sides s of the edge (the faces of v
// that have n as a corner) of 1 - |N(f) . N(s)|.  That term depends on the two
// normals only, so the faces are first grouped by normal: the max runs over the
// distinct normals, and each 1 - |N(f) . N(s)| is computed once per pair of distinct
// normals.  A reconstruction is mostly flat patches whose vertices see one normal,
// and there every edge costs a single product.  Grouping by value keeps the result
// bit for bit: the dot product is symmetric, and normals that compare equal (0 and
// -0 included) give the same term.
void TMelaxMesh::ComputeEdgeCostAtVertex(int v) {
  double cost = -1;
  int target = -1;
  cost_[v].Clock = borderClock_;
  CostOf(v, TLiveBorders{*this}, scratch_, cost, target);
  const bool changed = !(cost == cost_[v].Cost) || target != cost_[v].Target;
  cost_[v].Cost = cost;
  cost_[v].Target = target;
  if (tree_ && changed) tree_->Set(v, cost);
}

// Leaves cost -1 and target -1 for a vertex without neighbours.
template <class TBorders>
void TMelaxMesh::CostOf(int v, const TBorders& borders, TScratch& scratch, double& cost, int& target) {
  const TIndexList& neighbors = links_[v].Neighbors;
  const TIndexList& faces = links_[v].Faces;
  if (neighbors.empty()) return;
  // The neighbours lie anywhere in memory once collapses have moved edges around;
  // asking for all of them at once overlaps the cache misses.
  for (const int n : neighbors) __builtin_prefetch(&point_[n]);
  for (const int face : faces) __builtin_prefetch(&triangles_[face]);
  if (faces.size() <= kSmallFan) {
    SmallFanCost(v, borders, cost, target);
  } else {
    WideFanCost(v, borders, scratch, cost, target);
  }
}

// Most vertices have a handful of faces: everything stays in local arrays of a fixed
// size, and the searches among the faces (which face has which normal, which faces
// have a neighbour as a corner) compare all entries at once instead of stopping at a
// match, whose place no branch predictor can guess.
template <class TBorders>
void TMelaxMesh::SmallFanCost(int v, const TBorders& borders, double& cost, int& target) {
  const std::span<const int> neighbors = links_[v].Neighbors.items(), faces = links_[v].Faces.items();
  const size_t k = neighbors.size(), f = faces.size();
  TFanNormals normals;
  std::array<int, kSmallFan> normalOf;
  // The two corners of each face other than v, in corner order; -1 past the faces.
  alignas(16) std::array<int, kSmallFan> first, second;
  first.fill(-1);
  second.fill(-1);
  for (size_t i = 0; i < f; ++i) {
    const TTriangle& triangle = triangles_[faces[i]];
    normalOf[i] = normals.Add(triangle.Normal);
    const int c0 = triangle.Corners[0], c1 = triangle.Corners[1], c2 = triangle.Corners[2];
    first[i] = PickIf(c0 == v, c1, c0);
    second[i] = PickIf(c2 == v, c1, c2);
  }
  const size_t m = normals.Count, padded = PaddedColumn(m);
  // flatness[a][b] = 1 - |N(a) . N(b)|, made when an edge first needs it, and 0 from
  // the m normals up to `padded` (see TwoSideCurvature).
  // Each product of two floats is exact in double and the sum runs in the same order
  // either way, so the matrix is symmetric bit for bit and half of it is computed.
  alignas(16) std::array<std::array<double, kSmallFan>, kSmallFan> flatness;
  bool flatnessReady = false;
  auto makeFlatness = [&] {
    for (size_t b = 0; b < m; ++b) {
      const T3DPoint nb = normals.At(b);
      for (size_t i = 0; i <= b; ++i) flatness[b][i] = flatness[i][b] = Flatness(normals.At(i), nb);
      std::fill(flatness[b].begin() + static_cast<ptrdiff_t>(m), flatness[b].begin() + static_cast<ptrdiff_t>(padded),
                0.0);
    }
    flatnessReady = true;
  };

  const T3DPoint& a = point_[v].Position;
  cost = kNoTargetCost;
  std::array<int, kSmallFan> sides;
  for (size_t j = 0; j < k; ++j) {
    const int n = neighbors[j];
    uint32_t sideMask = CornerMask(first.data(), second.data(), PaddedColumn(f), n);
    // No edge undercuts a cost of 0: the later edges only open borders.
    if (cost <= 0) {
      // Fewer than two sides: at most one bit set.  std::popcount is a library call
      // on the baseline x86-64 this is built for.
      if ((sideMask & (sideMask - 1)) == 0) borders.Open(v, n);
      continue;
    }
    // The sides are read off the mask in face order.
    int sideCount = 0;
    for (; sideMask; sideMask &= sideMask - 1) sides[sideCount++] = normalOf[std::countr_zero(sideMask)];
    const T3DPoint& b = point_[n].Position;
    const double dx = double(b.X) - a.X, dy = double(b.Y) - a.Y, dz = double(b.Z) - a.Z;
    const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (sideCount < 2) borders.Open(v, n);
    double c = length;
    if (!borders.Is(v, j) && !borders.Is(n, j)) {
      if (!flatnessReady) makeFlatness();
      double curvature = 0;
      if (sideCount == 2) {
        curvature = TwoSideCurvature(flatness[sides[0]].data(), flatness[sides[1]].data(), m);
      } else {
        for (size_t i = 0; i < m; ++i) {
          double d = 1;
          for (int p = 0; p < sideCount; ++p)
            if (flatness[sides[p]][i] < d) d = flatness[sides[p]][i];
          if (d > curvature) curvature = d;
        }
      }
      c = length * curvature;
    }
    if (c < cost) {
      cost = c;
      target = n;
    }
  }
}

template <class TBorders>
void TMelaxMesh::WideFanCost(int v, const TBorders& borders, TScratch& scratch, double& cost, int& target) {
  const std::span<const int> neighbors = links_[v].Neighbors.items(), faces = links_[v].Faces.items();
  const size_t k = neighbors.size(), f = faces.size();
  TLargeVector<int>& slotOf = scratch.SlotOf;
  std::vector<int>& sideStart = scratch.SideStart;
  std::vector<int>& sideFill = scratch.SideFill;
  std::vector<int>& sideNormal = scratch.SideNormal;
  std::vector<int>& slotOfCorner = scratch.SlotOfCorner;
  std::vector<T3DPoint>& normals = scratch.Normals;
  std::vector<double>& flatness = scratch.Flatness;
  std::vector<uint8_t>& columnReady = scratch.ColumnReady;
  {
    for (size_t j = 0; j < k; ++j) slotOf[neighbors[j]] = static_cast<int>(j);

    // Distinct normals, and for every neighbour j the normals of its side faces
    // (sideStart[j] .. sideStart[j + 1] in sideNormal), in face order.
    normals.clear();
    sideStart.assign(k + 1, 0);
    slotOfCorner.resize(3 * f);
    for (size_t i = 0; i < f; ++i) {
      const TTriangle& triangle = triangles_[faces[i]];
      const T3DPoint& n = triangle.Normal;
      size_t id = 0;
      while (id < normals.size() && !SameNormal(normals[id], n)) ++id;
      if (id == normals.size()) normals.push_back(n);
      int corner = 0;
      slotOfCorner[3 * i] = static_cast<int>(id);
      for (const int c : triangle.Corners) {
        if (c == v) continue;
        const int j = slotOf[c];
        if (corner < 2) slotOfCorner[3 * i + 1 + corner++] = j;
        if (j >= 0) ++sideStart[j + 1];
      }
      while (corner < 2) slotOfCorner[3 * i + 1 + corner++] = -1;
    }
    for (const int n : neighbors) slotOf[n] = -1;
    for (size_t j = 0; j < k; ++j) sideStart[j + 1] += sideStart[j];
    sideNormal.resize(sideStart[k]);
    sideFill.assign(sideStart.begin(), sideStart.end() - 1);
    for (size_t i = 0; i < f; ++i)
      for (int corner = 0; corner < 2; ++corner)
        if (const int j = slotOfCorner[3 * i + 1 + corner]; j >= 0) sideNormal[sideFill[j]++] = slotOfCorner[3 * i];

    // Column s of 1 - |N(f) . N(s)| over the distinct normals f, made when first
    // needed, and 0 from m up to PaddedColumn(m) (see TwoSideCurvature).
    const size_t m = normals.size(), stride = PaddedColumn(m);
    flatness.resize(m * stride);
    columnReady.assign(m, 0);
    auto column = [&](size_t side) -> const double* {
      double* values = &flatness[side * stride];
      if (!columnReady[side]) {
        const T3DPoint& sn = normals[side];
        for (size_t i = 0; i < m; ++i) values[i] = Flatness(normals[i], sn);
        std::fill(values + m, values + stride, 0.0);
        columnReady[side] = 1;
      }
      return values;
    };
    // Curvature of the edge to neighbour j.
    auto curvatureOf = [&](size_t j) {
      const int first = sideStart[j], last = sideStart[j + 1];
      double curvature = 0;
      if (last - first == 2) {
        // The common case: an edge inside a manifold surface.
        const double* s0 = column(static_cast<size_t>(sideNormal[first]));
        return TwoSideCurvature(s0, column(static_cast<size_t>(sideNormal[first + 1])), m);
      }
      for (size_t i = 0; i < m; ++i) {
        double d = 1;
        for (int p = first; p < last; ++p) {
          const double value = column(static_cast<size_t>(sideNormal[p]))[i];
          if (value < d) d = value;
        }
        if (d > curvature) curvature = d;
      }
      return curvature;
    };

    const T3DPoint& a = point_[v].Position;
    cost = kNoTargetCost;
    for (size_t j = 0; j < k; ++j) {
      const int n = neighbors[j];
      const int sideCount = sideStart[j + 1] - sideStart[j];
      // An edge with fewer than two faces makes both ends border vertices for good,
      // which changes the cost of the edges at v that come after this one.
      if (sideCount < 2) borders.Open(v, n);
      // No edge undercuts a cost of 0, and the columns it would need are not made.
      if (cost <= 0) continue;
      const T3DPoint& b = point_[n].Position;
      const double dx = double(b.X) - a.X, dy = double(b.Y) - a.Y, dz = double(b.Z) - a.Z;
      const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
      const double c = borders.Is(v, j) || borders.Is(n, j) ? length : length * curvatureOf(j);
      if (c < cost) {
        cost = c;
        target = n;
      }
    }
  }
}

// When u goes onto v, a neighbour n of u that lost no face and whose faces kept
// their normals (a flat patch, the common case in a reconstruction) keeps every edge
// cost but two: the edge to u is gone and the edge to v is new or changed.  The
// cheapest edge then stays what it was unless it was one of those two, or the edge
// to v undercuts it; only that edge needs costing.  Its far ends' border flags must
// be those of the last full costing, and no edge may newly mark a border.
// A neighbour that lost a face with both u and v (one of the two beside the
// collapsed edge) qualifies too when the normals at it are still the same set: the
// lost face's normal also belongs to one of its remaining faces.  Then the edge
// costs other than those to u and v are what they were.
void TMelaxMesh::UpdateEdgeCostAtVertex(int n, int u, int v) {
  const int target = cost_[n].Target;
  if (n == v || (touched_[n] & kNewNormal) || target == u || target == v ||
      ((touched_[n] & kLostFace) && !KeepsItsNormals(n)) || !UpdateForNewEdge(n, v))
    ComputeEdgeCostAtVertex(n);
}

bool TMelaxMesh::KeepsItsNormals(int n) const {
  for (const int lost : lostFaces_) {
    if (!HasCorner(lost, n)) continue;
    const T3DPoint& normal = triangles_[lost].Normal;
    bool kept = false;
    for (const int f : links_[n].Faces) {
      if (SameNormal(triangles_[f].Normal, normal)) {
        kept = true;
        break;
      }
    }
    if (!kept) return false;
  }
  return true;
}

bool TMelaxMesh::UpdateForNewEdge(int n, int v) {
  const TIndexList& neighbors = links_[n].Neighbors;
  const uint32_t since = cost_[n].Clock;
  if (neighbors.empty() || point_[n].Border > since) return false;
  const int target = cost_[n].Target;
  // No vertex at all became a border vertex since n was costed (the common case
  // once the mesh's rim is known): the far ends need not be read.
  if (since != borderClock_)
    for (const int w : neighbors)
      if (point_[w].Border > since) return false;
  const size_t k = neighbors.size();
  const auto [newAt, targetAt] = neighbors.find(v, target);
  const int newSlot = newAt < k ? static_cast<int>(newAt) : -1,
            targetSlot = targetAt < k ? static_cast<int>(targetAt) : -1;
  cost_[n].Clock = borderClock_;
  // No face joins n to v: the edge to u just went away.
  if (newSlot < 0) return true;
  // Edge costs are never negative, so a later edge cannot beat a cost of 0.  When
  // two of the faces moved onto v have n as a corner, the new edge cannot mark a
  // border either, and n's faces need not be read.
  const double best = cost_[n].Cost;
  if ((touched_[n] & kTwoSides) && targetSlot >= 0 && newSlot > targetSlot && best <= 0) return true;
  const TIndexList& faces = links_[n].Faces;
  sides_.clear();
  for (const int f : faces)
    if (HasCorner(f, v)) sides_.push_back(f);
  const bool border = point_[n].Border || point_[v].Border;
  if (sides_.size() < 2 && !(point_[n].Border && point_[v].Border)) return false;
  if (targetSlot >= 0 && newSlot > targetSlot && best <= 0) return true;

  const T3DPoint& a = point_[n].Position;
  const T3DPoint& b = point_[v].Position;
  const double dx = double(b.X) - a.X, dy = double(b.Y) - a.Y, dz = double(b.Z) - a.Z;
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  double c = length;
  if (!border) {
    double curvature = 0;
    if (sides_.size() == 2) {
      // The usual edge between two faces: both side normals stay in registers.
      // The cost only grows with the curvature (rounding keeps that order), so once
      // the product is dearer than the cheapest edge the other faces cannot change that.
      const T3DPoint s0 = triangles_[sides_[0]].Normal, s1 = triangles_[sides_[1]].Normal;
      for (const int f : faces) {
        const T3DPoint& fn = triangles_[f].Normal;
        double d = 1;
        if (const double value = Flatness(fn, s0); value < d) d = value;
        if (const double value = Flatness(fn, s1); value < d) d = value;
        if (d > curvature) {
          curvature = d;
          if (length * curvature > best) return true;
        }
      }
    } else {
      for (const int f : faces) {
        const T3DPoint& fn = triangles_[f].Normal;
        double d = 1;
        for (const int s : sides_)
          if (const double value = Flatness(fn, triangles_[s].Normal); value < d) d = value;
        if (d > curvature) curvature = d;
      }
    }
    c = length * curvature;
  }
  if (c < best || (c == best && targetSlot >= 0 && newSlot < targetSlot)) {
    cost_[n].Cost = c;
    cost_[n].Target = v;
    tree_->Set(n, c);
  }
  return true;
}

void TMelaxMesh::UnlinkIfNoCommonFace(int a, int b) {
  // Neighbour lists are symmetric, and a face of a has b as a corner exactly when a
  // face of b has a: one search of the shorter lists answers for both directions (a
  // hub may have hundreds of entries).
  const bool aShorter = links_[a].Neighbors.size() <= links_[b].Neighbors.size();
  if (!links_[aShorter ? a : b].Neighbors.contains(aShorter ? b : a)) return;
  const int other = links_[b].Faces.size() < links_[a].Faces.size() ? a : b;
  for (const int f : links_[other == a ? b : a].Faces)
    if (HasCorner(f, other)) return;
  links_[a].Neighbors.remove(b);
  links_[b].Neighbors.remove(a);
}

void TMelaxMesh::DestroyTriangle(int t, int dying) {
  triangles_[t].Alive = 0;
  const std::array<int, 3> corners = triangles_[t].Corners;
  for (const int c : corners) touched_[c] |= kLostFace;
  lostFaces_.push_back(t);
  for (const int c : corners) links_[c].Faces.remove(t);
  for (int i = 0; i < 3; ++i) {
    const int a = corners[i], b = corners[(i + 1) % 3];
    if (a == dying || b == dying) continue;
    UnlinkIfNoCommonFace(a, b);
  }
}

void TMelaxMesh::DestroyVertex(int v, const TIndexList& neighbors) {
  for (const int n : neighbors) links_[n].Neighbors.remove(v);
  links_[v].Neighbors.release();
  links_[v].Faces.release();
  alive_[v] = 0;
  --liveVertices_;
  tree_->Remove(v);
}

void TMelaxMesh::ReplaceVertex(int t, int oldVertex, int newVertex) {
  std::array<int, 3>& corners = triangles_[t].Corners;
  // A live face's corners are distinct, so oldVertex is exactly one of them.
  for (int& c : corners) c = PickIf(c == oldVertex, newVertex, c);
  // oldVertex keeps t in its face list: the list goes with it right after.
  links_[newVertex].Faces.push_back(t);
  // The other two corners already list each other, as corners of a live face do.
  // Neighbour lists are symmetric, so the marks of newVertex's entries also say
  // which corners list newVertex; they spare a search of a hub's long list.
  for (const int c : corners) {
    if (c == newVertex) continue;
    touched_[c] |= touched_[c] & kOneSide ? kTwoSides : kOneSide;
    if (touched_[c] & kInTargetList) continue;
    touched_[c] |= kInTargetList;
    links_[newVertex].Neighbors.push_back(c);
    links_[c].Neighbors.push_back(newVertex);
  }
  const T3DPoint before = triangles_[t].Normal;
  ComputeNormal(t);
  const T3DPoint& after = triangles_[t].Normal;
  if (!SameNormal(before, after))
    for (const int c : corners) touched_[c] |= kNewNormal;
}

void TMelaxMesh::Collapse(int u, int v) {
  // Nothing reads u's neighbour list before u is destroyed, so the collapse takes it.
  const TIndexList neighbors(std::move(links_[u].Neighbors));
  // Everything below works on these vertices; their records are asked for early
  // to overlap the cache misses.
  TIndexList& faces = links_[u].Faces;
  for (const int f : faces) __builtin_prefetch(&triangles_[f]);
  for (const int n : neighbors) {
    PrefetchLinks(n);
    __builtin_prefetch(&point_[n]);
    __builtin_prefetch(&cost_[n]);
    tree_->Prefetch(n);
  }
  lostFaces_.clear();
  if (v < 0) {
    // Only a vertex whose edge costs are all undefined (non-finite coordinates) has
    // neighbours but no target; its triangles go with it rather than keep a
    // corner that no longer exists.
    for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i) DestroyTriangle(faces[i], u);
    for (const int n : neighbors) touched_[n] |= kNewNormal;
  } else {
    for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i)
      if (HasCorner(faces[i], v)) DestroyTriangle(faces[i], u);
    // From here until u is destroyed v's neighbour list only grows, so marks of its
    // entries stay true.
    for (const int n : links_[v].Neighbors) touched_[n] |= kInTargetList;
    for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i) ReplaceVertex(faces[i], u, v);
    for (const int n : links_[v].Neighbors) touched_[n] &= ~kInTargetList;
  }
  DestroyVertex(u, neighbors);
  // Re-costing a neighbour reads its faces, scattered over the triangle array: those
  // of the neighbours a few places ahead are asked for while this one is costed.
  constexpr size_t kAhead = 2;
  const size_t count = neighbors.size();
  for (size_t i = 0; i < std::min(count, kAhead); ++i) PrefetchFaces(neighbors[i]);
  // The re-costings below mostly leave the next vertex to collapse as it is: its
  // records are fetched while they run, its lists first and what they point to
  // halfway.
  const int next = tree_->Cheapest();
  if (next >= 0) {
    PrefetchLinks(next);
    __builtin_prefetch(&cost_[next]);
  }
  for (size_t i = 0; i < count; ++i) {
    if (i + kAhead < count) PrefetchFaces(neighbors[i + kAhead]);
    UpdateEdgeCostAtVertex(neighbors[i], u, v);
    if (i == count / 2 && next >= 0) PrefetchCollapse(next);
  }
  if (next >= 0) PrefetchLostFaces(next);
  for (const int n : neighbors) touched_[n] = 0;
  touched_[u] = 0;
  if (v >= 0) touched_[v] = 0;
}

void TMelaxMesh::Reduce(int maxVertices) {
  const int start = liveVertices_;
  const int collapses = start - maxVertices;
  while (liveVertices_ > maxVertices) {
    const int u = tree_->Cheapest();
    Collapse(u, cost_[u].Target);
    if ((liveVertices_ & 126) == 126)
      ReportProgress(static_cast<int>(int64_t(start - liveVertices_) * 100 / collapses));
  }
}

void TMelaxMesh::Rebuild(TSurfaceColorModel& model) const {
  auto* textured = dynamic_cast<TTextureModel*>(&model);
  const std::vector<uint32_t> oldColors = model.Colors;
  std::vector<TTexCoord> oldTexCoords;
  if (textured) oldTexCoords = textured->TexCoords;

  std::vector<int> newIndex(point_.size(), -1);
  int count = 0;
  for (size_t i = 0; i < point_.size(); ++i)
    if (alive_[i]) newIndex[i] = count++;
  int triangleCount = 0;
  for (const TTriangle& t : triangles_) triangleCount += t.Alive ? 1 : 0;

  model.SetVertexCount(count);
  model.SetTriangleCount(triangleCount);
  for (size_t i = 0; i < point_.size(); ++i) {
    const int k = newIndex[i];
    if (k < 0) continue;
    model.Vertices[k] = point_[i].Position;
    model.Colors[k] = oldColors[i];
    if (textured) textured->TexCoords[k] = oldTexCoords[i];
  }
  int j = 0;
  for (const TTriangle& t : triangles_) {
    if (!t.Alive) continue;
    const std::array<int, 3>& c = t.Corners;
    model.Triangles[j++] = T3DTriangle{static_cast<uint32_t>(newIndex[c[0]]), static_cast<uint32_t>(newIndex[c[1]]),
                                       static_cast<uint32_t>(newIndex[c[2]])};
  }
}

}  // namespace

void MelaxReduce(TSurfaceColorModel& model, int maxVertices) {
  TMelaxMesh mesh(model);
  mesh.Reduce(std::max(maxVertices, 0));
  mesh.Rebuild(model);
  ReportProgress(100);
}

}  // namespace sq
