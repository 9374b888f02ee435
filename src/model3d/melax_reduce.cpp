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
#include <cmath>
#include <limits>

#include "base/exception.h"
#include "base/format.h"
#include "base/progress.h"
#include "model3d/texture_model.h"

namespace sq {

namespace {

constexpr double kNoTargetCost = 1.7e308;

struct TMelaxVertex {
  T3DPoint Position;
  std::vector<int> Neighbors;
  std::vector<int> Faces;
  double Cost = 0;
  int CollapseTarget = -1;
  bool Border = false;
  bool Alive = true;
};

struct TMelaxTriangle {
  int Corners[3];
  T3DPoint Normal;
  bool Alive = true;
};

void RemoveItem(std::vector<int>& list, int item) {
  const auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

void AddUnique(std::vector<int>& list, int item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// Always yields the cheapest live vertex, the lowest index among equal costs.
class TCostTree {
 public:
  explicit TCostTree(const std::vector<TMelaxVertex>& vertices) : vertices_(vertices) {
    leaves_ = 1;
    while (leaves_ < vertices.size()) leaves_ *= 2;
    node_.assign(2 * leaves_, -1);
    for (size_t i = 0; i < vertices.size(); ++i) node_[leaves_ + i] = static_cast<int>(i);
    for (size_t i = leaves_ - 1; i >= 1; --i) node_[i] = Better(node_[2 * i], node_[2 * i + 1]);
  }
  int Cheapest() const { return node_[1]; }
  void Update(int vertex) {
    size_t i = (leaves_ + static_cast<size_t>(vertex)) / 2;
    for (; i >= 1; i /= 2) {
      const int best = Better(node_[2 * i], node_[2 * i + 1]);
      if (node_[i] == best && best != vertex) break;
      node_[i] = best;
    }
  }

 private:
  int Better(int a, int b) const {
    if (a < 0 || !vertices_[a].Alive) return (b >= 0 && vertices_[b].Alive) ? b : -1;
    if (b < 0 || !vertices_[b].Alive) return a;
    // a < b always holds here (left before right), so equal costs keep a.
    return vertices_[b].Cost < vertices_[a].Cost ? b : a;
  }
  const std::vector<TMelaxVertex>& vertices_;
  size_t leaves_;
  std::vector<int> node_;
};

class TMelaxMesh {
 public:
  TMelaxMesh(const TSurfaceColorModel& model);
  // Runs the collapses; returns the surviving vertices and triangles.
  void Reduce(int maxVertices);
  void Rebuild(TSurfaceColorModel& model) const;

 private:
  void ComputeNormal(TMelaxTriangle& t);
  double EdgeCollapseCost(int u, int v);
  void ComputeEdgeCostAtVertex(int v);
  bool HasCorner(int t, int v) const {
    const int* c = triangles_[t].Corners;
    return c[0] == v || c[1] == v || c[2] == v;
  }
  void RemoveIfNonNeighbor(int a, int b);
  void DestroyTriangle(int t);
  void DestroyVertex(int v);
  void ReplaceVertex(int t, int oldVertex, int newVertex);
  void Collapse(int u, int v);

  std::vector<TMelaxVertex> vertices_;
  std::vector<TMelaxTriangle> triangles_;
  int liveVertices_ = 0;
  std::unique_ptr<TCostTree> tree_;
  std::vector<int> scratch_;
};

TMelaxMesh::TMelaxMesh(const TSurfaceColorModel& model) {
  const int vertexCount = model.VertexCount;
  vertices_.resize(static_cast<size_t>(vertexCount));
  for (int i = 0; i < vertexCount; ++i) vertices_[i].Position = model.Vertices[i];
  liveVertices_ = vertexCount;
  triangles_.reserve(static_cast<size_t>(model.TriangleCount));
  for (const T3DTriangle& corners : model.Triangles) {
    for (const uint32_t c : corners)
      if (c >= static_cast<uint32_t>(vertexCount))
        throw EBadFormat(Format("Invalid point in face list: %u", c));
    // A triangle with a repeated corner would keep a collapsed vertex alive in its
    // corner list; it has no area, so it is left out.
    if (corners[0] == corners[1] || corners[1] == corners[2] || corners[0] == corners[2]) continue;
    const int t = static_cast<int>(triangles_.size());
    TMelaxTriangle& triangle = triangles_.emplace_back();
    for (int k = 0; k < 3; ++k) triangle.Corners[k] = static_cast<int>(corners[k]);
    ComputeNormal(triangle);
    for (int i = 0; i < 3; ++i) {
      TMelaxVertex& vertex = vertices_[triangle.Corners[i]];
      vertex.Faces.push_back(t);
      for (int j = 0; j < 3; ++j)
        if (i != j) AddUnique(vertex.Neighbors, triangle.Corners[j]);
    }
  }
  for (int v = 0; v < vertexCount; ++v) ComputeEdgeCostAtVertex(v);
  tree_ = std::make_unique<TCostTree>(vertices_);
}

void TMelaxMesh::ComputeNormal(TMelaxTriangle& t) {
  const T3DPoint& a = vertices_[t.Corners[0]].Position;
  const T3DPoint& b = vertices_[t.Corners[1]].Position;
  const T3DPoint& c = vertices_[t.Corners[2]].Position;
  const double ux = double(b.X) - a.X, uy = double(b.Y) - a.Y, uz = double(b.Z) - a.Z;
  const double vx = double(c.X) - b.X, vy = double(c.Y) - b.Y, vz = double(c.Z) - b.Z;
  double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
  if (nx != 0 || ny != 0 || nz != 0) {
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= length;
    ny /= length;
    nz /= length;
  }
  t.Normal = T3DPoint{static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(nz)};
}

double TMelaxMesh::EdgeCollapseCost(int u, int v) {
  TMelaxVertex& a = vertices_[u];
  TMelaxVertex& b = vertices_[v];
  std::vector<int>& sides = scratch_;
  sides.clear();
  for (const int f : a.Faces)
    if (HasCorner(f, v)) sides.push_back(f);
  if (sides.size() < 2) a.Border = b.Border = true;
  const double dx = double(b.Position.X) - a.Position.X;
  const double dy = double(b.Position.Y) - a.Position.Y;
  const double dz = double(b.Position.Z) - a.Position.Z;
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  if (a.Border || b.Border) return length;
  double curvature = 0;
  for (const int f : a.Faces) {
    const T3DPoint& n = triangles_[f].Normal;
    double m = 1;
    for (const int s : sides) {
      const T3DPoint& sn = triangles_[s].Normal;
      const double d = 1 - std::fabs(double(n.X) * sn.X + double(n.Y) * sn.Y + double(n.Z) * sn.Z);
      if (d < m) m = d;
    }
    if (m > curvature) curvature = m;
  }
  return length * curvature;
}

void TMelaxMesh::ComputeEdgeCostAtVertex(int v) {
  TMelaxVertex& vertex = vertices_[v];
  if (vertex.Neighbors.empty()) {
    vertex.CollapseTarget = -1;
    vertex.Cost = -1;
  } else {
    vertex.Cost = kNoTargetCost;
    vertex.CollapseTarget = -1;
    // Indexing: EdgeCollapseCost does not change neighbour lists.
    for (size_t i = 0; i < vertex.Neighbors.size(); ++i) {
      const int n = vertex.Neighbors[i];
      const double c = EdgeCollapseCost(v, n);
      if (c < vertex.Cost) {
        vertex.Cost = c;
        vertex.CollapseTarget = n;
      }
    }
  }
  if (tree_) tree_->Update(v);
}

void TMelaxMesh::RemoveIfNonNeighbor(int a, int b) {
  TMelaxVertex& vertex = vertices_[a];
  if (std::find(vertex.Neighbors.begin(), vertex.Neighbors.end(), b) == vertex.Neighbors.end()) return;
  for (const int f : vertex.Faces)
    if (HasCorner(f, b)) return;
  RemoveItem(vertex.Neighbors, b);
}

void TMelaxMesh::DestroyTriangle(int t) {
  TMelaxTriangle& triangle = triangles_[t];
  triangle.Alive = false;
  for (const int c : triangle.Corners) RemoveItem(vertices_[c].Faces, t);
  for (int i = 0; i < 3; ++i) {
    const int a = triangle.Corners[i], b = triangle.Corners[(i + 1) % 3];
    RemoveIfNonNeighbor(a, b);
    RemoveIfNonNeighbor(b, a);
  }
}

void TMelaxMesh::DestroyVertex(int v) {
  TMelaxVertex& vertex = vertices_[v];
  for (const int n : vertex.Neighbors) RemoveItem(vertices_[n].Neighbors, v);
  vertex.Neighbors.clear();
  vertex.Neighbors.shrink_to_fit();
  vertex.Faces.clear();
  vertex.Faces.shrink_to_fit();
  vertex.Alive = false;
  --liveVertices_;
  tree_->Update(v);
}

void TMelaxMesh::ReplaceVertex(int t, int oldVertex, int newVertex) {
  TMelaxTriangle& triangle = triangles_[t];
  for (int& c : triangle.Corners)
    if (c == oldVertex) {
      c = newVertex;
      break;
    }
  RemoveItem(vertices_[oldVertex].Faces, t);
  vertices_[newVertex].Faces.push_back(t);
  for (const int c : triangle.Corners) {
    RemoveIfNonNeighbor(oldVertex, c);
    RemoveIfNonNeighbor(c, oldVertex);
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (i != j) AddUnique(vertices_[triangle.Corners[i]].Neighbors, triangle.Corners[j]);
  ComputeNormal(triangle);
}

void TMelaxMesh::Collapse(int u, int v) {
  std::vector<int>& faces = vertices_[u].Faces;
  if (v < 0) {
    // Only a vertex whose edge costs are all undefined (non-finite coordinates) has
    // neighbours but no target; its triangles go with it rather than keep a
    // corner that no longer exists.
    for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i) DestroyTriangle(faces[i]);
    const std::vector<int> neighbors = vertices_[u].Neighbors;
    DestroyVertex(u);
    for (const int n : neighbors) ComputeEdgeCostAtVertex(n);
    return;
  }
  const std::vector<int> neighbors = vertices_[u].Neighbors;
  for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i)
    if (HasCorner(faces[i], v)) DestroyTriangle(faces[i]);
  for (int i = static_cast<int>(faces.size()) - 1; i >= 0; --i) ReplaceVertex(faces[i], u, v);
  DestroyVertex(u);
  for (const int n : neighbors) ComputeEdgeCostAtVertex(n);
}

void TMelaxMesh::Reduce(int maxVertices) {
  const int start = liveVertices_;
  const int collapses = start - maxVertices;
  while (liveVertices_ > maxVertices) {
    const int u = tree_->Cheapest();
    Collapse(u, vertices_[u].CollapseTarget);
    if ((liveVertices_ & 126) == 126)
      ReportProgress(static_cast<int>(int64_t(start - liveVertices_) * 100 / collapses));
  }
}

void TMelaxMesh::Rebuild(TSurfaceColorModel& model) const {
  auto* textured = dynamic_cast<TTextureModel*>(&model);
  const std::vector<uint32_t> oldColors = model.Colors;
  std::vector<TTexCoord> oldTexCoords;
  if (textured) oldTexCoords = textured->TexCoords;

  std::vector<int> newIndex(vertices_.size(), -1);
  int count = 0;
  for (size_t i = 0; i < vertices_.size(); ++i)
    if (vertices_[i].Alive) newIndex[i] = count++;
  int triangleCount = 0;
  for (const TMelaxTriangle& t : triangles_) triangleCount += t.Alive;

  model.SetVertexCount(count);
  model.SetTriangleCount(triangleCount);
  for (size_t i = 0; i < vertices_.size(); ++i) {
    const int k = newIndex[i];
    if (k < 0) continue;
    model.Vertices[k] = vertices_[i].Position;
    model.Colors[k] = oldColors[i];
    if (textured) textured->TexCoords[k] = oldTexCoords[i];
  }
  int j = 0;
  for (const TMelaxTriangle& t : triangles_) {
    if (!t.Alive) continue;
    model.Triangles[j++] = T3DTriangle{static_cast<uint32_t>(newIndex[t.Corners[0]]),
                                       static_cast<uint32_t>(newIndex[t.Corners[1]]),
                                       static_cast<uint32_t>(newIndex[t.Corners[2]])};
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
