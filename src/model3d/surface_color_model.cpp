#include "model3d/surface_color_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "base/exception.h"
#include "base/format.h"
#include "io/base_stream.h"
#include "model3d/m3d_chunks.h"
#include "model3d/merge_points.h"

namespace sq {

void LightStandard(uint32_t color, TRGBSingle& rgb, float intensity, float) {
  const float g = std::min(intensity, 1.0f);
  rgb.R = static_cast<float>((color >> 16) & 0xFF) * g;
  rgb.G = static_cast<float>((color >> 8) & 0xFF) * g;
  rgb.B = static_cast<float>(color & 0xFF) * g;
}

void TSurfaceColorModel::SaveToStream(TBaseStream& stream) {
  if (FileFormat == ffM3D)
    SaveM3D(stream);
  else if (FileFormat == ffPLY)
    SavePLY(stream);
  else
    TColorPoint3DModel::SaveToStream(stream);
}

void TSurfaceColorModel::LoadFromStream(TBaseStream& stream) {
  if (FileFormat == ffM3D)
    LoadM3D(stream);
  else if (FileFormat == ffPLY)
    LoadPLY(stream);
  else
    TColorPoint3DModel::LoadFromStream(stream);
}

void TSurfaceColorModel::SetVertexCount(int count) {
  if (count < 0) count = 0;
  if (count == VertexCount) return;
  VertexLight.clear();
  TColorPoint3DModel::SetVertexCount(count);
}

void TSurfaceColorModel::SetTriangleCount(int count) {
  if (count < 0) count = 0;
  if (count == TriangleCount) return;
  Triangles.resize(static_cast<size_t>(count));
  FaceNormals.clear();
  TriangleCount = count;
}

void TSurfaceColorModel::ReadChunk(TBaseStream& stream, int type) {
  if (type != 2) {
    TColorPoint3DModel::ReadChunk(stream, type);
    return;
  }
  // Taken over rather than copied; SetTriangleCount then drops the face normals.
  std::vector<T3DTriangle> triangles = ReadTriangleChunk(stream);
  const int count = static_cast<int>(triangles.size());
  SetTriangleCount(0);
  Triangles = std::move(triangles);
  SetTriangleCount(count);
}

std::vector<int> TSurfaceColorModel::FindDuplicates() { return FindMergeTargets(Vertices, &Colors, /*exact=*/false); }

void TSurfaceColorModel::MoveVertex(int to, int from) {
  Vertices[to] = Vertices[from];
  Colors[to] = Colors[from];
}

void TSurfaceColorModel::RemoveDuplicatePoints() {
  const std::vector<int> target = FindDuplicates();

  // Merging vertex i into j renames corners i to j, and the last vertex n moves into
  // the freed slot i, renaming corners n to i.  Rather than rewriting every triangle
  // at every merge, corner labels are grouped: each live slot owns one group (a
  // union-find root), and the triangles are rewritten once at the end.
  const int vertexCount = VertexCount;
  std::vector<int> parent(static_cast<size_t>(vertexCount));
  std::iota(parent.begin(), parent.end(), 0);
  std::vector<int> groupOfSlot(parent), slotOfGroup(parent);
  auto find = [&parent](int x) {
    while (parent[x] != x) {
      parent[x] = parent[parent[x]];
      x = parent[x];
    }
    return x;
  };
  int n = vertexCount;
  for (int i = vertexCount - 1; i >= 1; --i) {
    const int j = target[i];
    if (j < 0) continue;
    --n;
    MoveVertex(i, n);
    const int into = groupOfSlot[j];
    parent[groupOfSlot[i]] = into;
    slotOfGroup[into] = j;
    if (n != i) {
      groupOfSlot[i] = groupOfSlot[n];
      slotOfGroup[groupOfSlot[i]] = i;
    }
  }
  for (T3DTriangle& t : Triangles)
    for (uint32_t& c : t)
      if (c < static_cast<uint32_t>(vertexCount)) c = static_cast<uint32_t>(slotOfGroup[find(static_cast<int>(c))]);
  SetVertexCount(n);

  int m = TriangleCount;
  for (int t = TriangleCount - 1; t >= 0; --t) {
    const T3DTriangle& tri = Triangles[t];
    for (const uint32_t c : tri)
      if (c >= static_cast<uint32_t>(VertexCount)) throw EBadFormat(Format("Invalid point in face list: %u", c));
    if (tri[0] == tri[1] || tri[1] == tri[2] || tri[0] == tri[2]) {
      --m;
      Triangles[t] = Triangles[m];
    }
  }
  SetTriangleCount(m);
}

void TSurfaceColorModel::ComputeFaceNormals(const T3DPoint* vertices) {
  const T3DPoint* v = vertices ? vertices : Vertices.data();
  FaceNormals.resize(static_cast<size_t>(TriangleCount));
  for (int t = 0; t < TriangleCount; ++t) {
    const T3DTriangle& tri = Triangles[t];
    FaceNormals[t] = FaceNormal(v[tri[0]], v[tri[1]], v[tri[2]]);
  }
}

void TSurfaceColorModel::ComputeVertexNormalSums(std::vector<T3DPoint>& sums) const {
  sums.assign(static_cast<size_t>(VertexCount), T3DPoint{0, 0, 0});
  if (FaceNormals.size() != Triangles.size()) return;
  SumVertexNormals(Triangles.data(), FaceNormals.data(), 0, TriangleCount, sums.data());
}

void TSurfaceColorModel::ComputeVertexLight(const T3DPoint& light) {
  // Kept between calls: the renderer relights every frame.
  thread_local std::vector<T3DPoint> sums;
  ComputeVertexNormalSums(sums);
  VertexLight.resize(static_cast<size_t>(VertexCount));
  for (int i = 0; i < VertexCount; ++i)
    VertexLight[i] = VertexLightIntensity(sums[i], light.X, light.Y, light.Z, ShowBackSides);
}

void TSurfaceColorModel::MakeSphere(int n) {
  if (n < 2) throw Exception("A sphere needs at least 2 rings");
  SetVertexCount(n * n);
  SetTriangleCount(2 * n * n);
  int made = 0;
  for (int i = 0; i < n; ++i) {
    const double t = double(i) / (n - 1) * std::numbers::pi;
    const double z = std::cos(t), r = std::sin(t);
    for (int j = 0; j < n; ++j) {
      const double a = double(j) / n * 2 * std::numbers::pi;
      const int k = i * n + j;
      Vertices[k] =
          T3DPoint{static_cast<float>(std::cos(a) * r), static_cast<float>(std::sin(a) * r), static_cast<float>(z)};
      if (i == 0) continue;
      const uint32_t c = static_cast<uint32_t>(j > 0 ? k - n - 1 : k - 1);
      const uint32_t d = static_cast<uint32_t>(j > 0 ? k - 1 : k + n - 1);
      Triangles[made++] = T3DTriangle{uint32_t(k), uint32_t(k - n), c};
      Triangles[made++] = T3DTriangle{uint32_t(k), c, d};
    }
  }
  SetTriangleCount(made);
  RemoveDuplicatePoints();
  Normalize();
}

void TSurfaceColorModel::MakeLathe(std::span<const TLathePoint> profile, std::span<const uint32_t> colors, int steps) {
  const int p = static_cast<int>(profile.size());
  if (p < 1 || steps < 1) throw Exception("A lathe needs a profile and at least one step");
  SetVertexCount(p * steps);
  SetTriangleCount((p - 1) * steps * 2);
  int made = 0;
  for (int i = 0; i < steps; ++i) {
    const double a = double(i) / steps * 2 * std::numbers::pi;
    for (int j = 0; j < p; ++j) {
      const int k = i * p + j;
      Vertices[k] = T3DPoint{static_cast<float>(profile[j].Radius * std::sin(a)), static_cast<float>(profile[j].Height),
                             static_cast<float>(profile[j].Radius * std::cos(a))};
      if (j < static_cast<int>(colors.size())) Colors[k] = colors[j];
      if (j == 0) continue;
      const int m = (i > 0 ? (i - 1) : (steps - 1)) * p + j;
      Triangles[made++] = T3DTriangle{uint32_t(k), uint32_t(m), uint32_t(m - 1)};
      Triangles[made++] = T3DTriangle{uint32_t(k - 1), uint32_t(k), uint32_t(m - 1)};
    }
  }
  RemoveDuplicatePoints();
}

}  // namespace sq
