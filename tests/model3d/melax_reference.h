// The reduction written plainly, as a reference for the fast one: object lists,
// a linear scan for the cheapest vertex at every step.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "model3d/texture_model.h"

namespace sq::reference {

struct Triangle;

struct Vertex {
  T3DPoint Position;
  int Id;
  std::vector<Vertex*> Neighbors;
  std::vector<Triangle*> Faces;
  double Cost = 0;
  Vertex* CollapseTarget = nullptr;
  bool Border = false;
};

struct Triangle {
  Vertex* Corners[3];
  T3DPoint Normal;
  bool HasVertex(const Vertex* v) const { return Corners[0] == v || Corners[1] == v || Corners[2] == v; }
};

template <class T>
void Remove(std::vector<T*>& list, T* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}
template <class T>
void AddUnique(std::vector<T*>& list, T* item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

class Reducer {
 public:
  std::vector<Vertex*> AllVertices;
  std::vector<Triangle*> AllTriangles;

  ~Reducer() {
    for (Vertex* v : AllVertices) delete v;
    for (Triangle* t : AllTriangles) delete t;
  }

  void ComputeNormal(Triangle& t) {
    const T3DPoint &a = t.Corners[0]->Position, &b = t.Corners[1]->Position, &c = t.Corners[2]->Position;
    const double ux = double(b.X) - a.X, uy = double(b.Y) - a.Y, uz = double(b.Z) - a.Z;
    const double vx = double(c.X) - b.X, vy = double(c.Y) - b.Y, vz = double(c.Z) - b.Z;
    double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    if (nx != 0 || ny != 0 || nz != 0) {
      const double l = std::sqrt(nx * nx + ny * ny + nz * nz);
      nx /= l, ny /= l, nz /= l;
    }
    t.Normal = {float(nx), float(ny), float(nz)};
  }

  void NewTriangle(Vertex* a, Vertex* b, Vertex* c) {
    auto* t = new Triangle{{a, b, c}, {}};
    ComputeNormal(*t);
    AllTriangles.push_back(t);
    for (int i = 0; i < 3; ++i) {
      t->Corners[i]->Faces.push_back(t);
      for (int j = 0; j < 3; ++j)
        if (i != j) AddUnique(t->Corners[i]->Neighbors, t->Corners[j]);
    }
  }

  void RemoveIfNonNeighbor(Vertex* a, Vertex* b) {
    if (std::find(a->Neighbors.begin(), a->Neighbors.end(), b) == a->Neighbors.end()) return;
    for (Triangle* f : a->Faces)
      if (f->HasVertex(b)) return;
    Remove(a->Neighbors, b);
  }

  void DestroyTriangle(Triangle* t) {
    Remove(AllTriangles, t);
    for (Vertex* c : t->Corners) Remove(c->Faces, t);
    for (int i = 0; i < 3; ++i) {
      RemoveIfNonNeighbor(t->Corners[i], t->Corners[(i + 1) % 3]);
      RemoveIfNonNeighbor(t->Corners[(i + 1) % 3], t->Corners[i]);
    }
    delete t;
  }

  void DestroyVertex(Vertex* v) {
    while (!v->Neighbors.empty()) {
      Remove(v->Neighbors.front()->Neighbors, v);
      Remove(v->Neighbors, v->Neighbors.front());
    }
    Remove(AllVertices, v);
    delete v;
  }

  double EdgeCollapseCost(Vertex* u, Vertex* v) {
    std::vector<Triangle*> sides;
    for (Triangle* f : u->Faces)
      if (f->HasVertex(v)) sides.push_back(f);
    if (sides.size() < 2) u->Border = v->Border = true;
    const double dx = double(v->Position.X) - u->Position.X, dy = double(v->Position.Y) - u->Position.Y,
                 dz = double(v->Position.Z) - u->Position.Z;
    const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (u->Border || v->Border) return length;
    double curvature = 0;
    for (Triangle* f : u->Faces) {
      double m = 1;
      for (Triangle* s : sides) {
        const double d = 1 - std::fabs(double(f->Normal.X) * s->Normal.X + double(f->Normal.Y) * s->Normal.Y +
                                       double(f->Normal.Z) * s->Normal.Z);
        if (d < m) m = d;
      }
      if (m > curvature) curvature = m;
    }
    return length * curvature;
  }

  void ComputeEdgeCostAtVertex(Vertex* v) {
    if (v->Neighbors.empty()) {
      v->CollapseTarget = nullptr;
      v->Cost = -1;
      return;
    }
    v->Cost = 1.7e308;
    v->CollapseTarget = nullptr;
    for (size_t i = 0; i < v->Neighbors.size(); ++i) {
      const double c = EdgeCollapseCost(v, v->Neighbors[i]);
      if (c < v->Cost) {
        v->Cost = c;
        v->CollapseTarget = v->Neighbors[i];
      }
    }
  }

  Vertex* MinimumCostVertex() {
    Vertex* best = AllVertices.front();
    for (Vertex* v : AllVertices)
      if (v->Cost < best->Cost) best = v;
    return best;
  }

  void ReplaceVertex(Triangle* t, Vertex* vold, Vertex* vnew) {
    for (Vertex*& c : t->Corners)
      if (c == vold) {
        c = vnew;
        break;
      }
    Remove(vold->Faces, t);
    vnew->Faces.push_back(t);
    for (Vertex* c : t->Corners) {
      RemoveIfNonNeighbor(vold, c);
      RemoveIfNonNeighbor(c, vold);
    }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        if (i != j) AddUnique(t->Corners[i]->Neighbors, t->Corners[j]);
    ComputeNormal(*t);
  }

  void Collapse(Vertex* u, Vertex* v) {
    const std::vector<Vertex*> tmp = u->Neighbors;
    if (!v) {
      // Non-finite positions only: the vertex takes its triangles with it.
      for (int i = int(u->Faces.size()) - 1; i >= 0; --i) DestroyTriangle(u->Faces[i]);
      DestroyVertex(u);
      for (Vertex* n : tmp) ComputeEdgeCostAtVertex(n);
      return;
    }
    for (int i = int(u->Faces.size()) - 1; i >= 0; --i)
      if (u->Faces[i]->HasVertex(v)) DestroyTriangle(u->Faces[i]);
    for (int i = int(u->Faces.size()) - 1; i >= 0; --i) ReplaceVertex(u->Faces[i], u, v);
    DestroyVertex(u);
    for (Vertex* n : tmp) ComputeEdgeCostAtVertex(n);
  }
};

// Same contract as MelaxReduce; models without repeated corners only.
inline void PlainMelaxReduce(TSurfaceColorModel& model, int maxVertices) {
  Reducer r;
  for (int i = 0; i < model.VertexCount; ++i) r.AllVertices.push_back(new Vertex{model.Vertices[i], i, {}, {}});
  for (const T3DTriangle& t : model.Triangles)
    r.NewTriangle(r.AllVertices[t[0]], r.AllVertices[t[1]], r.AllVertices[t[2]]);
  for (Vertex* v : r.AllVertices) r.ComputeEdgeCostAtVertex(v);
  while (int(r.AllVertices.size()) > maxVertices) {
    Vertex* u = r.MinimumCostVertex();
    r.Collapse(u, u->CollapseTarget);
  }
  auto* textured = dynamic_cast<TTextureModel*>(&model);
  const std::vector<uint32_t> oldColors = model.Colors;
  std::vector<TTexCoord> oldTex;
  if (textured) oldTex = textured->TexCoords;
  model.SetVertexCount(int(r.AllVertices.size()));
  model.SetTriangleCount(int(r.AllTriangles.size()));
  for (size_t i = 0; i < r.AllVertices.size(); ++i) {
    Vertex* v = r.AllVertices[i];
    model.Colors[i] = oldColors[v->Id];
    if (textured) textured->TexCoords[i] = oldTex[v->Id];
    v->Id = int(i);
    model.Vertices[i] = v->Position;
  }
  for (size_t j = 0; j < r.AllTriangles.size(); ++j) {
    const Triangle* t = r.AllTriangles[j];
    model.Triangles[j] = {uint32_t(t->Corners[0]->Id), uint32_t(t->Corners[1]->Id), uint32_t(t->Corners[2]->Id)};
  }
}

}  // namespace sq::reference
