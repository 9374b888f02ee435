// A triangle surface with a texture image and per-vertex texture coordinates.
#pragma once

#include "imaging/linear_bitmap.h"
#include "model3d/surface_color_model.h"

namespace sq {

class TTextureModel : public TSurfaceColorModel {
 public:
  std::string ClassName() const override { return "TTextureModel"; }

  // Keeps FileName during the save (the VRML writer names the texture file after it).
  void SaveToFile(const std::string& fileName) override;
  void SetVertexCount(int count) override;
  void ReadChunk(TBaseStream& stream, int type) override;
  void Render(TBase3DRenderer& renderer, const T3DPoint* vertices) override;

  // Texture pixel coordinates per vertex.
  std::vector<TTexCoord> TexCoords;
  TLinearBitmap Texture;
  // The file name during SaveToFile only, empty otherwise.
  std::string FileName;

 protected:
  void WriteM3DChunks(TBaseStream& stream) override;
  // Texture coordinates move with their vertices, and vertices with different
  // texture coordinates (a seam) stay apart.
  std::vector<int> FindDuplicates() override;
  void MoveVertex(int to, int from) override;
};

}  // namespace sq
