// The 3D model class tree: a point cloud (TBase3DModel), a coloured point cloud, a
// coloured triangle surface and a textured surface.  Models persist through the
// stream-class interface in the native chunked M3D format, ASCII PLY, or any format a
// model loader registers by extension (VRML export registers ".wrl").
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/stream_class.h"

namespace sq {

class TBase3DRenderer;
class TBaseStream;

// One vertex position, a face normal or a vertex normal: three singles.
struct T3DPoint {
  float X;
  float Y;
  float Z;
};

// Texture pixel coordinates (column, row), not 0..1 fractions.
struct TTexCoord {
  float U;
  float V;
};

// Three vertex indices in the order that defines the front side.
using T3DTriangle = std::array<uint32_t, 3>;

// A 4 x 4 row-major matrix; m[row][column].  Only the first three rows are used.
using T3DMatrix = std::array<std::array<double, 4>, 4>;

// Render mode codes of RenderMode.
enum : uint32_t {
  rmDefault = 0,
  rmPoints = 1,
  rmColorBlocks = 17,
  rmWireframe = 18,
  rmFlat = 19,
  rmGouraud = 20,
  rmTexture = 33,
  rmGouraudTexture = 34,
};

// FileFormat codes; loaders registered at index i get 2 + i.
enum : uint8_t { ffM3D = 0, ffPLY = 1, ffFirstLoader = 2 };

class T3DModelLoader;

// What the registry knows of a loader class: its name, which extensions it serves
// (upper case, no dot) and how to make an instance.
struct T3DModelLoaderClass {
  std::string Name;
  std::function<bool(const std::string& extension)> CanHandle;
  std::function<std::unique_ptr<T3DModelLoader>()> Create;
};

class TBase3DModel : public TStreamClass {
 public:
  TBase3DModel() = default;
  TBase3DModel(const TBase3DModel&) = delete;
  TBase3DModel& operator=(const TBase3DModel&) = delete;
  ~TBase3DModel() override = default;

  std::string ClassName() const override { return "TBase3DModel"; }

  void SaveToStream(TBaseStream& stream) override;
  void LoadFromStream(TBaseStream& stream) override;
  // SetFileFormat from the extension, then the base's atomic save.
  void SaveToFile(const std::string& fileName) override;
  void LoadFromFile(const std::string& fileName) override;

  // Resizes the per-vertex arrays keeping the leading entries; nothing when unchanged.
  virtual void SetVertexCount(int count);
  // Reads one M3D chunk body; the base knows no chunk types.
  virtual void ReadChunk(TBaseStream& stream, int type);
  // Merges vertices at the same place (and of the same colour).
  virtual void RemoveDuplicatePoints();
  // Draws the model with the renderer; vertices are transformed positions, or
  // nullptr for the model's own Vertices.  Defined with the renderer.
  virtual void Render(TBase3DRenderer& renderer, const T3DPoint* vertices);
  // FileFormat from the file name's extension; raises "Unsupported file format: %s".
  virtual void SetFileFormat(const std::string& fileName);

  // Moves the centroid to the origin and scales the mean distance from it to 1
  // unless it is already within 5 percent.
  void Normalize();
  // Writes the first three rows of matrix applied to every vertex into destination
  // (VertexCount entries), or into Vertices when destination is nullptr.
  void TransformVertices(const T3DMatrix& matrix, T3DPoint* destination = nullptr);

  // The loader registry.  Returns the new loader's index (its FileFormat is 2 + index).
  static int RegisterModelLoader(T3DModelLoaderClass loaderClass);

  int32_t VertexCount = 0;  // change only through SetVertexCount
  uint8_t FileFormat = ffM3D;
  std::vector<T3DPoint> Vertices;
  uint32_t RenderMode = rmDefault;

 protected:
  // Saving and loading through the registered loader of FileFormat (at least 2).
  void SaveThroughLoader(TBaseStream& stream);
  void LoadThroughLoader(TBaseStream& stream);
};

// Loader classes registered so far, in registration order (the built-in VRML writer
// is always among them).
const std::vector<T3DModelLoaderClass>& ModelLoaders();

// "*.m3d;*.ply": the native formats only.
extern const char* const ModelFileExtensions;
// "M3D (*.m3d)|*.m3d|PLY (*.ply)|*.ply" followed by the entries of registered formats.
const std::string& ModelFileFilter();
// Registering formats append their own "|Name (*.ext)|*.ext" entry.
void AppendModelFileFilter(const std::string& entry);

// Base of the formats attached by extension.  A loader serves one model, which it
// does not own.
class T3DModelLoader : public TStreamClass {
 public:
  std::string ClassName() const override { return "T3DModelLoader"; }
  TBase3DModel* Model = nullptr;
};

}  // namespace sq
