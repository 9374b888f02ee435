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
#include "model3d/melax_reduce.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "base/exception.h"
#include "base/format.h"
#include "base/progress.h"
#include "model3d/texture_model.h"

namespace sq {

namespace {

constexpr double kNoTargetCost = 1.7e308;

// An ordered list of indices that keeps its first few entries inside the vertex
// record: a vertex of a surface mesh has about six neighbours and six faces, so most
// lists never touch the heap and a vertex's data stays together in memory.
class TIndexList {
 public:
  TIndexList() = default;
  TIndexList(const TIndexList& other) { *this = other; }
  TIndexList& operator=(const TIndexList& other) {
    if (this == &other) return *this;
    size_ = 0;
    for (const int item : other) push_back(item);
    return *this;
  }

  const int* begin() const { return heap_ ? heap_.get() : inline_; }
  const int* end() const { return begin() + size_; }
  int* data() { return heap_ ? heap_.get() : inline_; }
  int operator[](size_t i) const { return begin()[i]; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool contains(int item) const { return std::find(begin(), end(), item) != end(); }

  void push_back(int item) {
    if (size_ == capacity_) Grow();
    data()[size_++] = item;
  }
  // Removes the first occurrence, keeping the order of the rest.
  void remove(int item) {
    int* first = data();
    int* last = first + size_;
    int* it = std::find(first, last, item);
    if (it == last) return;
    std::copy(it + 1, last, it);
    --size_;
  }
  void add_unique(int item) {
    if (!contains(item)) push_back(item);
  }
  void release() {
    heap_.reset();
    size_ = 0;
    capacity_ = kInline;
  }

 private:
  static constexpr uint32_t kInline = 6;
  void Grow() {
    auto bigger = std::make_unique<int[]>(capacity_ * 2);
    std::copy(begin(), end(), bigger.get());
    heap_ = std::move(bigger);
    capacity_ *= 2;
  }
  uint32_t size_ = 0;
  uint32_t capacity_ = kInline;
  int inline_[kInline];
  std::unique_ptr<int[]> heap_;
};

// Always yields the cheapest live vertex, the lowest index among equal costs.  The
// nodes hold their keys, so an update touches only the path to the root.
class TCostTree {
 public:
  explicit TCostTree(const std::vector<double>& costs) {
    leaves_ = 1;
    while (leaves_ < costs.size()) leaves_ *= 2;
    node_.assign(2 * leaves_, TKey{kDead, -1});
    for (size_t i = 0; i < costs.size(); ++i) node_[leaves_ + i] = TKey{costs[i], static_cast<int>(i)};
    for (size_t i = leaves_ - 1; i >= 1; --i) node_[i] = Better(node_[2 * i], node_[2 * i + 1]);
  }
  int Cheapest() const { return node_[1].Index; }
  void Set(int vertex, double cost) {
    size_t i = leaves_ + static_cast<size_t>(vertex);
    node_[i].Cost = cost;
    for (i /= 2; i >= 1; i /= 2) {
      const TKey best = Better(node_[2 * i], node_[2 * i + 1]);
      if (best.Index == node_[i].Index && best.Cost == node_[i].Cost && best.Index != vertex) break;
      node_[i] = best;
    }
  }
  void Remove(int vertex) { Set(vertex, kDead); }

 private:
  // Above every real cost (at most 1.7e308): removed vertices and unused leaves.
  static constexpr double kDead = std::numeric_limits<double>::infinity();
  struct TKey {
    double Cost;
    int Index;
  };
  // The left key always has the lower index, so it wins ties.
  static TKey Better(const TKey& left, const TKey& right) { return right.Cost < left.Cost ? right : left; }
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
  void ComputeNormal(int t);
  double EdgeCollapseCost(int u, int v);
  void ComputeEdgeCostAtVertex(int v);
  bool HasCorner(int t, int v) const {
    const std::array<int, 3>& c = corners_[t];
    return c[0] == v || c[1] == v || c[2] == v;
  }
  void RemoveIfNonNeighbor(int a, int b);
  // Pairs with `dying`, the vertex being collapsed, keep their neighbour entries:
  // DestroyVertex removes them right after, and removing an entry early or late
  // leaves the order of the others the same.
  void DestroyTriangle(int t, int dying);
  void DestroyVertex(int v);
  // oldVertex is always the vertex being collapsed; see DestroyTriangle.
  void ReplaceVertex(int t, int oldVertex, int newVertex);
  void Collapse(int u, int v);

