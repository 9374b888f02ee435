// A triangle surface with a colour per vertex and the lighting data the renderer
// needs (face normals, per-vertex light).
#pragma once

#include <cmath>
#include <span>

#include "model3d/color_point_3d_model.h"

namespace sq {

// A colour as three singles, red, green, blue (0..255 scale).
struct TRGBSingle {
  float R;
  float G;
  float B;
};

// Turns a vertex or face colour 0x00RRGGBB and a light intensity into the colour
// drawn; ambient is the model's AmbientLight, which only the *Ambient routines use.
using TLightFunction = void (*)(uint32_t color, TRGBSingle& rgb, float intensity, float ambient);

// g = min(f, 1); (R g, G g, B g).  Every new model starts with it, so it lives with
// the model; the other light routines belong to the renderer.
void LightStandard(uint32_t color, TRGBSingle& rgb, float intensity, float ambient = 0.0f);

// The unnormalised face normal (B - A) x (C - A), in double precision, stored as singles.
inline T3DPoint FaceNormal(const T3DPoint& a, const T3DPoint& b, const T3DPoint& c) {
  const double bx = b.X - a.X, by = b.Y - a.Y, bz = b.Z - a.Z;
  const double cx = c.X - a.X, cy = c.Y - a.Y, cz = c.Z - a.Z;
  return T3DPoint{static_cast<float>(by * cz - bz * cy), static_cast<float>(bz * cx - bx * cz),
                  static_cast<float>(bx * cy - by * cx)};
}

// Adds the normal of each triangle in [begin, end) to the sums of its corners, in
// triangle order, so every caller gets the same bits; only corners in
// [first, first + size) are summed, for callers that share the vertices out.
inline void SumVertexNormals(const T3DTriangle* triangles, const T3DPoint* faceNormals, int64_t begin, int64_t end,
                             T3DPoint* sums, uint32_t first = 0, uint32_t size = UINT32_MAX) {
  for (int64_t t = begin; t < end; ++t) {
    const T3DPoint& n = faceNormals[t];
    for (const uint32_t corner : triangles[t]) {
      if (corner - first >= size) continue;
      T3DPoint& s = sums[corner];
      s.X += n.X;
      s.Y += n.Y;
      s.Z += n.Z;
    }
  }
}

// One point of a lathe profile.
struct TLathePoint {
  int Radius;
  int Height;
};

class TSurfaceColorModel : public TColorPoint3DModel {
 public:
  std::string ClassName() const override { return "TSurfaceColorModel"; }

  void SaveToStream(TBaseStream& stream) override;
  void LoadFromStream(TBaseStream& stream) override;
  void SetVertexCount(int count) override;
  void ReadChunk(TBaseStream& stream, int type) override;
  void RemoveDuplicatePoints() override;
  void Render(TBase3DRenderer& renderer, const T3DPoint* vertices) override;
  // Resizes Triangles keeping the leading entries and discards FaceNormals;
  // nothing when unchanged.
  virtual void SetTriangleCount(int count);

  // Unnormalised face normals (B - A) x (C - A) from vertices (VertexCount entries),
  // or from Vertices when nullptr.
  void ComputeFaceNormals(const T3DPoint* vertices = nullptr);
  // Per-vertex light intensity for the unit light direction, from FaceNormals
  // (which must be computed first).
  void ComputeVertexLight(const T3DPoint& lightDirection);
  // Sums of the face normals of the triangles that use each vertex (zero for a
  // vertex no triangle uses); needs FaceNormals.
  void ComputeVertexNormalSums(std::vector<T3DPoint>& sums) const;

  // The viewer's built-in models.
  void MakeSphere(int n);
  // colors is empty or has one colour per profile point.
  void MakeLathe(std::span<const TLathePoint> profile, std::span<const uint32_t> colors, int steps);

  int32_t TriangleCount = 0;          // change only through SetTriangleCount
  std::vector<T3DPoint> FaceNormals;  // empty when none
  std::vector<T3DTriangle> Triangles;
  std::vector<float> VertexLight;  // empty when none
  bool ShowBackSides = false;
  bool UseNormals = false;
  bool Shading = false;
  TLightFunction LightFunction = LightStandard;
  // The ambient level the *Ambient light routines add; the viewer sets it.
  float AmbientLight = 0.3f;

 protected:
  // M3D version 5 chunks after the signature: vertices and triangles here,
  // texture data in TTextureModel.
  virtual void WriteM3DChunks(TBaseStream& stream);
  void SaveM3D(TBaseStream& stream);
  // inflateAhead reads several chunks at a time and inflates their arrays side by
  // side; without it each chunk is read and applied before the next (the plain
  // reading, which the tests compare against).
  void LoadM3D(TBaseStream& stream, bool inflateAhead = true);
  void ReadChunksAhead(TBaseStream& stream);
  void SavePLY(TBaseStream& stream);
  void LoadPLY(TBaseStream& stream);
  // For RemoveDuplicatePoints: which vertex each one merges into (or -1), and
  // moving one vertex's data into another slot.
  virtual std::vector<int> FindDuplicates();
  virtual void MoveVertex(int to, int from);
};

// A vertex's light intensity from the sum of its face normals and the unit light
// direction (lx, ly, lz): the cosine of their angle, 0 when the vertex faces away
// (its absolute value when back sides are lit too).  The renderer lights vertices as
// it draws them and must give the model's bits, so both use this.
inline float VertexLightIntensity(const T3DPoint& n, double lx, double ly, double lz, bool twoSided) {
  const double d = lx * n.X + ly * n.Y + lz * n.Z;
  const double length = std::sqrt(double(n.X) * n.X + double(n.Y) * n.Y + double(n.Z) * n.Z);
  double intensity = 0;
  if (twoSided) {
    if (d != 0) intensity = std::fabs(d) / length;
  } else if (d > 0) {
    intensity = d / length;
  }
  return static_cast<float>(intensity);
}

}  // namespace sq
