#include "project/triangulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace sq;

namespace {

using Wide = __int128;
struct P {
  Wide x, y;
};

bool Crosses(P i, P j, P p, P q) {
  const Wide a1 = i.y - j.y, b1 = j.x - i.x, c1 = i.x * a1 + i.y * b1;
  const Wide a2 = p.y - q.y, b2 = q.x - p.x, c2 = p.x * a2 + p.y * b2, det = a1 * b2 - a2 * b1;
  if (det == 0) return false;
  const Wide x = (c1 * b2 - c2 * b1) / det, y = (a1 * c2 - a2 * c1) / det;
  auto in = [](Wide v, Wide a, Wide b) { return v >= std::min(a, b) && v <= std::max(a, b); };
  return in(x, i.x, j.x) && in(x, p.x, q.x) && in(y, i.y, j.y) && in(y, p.y, q.y);
}

Wide Side(P a, P b, P p) { return (a.x - p.x) * (a.y - b.y) + (a.y - p.y) * (b.x - a.x); }

// The greedy procedure written out plainly: every round rescans all pairs.
TTriangulation BruteForce(const std::vector<PointPair>& pts) {
  TTriangulation out;
  const int n = static_cast<int>(pts.size());
  if (n < 3 || n > kMaxPointPairs) return out.Result = 1, out;
  std::vector<P> img[2];
  for (const PointPair& p : pts) img[0].push_back({p.x1, p.y1}), img[1].push_back({p.x2, p.y2});
  for (int i = 0; i < n - 1; ++i)
    for (int j = i + 1; j < n; ++j)
      for (const auto& im : img)
        if (im[i].x == im[j].x && im[i].y == im[j].y) return out.Result = i + 1, out;
  out.MeshBuilt = true;
  std::vector<char> taken(n * n, 0);
  auto& edges = out.Edges;
  for (;;) {
    Wide best = 2147000000;
    int bi = -1, bj = -1;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        if (taken[i * n + j]) continue;
        Wide d = 0;
        for (const auto& im : img)
          d += (im[i].x - im[j].x) * (im[i].x - im[j].x) + (im[i].y - im[j].y) * (im[i].y - im[j].y);
        if (d >= best) continue;
        bool ok = true;
        for (const auto& im : img)
          for (const MeshEdge& e : edges) {
            const int p = e.p1 - 1, q = e.p2 - 1;
            if (ok && p != i && p != j && q != i && q != j && Crosses(im[i], im[j], im[p], im[q])) ok = false;
          }
        if (ok)
          best = d, bi = i, bj = j;
        else
          taken[i * n + j] = 1;
      }
    if (bi < 0 || edges.size() == 2000) break;
    edges.push_back({bi + 1, bj + 1});
    taken[bi * n + bj] = 1;
  }
  const int m = static_cast<int>(edges.size());
  for (int a = 0; a < m; ++a)
    for (int b = a + 1; b < m; ++b) {
      const int u = edges[a].p1, v = edges[a].p2, s = edges[b].p1, w = edges[b].p2;
      if (u != s && u != w) continue;
      const int c = u == s ? w : s;
      for (int k = a + 1; k < m; ++k) {
        if (k == b || !((edges[k].p1 == v && edges[k].p2 == c) || (edges[k].p1 == c && edges[k].p2 == v))) continue;
        bool empty = true;
        for (const auto& im : img)
          for (int p = 0; p < n; ++p)
            if (p != u - 1 && p != v - 1 && p != c - 1 && Side(im[u - 1], im[v - 1], im[p]) <= 0 &&
                Side(im[v - 1], im[c - 1], im[p]) <= 0 && Side(im[c - 1], im[u - 1], im[p]) <= 0)
              empty = false;
        if (!empty) continue;
        if (out.Triangles.size() == 4000) out.Triangles.pop_back();
        out.Triangles.push_back({u, v, c});
        break;
      }
    }
  for (int p = 1; p <= n; ++p)
    if (std::none_of(out.Triangles.begin(), out.Triangles.end(),
                     [p](const MeshTriangle& t) { return t.p1 == p || t.p2 == p || t.p3 == p; }))
      return out.Result = p, out;
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
  for (int round = 0; round < 2400; ++round) {
    const int kind = round % 6, n = uni(3, kind == 5 ? 40 : 14);
    std::vector<PointPair> pts;
    for (int i = 0; i < n; ++i) {
      const int x = uni(0, 3999), y = uni(0, 2999), t = uni(-50, 50), cx = uni(-1, 1) * 2000000000;
      switch (kind) {
        case 0:  // a small lattice: duplicates, collinear triples, parallel edges
          pts.push_back({uni(0, 5), uni(0, 5), uni(0, 5), uni(0, 5)});
          break;
        case 1:  // folds: image 2 unrelated to image 1
          pts.push_back({uni(0, 99), uni(0, 99), uni(0, 99), uni(0, 99)});
          break;
        case 2:  // points on one line in both images
          pts.push_back({3 * t, 2 * t + 7, -t, 5 * t});
          break;
        case 3:  // far-apart clusters near the 32-bit limits: wide arithmetic, the distance bound
          pts.push_back({cx + uni(-30000, 30000), uni(-30000, 30000), cx + uni(-30000, 30000), uni(-30000, 30000)});
          break;
        default:  // stereo pairs: image 2 is image 1 shifted a little
          pts.push_back({x, y, x + uni(-200, 200), y + uni(-20, 20)});
      }
    }
    ExpectSame(pts, "round " + std::to_string(round));
  }
}