  // Vertices, one array per field: the cost loops touch positions and border flags
  // of many vertices, and keeping those dense keeps them in cache.
  std::vector<T3DPoint> position_;
  std::vector<uint8_t> border_;
  std::vector<uint8_t> alive_;
  std::vector<TIndexList> neighbors_;
  std::vector<TIndexList> faces_;
  std::vector<double> cost_;
  std::vector<int> target_;
  // Triangles.
  std::vector<std::array<int, 3>> corners_;
  std::vector<T3DPoint> normal_;
  std::vector<uint8_t> triangleAlive_;

  int liveVertices_ = 0;
  std::unique_ptr<TCostTree> tree_;
  std::vector<int> sides_;
};

TMelaxMesh::TMelaxMesh(const TSurfaceColorModel& model) {
  const int vertexCount = model.VertexCount;
  const size_t n = static_cast<size_t>(vertexCount);
  position_.assign(model.Vertices.begin(), model.Vertices.begin() + vertexCount);
  border_.assign(n, 0);
  alive_.assign(n, 1);
  neighbors_.resize(n);
  faces_.resize(n);
  cost_.assign(n, 0);
  target_.assign(n, -1);
  liveVertices_ = vertexCount;
  corners_.reserve(static_cast<size_t>(model.TriangleCount));
  for (const T3DTriangle& corners : model.Triangles) {
    for (const uint32_t c : corners)
      if (c >= static_cast<uint32_t>(vertexCount))
        throw EBadFormat(Format("Invalid point in face list: %u", c));
    // A triangle with a repeated corner would keep a collapsed vertex alive in its
    // corner list; it has no area, so it is left out.
    if (corners[0] == corners[1] || corners[1] == corners[2] || corners[0] == corners[2]) continue;
    const int t = static_cast<int>(corners_.size());
    corners_.push_back({static_cast<int>(corners[0]), static_cast<int>(corners[1]), static_cast<int>(corners[2])});
    normal_.emplace_back();
    triangleAlive_.push_back(1);
    ComputeNormal(t);
    for (int i = 0; i < 3; ++i) {
      const int vertex = corners_[t][i];
      faces_[vertex].push_back(t);
      for (int j = 0; j < 3; ++j)
        if (i != j) neighbors_[vertex].add_unique(corners_[t][j]);
    }
  }
  for (int v = 0; v < vertexCount; ++v) ComputeEdgeCostAtVertex(v);
  tree_ = std::make_unique<TCostTree>(cost_);
}

void TMelaxMesh::ComputeNormal(int t) {
  const T3DPoint& a = position_[corners_[t][0]];
  const T3DPoint& b = position_[corners_[t][1]];
  const T3DPoint& c = position_[corners_[t][2]];
  const double ux = double(b.X) - a.X, uy = double(b.Y) - a.Y, uz = double(b.Z) - a.Z;
  const double vx = double(c.X) - b.X, vy = double(c.Y) - b.Y, vz = double(c.Z) - b.Z;
  double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
  if (nx != 0 || ny != 0 || nz != 0) {
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= length;
    ny /= length;
    nz /= length;
  }
  normal_[t] = T3DPoint{static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(nz)};
}

double TMelaxMesh::EdgeCollapseCost(int u, int v) {
  const T3DPoint& a = position_[u];
  const T3DPoint& b = position_[v];
  const double dx = double(b.X) - a.X, dy = double(b.Y) - a.Y, dz = double(b.Z) - a.Z;
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  // Both ends on the border: the sides would mark nothing new.
  if (border_[u] && border_[v]) return length;
  sides_.clear();
  for (const int f : faces_[u])
    if (HasCorner(f, v)) sides_.push_back(f);
  if (sides_.size() < 2) border_[u] = border_[v] = 1;
  if (border_[u] || border_[v]) return length;
  double curvature = 0;
  for (const int f : faces_[u]) {
    const T3DPoint& n = normal_[f];
    double m = 1;
    for (const int s : sides_) {
      const T3DPoint& sn = normal_[s];
      const double d = 1 - std::fabs(double(n.X) * sn.X + double(n.Y) * sn.Y + double(n.Z) * sn.Z);
      if (d < m) m = d;
    }
    if (m > curvature) curvature = m;
  }
  return length * curvature;
}

void TMelaxMesh::ComputeEdgeCostAtVertex(int v) {
  const TIndexList& neighbors = neighbors_[v];
  double cost = -1;
  int target = -1;
  if (!neighbors.empty()) {
    // The neighbours lie anywhere in memory once collapses have moved edges around;
    // asking for all of them at once overlaps the cache misses.
    for (const int n : neighbors) {
      __builtin_prefetch(&position_[n]);
      __builtin_prefetch(&border_[n]);
    }
    for (const int f : faces_[v]) {
      __builtin_prefetch(&corners_[f]);
      __builtin_prefetch(&normal_[f]);
    }
    cost = kNoTargetCost;
    // Indexing: EdgeCollapseCost does not change neighbour lists.
    for (size_t i = 0; i < neighbors.size(); ++i) {
      const int n = neighbors[i];
      const double c = EdgeCollapseCost(v, n);
      if (c < cost) {
        cost = c;
        target = n;
      }
    }
  }
  cost_[v] = cost;
  target_[v] = target;
  if (tree_) tree_->Set(v, cost);
}

void TMelaxMesh::RemoveIfNonNeighbor(int a, int b) {
  if (!neighbors_[a].contains(b)) return;
  for (const int f : faces_[a])
    if (HasCorner(f, b)) return;
  neighbors_[a].remove(b);
}

void TMelaxMesh::DestroyTriangle(int t, int dying) {
  triangleAlive_[t] = 0;
  const std::array<int, 3> corners = corners_[t];
  for (const int c : corners) faces_[c].remove(t);
  for (int i = 0; i < 3; ++i) {
    const int a = corners[i], b = corners[(i + 1) % 3];
    if (a == dying || b == dying) continue;
    RemoveIfNonNeighbor(a, b);
    RemoveIfNonNeighbor(b, a);
  }
}

void TMelaxMesh::DestroyVertex(int v) {
  for (const int n : neighbors_[v]) neighbors_[n].remove(v);
  neighbors_[v].release();
  faces_[v].release();
  alive_[v] = 0;
  --liveVertices_;
  tree_->Remove(v);
}

void TMelaxMesh::ReplaceVertex(int t, int oldVertex, int newVertex) {
  std::array<int, 3>& corners = corners_[t];
  for (int& c : corners)
    if (c == oldVertex) {
      c = newVertex;
      break;
    }
  faces_[oldVertex].remove(t);
  faces_[newVertex].push_back(t);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (i != j) neighbors_[corners[i]].add_unique(corners[j]);
  ComputeNormal(t);
}

void TMelaxMesh::Collapse(int u, int v) {
  const TIndexList neighbors = neighbors_[u];
  TIndexList& faces = faces_[u];
  if (v < 0) {
    // Only a vertex whose edge costs are all undefined (non-finite coordinates) has
    // neighbours but no target; its triangles go with it rather than keep a
    // corner that no longer exists.
    for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i) DestroyTriangle(faces[i], u);
  } else {
    for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i)
      if (HasCorner(faces[i], v)) DestroyTriangle(faces[i], u);
    for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i) ReplaceVertex(faces[i], u, v);
  }
  DestroyVertex(u);
  for (const int n : neighbors) {
    __builtin_prefetch(&neighbors_[n]);
    __builtin_prefetch(&faces_[n]);
  }
  for (const int n : neighbors) ComputeEdgeCostAtVertex(n);
}

