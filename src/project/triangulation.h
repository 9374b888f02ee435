// Greedy shortest-edge triangulation that is valid in image 1 and image 2 at once.
//
// The mesh is defined by a brute-force procedure: repeatedly take the untaken pair
// of least combined squared length D (ties in scan order i < j) that crosses no
// accepted edge in either image, up to 2000 edges; then collect the empty
// triangles from each one's lowest-numbered edge.  TriangulatePoints gives exactly
// that result, edge for edge, but sweeps the pairs once in (D, scan order) instead
// of rescanning them for every edge, and finds crossing candidates through a grid.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "project/correspondence_project.h"

namespace sq {

constexpr int kMaxMeshEdges = 2000;
// Pairs at this combined squared distance or beyond never become edges.
constexpr int64_t kMaxEdgeDistance = 2147000000;

struct MeshEdge {
  int32_t p1 = 0;  // 1-based, p1 < p2
  int32_t p2 = 0;
  friend bool operator==(const MeshEdge&, const MeshEdge&) = default;
};

struct TTriangulation {
  // 0 on success, 1 for fewer than 3 or more than 800 points, the lower index of a
  // duplicated position, or the lowest point that no triangle uses.
  int Result = 0;
  // False when the input was refused before any mesh was built (too few or too
  // many points, duplicates): the caller's mesh must stay untouched.
  bool MeshBuilt = false;
  std::vector<MeshEdge> Edges;          // in the order they were accepted
  std::vector<MeshTriangle> Triangles;  // at most kMaxTriangles
};

TTriangulation TriangulatePoints(std::span<const PointPair> points);

}  // namespace sq
