// A point cloud with one colour per vertex.
#pragma once

#include "model3d/base_3d_model.h"

namespace sq {

class TColorPoint3DModel : public TBase3DModel {
 public:
  std::string ClassName() const override { return "TColorPoint3DModel"; }

  void SetVertexCount(int count) override;
  void ReadChunk(TBaseStream& stream, int type) override;
  void RemoveDuplicatePoints() override;
  void Render(TBase3DRenderer& renderer, const T3DPoint* vertices) override;

  // Sets every vertex colour to the 0x00RRGGBB value.
  void FillColor(uint32_t color);

  // 0x00RRGGBB per vertex: red in bits 16-23, blue in bits 0-7.
  std::vector<uint32_t> Colors;

 protected:
  // Set while a version-5 M3D file is read: whether a colour chunk has been seen,
  // and the colour of the last fill chunk (applied after the last chunk, so a fill
  // that comes before the vertices still reaches them).
  bool colorChunkRead_ = false;
  bool fillColorPending_ = false;
  uint32_t pendingFillColor_ = 0;
};

}  // namespace sq
