#include "model3d/model_files.h"

#include "model3d/texture_model.h"

namespace sq {

std::unique_ptr<TSurfaceColorModel> LoadSurfaceModel(const std::string& fileName) {
  auto textured = std::make_unique<TTextureModel>();
  textured->LoadFromFile(fileName);
  if (textured->Texture.Width > 0 && textured->Texture.Height > 0) return textured;
  // Without a texture image the model is an ordinary coloured surface; saving it as
  // one keeps texture chunks out of the files written from it.
  // The arrays move first: sized first, they would be allocated and zero-filled only
  // to be thrown away, tens of megabytes for a reconstruction.
  auto plain = std::make_unique<TSurfaceColorModel>();
  plain->Vertices = std::move(textured->Vertices);
  plain->Colors = std::move(textured->Colors);
  plain->Triangles = std::move(textured->Triangles);
  plain->SetVertexCount(textured->VertexCount);
  plain->SetTriangleCount(textured->TriangleCount);
  plain->FileFormat = textured->FileFormat;
  return plain;
}

}  // namespace sq
