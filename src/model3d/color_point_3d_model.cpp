#include "model3d/color_point_3d_model.h"

#include <algorithm>

#include "io/base_stream.h"
#include "model3d/m3d_chunks.h"
#include "model3d/merge_points.h"

namespace sq {

void TColorPoint3DModel::SetVertexCount(int count) {
  if (count < 0) count = 0;
  if (count == VertexCount) return;
  Colors.resize(static_cast<size_t>(count));
  TBase3DModel::SetVertexCount(count);
}

void TColorPoint3DModel::FillColor(uint32_t color) { std::fill(Colors.begin(), Colors.end(), color); }

void TColorPoint3DModel::ReadChunk(TBaseStream& stream, int type) {
  switch (type) {
    case 1: {
      // Taken over rather than copied; SetVertexCount then sizes the other arrays.
      std::vector<T3DPoint> vertices = ReadVertexChunk(stream);
      const int count = static_cast<int>(vertices.size());
      Vertices = std::move(vertices);
      SetVertexCount(count);
      break;
    }
    case 5:
      ReadCompressedArray(stream, Colors);
      colorChunkRead_ = true;
      fillColorPending_ = false;
      break;
    case 6:
      pendingFillColor_ = stream.ReadUInt32();
      FillColor(pendingFillColor_);
      colorChunkRead_ = true;
      fillColorPending_ = true;
      break;
    default:
      TBase3DModel::ReadChunk(stream, type);
  }
}

void TColorPoint3DModel::RemoveDuplicatePoints() {
  const std::vector<int> target = FindMergeTargets(Vertices, &Colors, /*exact=*/true);
  int n = VertexCount;
  for (int i = VertexCount - 1; i >= 1; --i) {
    if (target[i] < 0) continue;
    --n;
    Vertices[i] = Vertices[n];
    Colors[i] = Colors[n];
  }
  SetVertexCount(n);
}

}  // namespace sq
