// A triangle surface with a colour per vertex and the lighting data the renderer
// needs (face normals, per-vertex light).
#pragma once

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
  void LoadM3D(TBaseStream& stream);
  void SavePLY(TBaseStream& stream);
  void LoadPLY(TBaseStream& stream);
  // For RemoveDuplicatePoints: which vertex each one merges into (or -1), and
  // moving one vertex's data into another slot.
  virtual std::vector<int> FindDuplicates();
  virtual void MoveVertex(int to, int from);
};

}  // namespace sq
