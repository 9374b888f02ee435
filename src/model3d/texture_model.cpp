#include "model3d/texture_model.h"

#include "base/exception.h"
#include "base/scope_guard.h"
#include "io/base_stream.h"
#include "io/memory_stream.h"
#include "model3d/m3d_chunks.h"
#include "model3d/merge_points.h"

namespace sq {

void TTextureModel::SaveToFile(const std::string& fileName) {
  FileName = fileName;
  const TScopeGuard clearName([this] { FileName.clear(); });
  TSurfaceColorModel::SaveToFile(fileName);
}

void TTextureModel::SetVertexCount(int count) {
  if (count < 0) count = 0;
  if (count == VertexCount) return;
  TexCoords.resize(static_cast<size_t>(count));
  TSurfaceColorModel::SetVertexCount(count);
}

void TTextureModel::ReadChunk(TBaseStream& stream, int type) {
  switch (type) {
    case 3:
      ReadCompressedArray(stream, TexCoords);
      break;
    case 4:
      Texture.LoadFromStream(stream, "PNG");
      break;
    case 7:
      Texture.LoadFromStream(stream, "JPG");
      break;
    default:
      TSurfaceColorModel::ReadChunk(stream, type);
  }
}

std::vector<int> TTextureModel::FindDuplicates() {
  return FindMergeTargets(Vertices, &Colors, /*exact=*/false, &TexCoords);
}

void TTextureModel::MoveVertex(int to, int from) {
  TSurfaceColorModel::MoveVertex(to, from);
  TexCoords[to] = TexCoords[from];
}

void TTextureModel::WriteM3DChunks(TBaseStream& stream) {
  TSurfaceColorModel::WriteM3DChunks(stream);
  {
    TChunkWriter chunk(stream, 3);
    chunk.WriteCompressed(TexCoords.data(), TexCoords.size() * sizeof(TTexCoord));
    chunk.Finish();
  }
  if (Texture.Height > 1) {
    TChunkWriter chunk(stream, 4);
    if (Texture.PixelFormat == pf32bit) {
      // Converted on a copy: saving must not change the model's texture.
      TLinearBitmap texture(Texture);
      texture.SetPixelFormat(pf24bit);
      texture.SaveToStream(chunk.Body(), "PNG");
    } else {
      Texture.SaveToStream(chunk.Body(), "PNG");
    }
    chunk.Finish();
  }
}

}  // namespace sq