void TMelaxMesh::Reduce(int maxVertices) {
  const int start = liveVertices_;
  const int collapses = start - maxVertices;
  while (liveVertices_ > maxVertices) {
    const int u = tree_->Cheapest();
    Collapse(u, target_[u]);
    if ((liveVertices_ & 126) == 126)
      ReportProgress(static_cast<int>(int64_t(start - liveVertices_) * 100 / collapses));
  }
}

void TMelaxMesh::Rebuild(TSurfaceColorModel& model) const {
  auto* textured = dynamic_cast<TTextureModel*>(&model);
  const std::vector<uint32_t> oldColors = model.Colors;
  std::vector<TTexCoord> oldTexCoords;
  if (textured) oldTexCoords = textured->TexCoords;

  std::vector<int> newIndex(position_.size(), -1);
  int count = 0;
  for (size_t i = 0; i < position_.size(); ++i)
    if (alive_[i]) newIndex[i] = count++;
  int triangleCount = 0;
  for (const uint8_t alive : triangleAlive_) triangleCount += alive;

  model.SetVertexCount(count);
  model.SetTriangleCount(triangleCount);
  for (size_t i = 0; i < position_.size(); ++i) {
    const int k = newIndex[i];
    if (k < 0) continue;
    model.Vertices[k] = position_[i];
    model.Colors[k] = oldColors[i];
    if (textured) textured->TexCoords[k] = oldTexCoords[i];
  }
  int j = 0;
  for (size_t t = 0; t < corners_.size(); ++t) {
    if (!triangleAlive_[t]) continue;
    const std::array<int, 3>& c = corners_[t];
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