TEST(Triangulation, StopsAtTwoThousandEdges) {
  // Collinear edges never cross, so 64 points on a line accept pairs until the cap.
  std::vector<PointPair> pts;
  for (int i = 0; i < 64; ++i) pts.push_back({i, 0, 0, 2 * i});
  EXPECT_EQ(TriangulatePoints(pts).Edges.size(), 2000u);
  ExpectSame(pts, "collinear");
}

TEST(Triangulation, SmallCases) {
  // A triangle: edges by combined length, the triangle from the shortest edge; three
  // collinear points give the same shape of result.
  for (int y3 : {4, 0}) {
    const TTriangulation mesh =
        TriangulatePoints(std::vector<PointPair>{{0, 0, 0, 0}, {10, 0, 10, 0}, {y3 ? 0 : 5, y3, y3 ? 0 : 5, y3}});
    EXPECT_EQ(mesh.Result, 0);
    EXPECT_TRUE((mesh.Edges == std::vector<MeshEdge>{{1, 3}, {y3 ? 1 : 2, y3 ? 2 : 3}, {y3 ? 2 : 1, y3 ? 3 : 2}}));
    EXPECT_TRUE((mesh.Triangles == std::vector<MeshTriangle>{{1, 3, 2}}));
  }
  // A square folded in image 2: side (2, 3) of image 1 crosses (1, 4) in image 2, and
  // diagonal (2, 4) crosses (1, 3) in image 1.
  TTriangulation mesh =
      TriangulatePoints(std::vector<PointPair>{{0, 0, 0, 0}, {10, 0, 10, 0}, {10, 10, 0, 10}, {0, 10, 10, 10}});
  EXPECT_TRUE((mesh.Edges == std::vector<MeshEdge>{{1, 2}, {3, 4}, {1, 3}, {1, 4}}));
  EXPECT_EQ(mesh.Result, 2);
  // Duplicates in image 2 only: the lower index, and no mesh.
  mesh = TriangulatePoints(std::vector<PointPair>{{0, 0, 0, 0}, {5, 5, 1, 1}, {9, 0, 2, 2}, {0, 9, 1, 1}});
  EXPECT_EQ(mesh.Result, 2);
  EXPECT_FALSE(mesh.MeshBuilt);
}
