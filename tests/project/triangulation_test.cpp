#include "project/triangulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "project/correspondence_project.h"

using namespace sq;

namespace {

using Wide = __int128;

// The greedy procedure written out plainly: every round rescans all pairs.
TTriangulation BruteForce(const std::vector<PointPair>& pts) {
  TTriangulation out;
  const int n = static_cast<int>(pts.size());
  if (n < 3 || n > kMaxPointPairs) return out.Result = 1, out;
  for (int i = 0; i < n - 1; ++i)
    for (int j = i + 1; j < n; ++j)
      if ((pts[i].x1 == pts[j].x1 && pts[i].y1 == pts[j].y1) || (pts[i].x2 == pts[j].x2 && pts[i].y2 == pts[j].y2))
        return out.Result = i + 1, out;
  out.MeshBuilt = true;
  auto X = [&](int p, int img) { return Wide(img == 0 ? pts[p].x1 : pts[p].x2); };
  auto Y = [&](int p, int img) { return Wide(img == 0 ? pts[p].y1 : pts[p].y2); };
  auto crosses = [&](int i, int j, int p, int q, int img) {
    Wide a1 = Y(i, img) - Y(j, img), b1 = X(j, img) - X(i, img), c1 = X(i, img) * a1 + Y(i, img) * b1;
    Wide a2 = Y(p, img) - Y(q, img), b2 = X(q, img) - X(p, img), c2 = X(p, img) * a2 + Y(p, img) * b2;
    Wide det = a1 * b2 - a2 * b1;
    if (det == 0) return false;
    Wide x = (c1 * b2 - c2 * b1) / det, y = (a1 * c2 - a2 * c1) / det;
    return x >= std::min(X(i, img), X(j, img)) && x <= std::max(X(i, img), X(j, img)) &&
           x >= std::min(X(p, img), X(q, img)) && x <= std::max(X(p, img), X(q, img)) &&
           y >= std::min(Y(i, img), Y(j, img)) && y <= std::max(Y(i, img), Y(j, img)) &&
           y >= std::min(Y(p, img), Y(q, img)) && y <= std::max(Y(p, img), Y(q, img));
  };
  std::vector<char> taken(n * n, 0);
  std::vector<Wide> dist(n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int img = 0; img < 2; ++img)
        dist[i * n + j] += (X(i, img) - X(j, img)) * (X(i, img) - X(j, img)) + (Y(i, img) - Y(j, img)) * (Y(i, img) - Y(j, img));
  auto& edges = out.Edges;
  for (;;) {
    Wide best = 2147000000;
    int bi = -1, bj = -1;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        if (taken[i * n + j]) continue;
        const Wide d = dist[i * n + j];
        if (d >= best) continue;
        bool ok = true;
        for (int img = 0; img < 2 && ok; ++img)
          for (const MeshEdge& e : edges) {
            const int p = e.p1 - 1, q = e.p2 - 1;
            if (p == i || p == j || q == i || q == j) continue;
            if (crosses(i, j, p, q, img)) {
              ok = false;
              break;
            }
          }
        if (ok)
          best = d, bi = i, bj = j;
        else
          taken[i * n + j] = taken[j * n + i] = 1;
      }
    if (bi < 0 || edges.size() == 2000) break;
    edges.push_back({bi + 1, bj + 1});
    taken[bi * n + bj] = taken[bj * n + bi] = 1;
  }
  auto side = [&](int a, int b, int p, int img) {
    return (X(a, img) - X(p, img)) * (Y(a, img) - Y(b, img)) + (Y(a, img) - Y(p, img)) * (X(b, img) - X(a, img));
  };
  auto empty = [&](int u, int v, int c) {
    for (int img = 0; img < 2; ++img)
      for (int p = 0; p < n; ++p)
        if (p != u && p != v && p != c && side(u, v, p, img) <= 0 && side(v, c, p, img) <= 0 && side(c, u, p, img) <= 0)
          return false;
    return true;
  };
  const int m = static_cast<int>(edges.size());
  for (int a = 0; a < m; ++a)
    for (int b = a + 1; b < m; ++b) {
      const int u = edges[a].p1, v = edges[a].p2, s = edges[b].p1, w = edges[b].p2;
      if (u != s && u != w) continue;
      const int c = u == s ? w : s;
      for (int k = a + 1; k < m; ++k) {
        if (k == b) continue;
        if (!((edges[k].p1 == v && edges[k].p2 == c) || (edges[k].p1 == c && edges[k].p2 == v))) continue;
        if (!empty(u - 1, v - 1, c - 1)) continue;
        if (out.Triangles.size() < 4000)
          out.Triangles.push_back({u, v, c});
        else
          out.Triangles.back() = {u, v, c};
        break;
      }
    }
  for (int p = 1; p <= n; ++p) {
    bool used = false;
    for (const MeshTriangle& t : out.Triangles) used = used || t.p1 == p || t.p2 == p || t.p3 == p;
    if (!used) return out.Result = p, out;
  }
  return out;
}

