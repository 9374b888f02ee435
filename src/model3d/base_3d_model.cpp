#include "model3d/base_3d_model.h"

#include <cmath>

#include "base/exception.h"
#include "base/format.h"
#include "imaging/linear_bitmap.h"
#include "model3d/merge_points.h"
#include "model3d/vrml_loader.h"

namespace sq {

namespace {

std::vector<T3DModelLoaderClass>& LoaderTable() {
  static std::vector<T3DModelLoaderClass> table;
  return table;
}

std::string& FilterText() {
  static std::string text = "M3D (*.m3d)|*.m3d|PLY (*.ply)|*.ply";
  return text;
}

// The built-in loaders register on first use of the registry, so that every
// program linking the core sees them without depending on static initialisation
// order or on the linker keeping an otherwise unreferenced object file.
// Registration happens at start-up on the main thread; the flag is set first so that
// the built-ins' own RegisterModelLoader calls do not come back here.
void EnsureBuiltInLoaders() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterBuiltInModelLoaders();
}

}  // namespace

const char* const ModelFileExtensions = "*.m3d;*.ply";

const std::vector<T3DModelLoaderClass>& ModelLoaders() {
  EnsureBuiltInLoaders();
  return LoaderTable();
}

const std::string& ModelFileFilter() {
  EnsureBuiltInLoaders();
  return FilterText();
}

void AppendModelFileFilter(const std::string& entry) {
  EnsureBuiltInLoaders();
  FilterText() += entry;
}

int TBase3DModel::RegisterModelLoader(T3DModelLoaderClass loaderClass) {
  EnsureBuiltInLoaders();  // the built-in formats keep the first indices
  auto& table = LoaderTable();
  table.push_back(std::move(loaderClass));
  return static_cast<int>(table.size()) - 1;
}

void TBase3DModel::SetFileFormat(const std::string& fileName) {
  const std::string extension = UpperCase(ExtractFileExtNoDot(fileName));
  if (extension == "M3D") {
    FileFormat = ffM3D;
    return;
  }
  if (extension == "PLY") {
    FileFormat = ffPLY;
    return;
  }
  const auto& loaders = ModelLoaders();
  for (size_t i = 0; i < loaders.size() && i + ffFirstLoader <= 255; ++i) {
    if (loaders[i].CanHandle(extension)) {
      FileFormat = static_cast<uint8_t>(ffFirstLoader + i);
      return;
    }
  }
  throw EUnsupportedFileFormat("Unsupported file format: " + extension);
}

void TBase3DModel::SaveThroughLoader(TBaseStream& stream) {
  const auto& loaders = ModelLoaders();
  const size_t index = static_cast<size_t>(FileFormat - ffFirstLoader);
  if (FileFormat < ffFirstLoader || index >= loaders.size()) return;
  std::unique_ptr<T3DModelLoader> loader = loaders[index].Create();
  loader->Model = this;
  loader->SaveToStream(stream);
}

void TBase3DModel::LoadThroughLoader(TBaseStream& stream) {
  const auto& loaders = ModelLoaders();
  const size_t index = static_cast<size_t>(FileFormat - ffFirstLoader);
  if (FileFormat < ffFirstLoader || index >= loaders.size()) return;
  std::unique_ptr<T3DModelLoader> loader = loaders[index].Create();
  loader->Model = this;
  loader->LoadFromStream(stream);
}

void TBase3DModel::SaveToStream(TBaseStream& stream) { SaveThroughLoader(stream); }

void TBase3DModel::LoadFromStream(TBaseStream& stream) { LoadThroughLoader(stream); }

void TBase3DModel::SaveToFile(const std::string& fileName) {
  SetFileFormat(fileName);
  TStreamClass::SaveToFile(fileName);
}

void TBase3DModel::LoadFromFile(const std::string& fileName) {
  SetFileFormat(fileName);
  TStreamClass::LoadFromFile(fileName);
}

void TBase3DModel::SetVertexCount(int count) {
  if (count < 0) count = 0;
  if (count == VertexCount) return;
  Vertices.resize(static_cast<size_t>(count));
  VertexCount = count;
}

void TBase3DModel::ReadChunk(TBaseStream&, int type) { throw EBadFormat(Format("Unsupported chunk type: %d", type)); }

void TBase3DModel::RemoveDuplicatePoints() {
  // Point clouds merge exactly equal points: the last point moves into the slot of
  // the one that goes.
  const std::vector<int> target = FindMergeTargets(Vertices, nullptr, /*exact=*/true);
  int n = VertexCount;
  for (int i = VertexCount - 1; i >= 1; --i) {
    if (target[i] < 0) continue;
    --n;
    Vertices[i] = Vertices[n];
  }
  SetVertexCount(n);
}

void TBase3DModel::Normalize() {
  if (VertexCount == 0) return;
  double sx = 0, sy = 0, sz = 0;
  for (const T3DPoint& v : Vertices) {
    sx += v.X;
    sy += v.Y;
    sz += v.Z;
  }
  const double mx = sx / VertexCount, my = sy / VertexCount, mz = sz / VertexCount;
  double sum = 0;
  for (T3DPoint& v : Vertices) {
    v.X = static_cast<float>(v.X - mx);
    v.Y = static_cast<float>(v.Y - my);
    v.Z = static_cast<float>(v.Z - mz);
    sum += std::sqrt(double(v.X) * v.X + double(v.Y) * v.Y + double(v.Z) * v.Z);
  }
  if (!(sum > 0)) return;
  const double s = VertexCount / sum;
  if (s >= 0.95 && s <= 1.05) return;
  for (T3DPoint& v : Vertices) {
    v.X = static_cast<float>(v.X * s);
    v.Y = static_cast<float>(v.Y * s);
    v.Z = static_cast<float>(v.Z * s);
  }
}

void TBase3DModel::TransformVertices(const T3DMatrix& m, T3DPoint* destination) {
  T3DPoint* out = destination ? destination : Vertices.data();
  for (int i = 0; i < VertexCount; ++i) {
    const double x = Vertices[i].X, y = Vertices[i].Y, z = Vertices[i].Z;
    out[i] = T3DPoint{static_cast<float>(m[0][0] * x + m[0][1] * y + m[0][2] * z + m[0][3]),
                      static_cast<float>(m[1][0] * x + m[1][1] * y + m[1][2] * z + m[1][3]),
                      static_cast<float>(m[2][0] * x + m[2][1] * y + m[2][2] * z + m[2][3])};
  }
}

}  // namespace sq