void ExpectSame(const std::vector<PointPair>& pts, const std::string& what) {
  const TTriangulation fast = TriangulatePoints(pts), slow = BruteForce(pts);
  ASSERT_EQ(fast.Result, slow.Result) << what;
  ASSERT_EQ(fast.MeshBuilt, slow.MeshBuilt) << what;
  ASSERT_TRUE(fast.Edges == slow.Edges) << what << ": " << fast.Edges.size() << " vs " << slow.Edges.size();
  ASSERT_TRUE(fast.Triangles == slow.Triangles) << what;
}

}  // namespace

TEST(Triangulation, MatchesTheGreedyRoundsOnRandomProjects) {
  std::mt19937 rng(20240611);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 3000; ++round) {
    const int kind = round % 6, n = uni(3, kind == 5 ? 40 : 14);
    std::vector<PointPair> pts;
    for (int i = 0; i < n; ++i) {
      PointPair p;
      switch (kind) {
        case 0:  // a small lattice: duplicates, collinear triples, parallel edges
          p = {uni(0, 5), uni(0, 5), uni(0, 5), uni(0, 5)};
          break;
        case 1:  // a stereo pair: image 2 is image 1 shifted a little
          p.x1 = uni(0, 999), p.y1 = uni(0, 999), p.x2 = p.x1 + uni(-30, 30), p.y2 = p.y1 + uni(-3, 3);
          break;
        case 2:  // folds: image 2 unrelated to image 1
          p = {uni(0, 99), uni(0, 99), uni(0, 99), uni(0, 99)};
          break;
        case 3: {  // points on one line in both images
          const int t = uni(-50, 50);
          p = {3 * t, 2 * t + 7, -t, 5 * t};
          break;
        }
        case 4: {  // far-apart clusters near the 32-bit limits: 128-bit tests and the distance bound
          const int cx = uni(-1, 1) * 2000000000, cy = uni(-1, 1) * 30000;
          p = {cx + uni(-30000, 30000), cy + uni(-30000, 30000), cx + uni(-30000, 30000), uni(-30000, 30000)};
          break;
        }
        default:  // larger meshes, where the grid holds many edges
          p.x1 = uni(0, 3999), p.y1 = uni(0, 2999), p.x2 = p.x1 + uni(-200, 200), p.y2 = p.y1 + uni(-20, 20);
      }
      pts.push_back(p);
    }
    ExpectSame(pts, "round " + std::to_string(round));
  }
}

TEST(Triangulation, StopsAtTwoThousandEdges) {
  // Collinear segments never count as crossing, so 64 points on a line accept
  // every pair until the cap.
  std::vector<PointPair> pts;
  for (int i = 0; i < 64; ++i) pts.push_back({(i * 37) % 64, 0, 0, (i * 11) % 64});
  const TTriangulation mesh = TriangulatePoints(pts);
  EXPECT_EQ(mesh.Edges.size(), 2000u);
  ExpectSame(pts, "collinear");
}

TEST(Triangulation, SmallCases) {
  // A triangle: edges by combined length, the triangle from the shortest edge.
  TTriangulation mesh = TriangulatePoints(std::vector<PointPair>{{0, 0, 0, 0}, {10, 0, 10, 0}, {0, 4, 0, 4}});
  EXPECT_EQ(mesh.Result, 0);
  EXPECT_TRUE((mesh.Edges == std::vector<MeshEdge>{{1, 3}, {1, 2}, {2, 3}}));
  EXPECT_TRUE((mesh.Triangles == std::vector<MeshTriangle>{{1, 3, 2}}));

  // Three collinear points: all edges kept, and the flat triangle follows the edges.
  mesh = TriangulatePoints(std::vector<PointPair>{{0, 0, 0, 0}, {10, 0, 10, 0}, {5, 0, 5, 0}});
  EXPECT_EQ(mesh.Result, 0);
  EXPECT_EQ(mesh.Edges.size(), 3u);
  EXPECT_TRUE((mesh.Triangles == std::vector<MeshTriangle>{{1, 3, 2}}));

  // A square in image 1 folded in image 2: side (2, 3) of image 1 crosses (1, 4) in
  // image 2 and is refused; diagonal (2, 4) crosses (1, 3) in image 1.
  mesh = TriangulatePoints(std::vector<PointPair>{{0, 0, 0, 0}, {10, 0, 10, 0}, {10, 10, 0, 10}, {0, 10, 10, 10}});
  EXPECT_TRUE((mesh.Edges == std::vector<MeshEdge>{{1, 2}, {3, 4}, {1, 3}, {1, 4}}));
  EXPECT_EQ(mesh.Result, 2);

  // Duplicates in image 2 only: the lower index, and no mesh.
  mesh = TriangulatePoints(std::vector<PointPair>{{0, 0, 0, 0}, {5, 5, 1, 1}, {9, 0, 2, 2}, {0, 9, 1, 1}});
  EXPECT_EQ(mesh.Result, 2);
  EXPECT_FALSE(mesh.MeshBuilt);
  EXPECT_EQ(TriangulatePoints(std::vector<PointPair>(2)).Result, 1);
}
