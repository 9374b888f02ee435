// The native chunked model file, M3D.  Versions 0 and 2 hold 16-bit integer
// vertices and triangles; version 5 is a sequence of typed chunks whose array
// bodies are raw deflate data.
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "base/byte_order.h"
#include "base/exception.h"
#include "base/format.h"
#include "io/base_stream.h"
#include "io/memory_stream.h"
#include "model3d/m3d_chunks.h"
#include "model3d/surface_color_model.h"

namespace sq {

namespace {
constexpr uint32_t kDefaultColor = 0x00FF00;
}

void TSurfaceColorModel::WriteM3DChunks(TBaseStream& stream) {
  // The colours are what the reconstruction took from the photo: without them a
  // reloaded model would be green.
  const TArrayChunk chunks[] = {
      {1, true, static_cast<uint32_t>(VertexCount), Vertices.data(), Vertices.size() * sizeof(T3DPoint)},
      {2, true, static_cast<uint32_t>(TriangleCount), Triangles.data(), Triangles.size() * sizeof(T3DTriangle)},
      {5, false, 0, Colors.data(), Colors.size() * sizeof(uint32_t)},
  };
  WriteArrayChunks(stream, chunks);
}

void TSurfaceColorModel::SaveM3D(TBaseStream& stream) {
  const uint8_t signature[3] = {'3', 'D', 5};
  stream.Write(signature, 3);
  WriteM3DChunks(stream);
}

namespace {

// Versions 0 and 2: 16-bit counts, 16-bit integer coordinates and indices.
void ReadOldM3D(TBaseStream& stream, TSurfaceColorModel& model) {
  const int16_t vertexCount = static_cast<int16_t>(stream.ReadUInt16());
  if (vertexCount < 0) throw EBadFormat(Format("Invalid vertex count: %d", vertexCount));
  model.SetVertexCount(vertexCount);
  for (T3DPoint& v : model.Vertices) {
    const int16_t x = static_cast<int16_t>(stream.ReadUInt16());
    const int16_t y = static_cast<int16_t>(stream.ReadUInt16());
    const int16_t z = static_cast<int16_t>(stream.ReadUInt16());
    v = T3DPoint{float(x), float(y), float(z)};
  }
  const int16_t triangleCount = static_cast<int16_t>(stream.ReadUInt16());
  if (triangleCount < 0) throw EBadFormat(Format("Invalid triangle count: %d", triangleCount));
  model.SetTriangleCount(triangleCount);
  for (T3DTriangle& t : model.Triangles)
    for (uint32_t& corner : t) corner = static_cast<uint32_t>(int32_t(static_cast<int16_t>(stream.ReadUInt16())));
}

}  // namespace

void TSurfaceColorModel::ReadChunksAhead(TBaseStream& stream) {
  // A few chunks at a time: their arrays inflate side by side, while the bodies
  // held at once stay within what the file really holds.
  constexpr size_t kChunksAtOnce = 8;
  std::vector<std::unique_ptr<TChunkBodyStream>> chunks;
  std::vector<TChunkBodyStream*> inflate;
  std::vector<uint32_t> vertexCounts;
  for (bool end = false; !end;) {
    chunks.clear();
    // A file that ends inside a chunk reports it after the chunks in front of it,
    // which may fail first.
    std::exception_ptr readError;
    try {
      while (chunks.size() < kChunksAtOnce) {
        std::unique_ptr<TChunkBodyStream> chunk = ReadNextChunk(stream);
        if (!chunk) {
          end = true;
          break;
        }
        chunks.push_back(std::move(chunk));
      }
    } catch (...) {
      readError = std::current_exception();
      end = true;
    }

    // The colour and texture coordinate arrays are as long as the vertex array in
    // force when their chunk is read: the model's, or that of a vertex chunk in
    // front of them.  A count that fails to hold only costs the inflating ahead:
    // the chunk is then read plainly.
    inflate.clear();
    vertexCounts.clear();
    uint32_t vertexCount = static_cast<uint32_t>(VertexCount);
    for (const auto& chunk : chunks) {
      if (chunk->Type() == 1 && chunk->Body().size() >= 4) vertexCount = GetUInt32LE(chunk->Body().data());
      inflate.push_back(chunk.get());
      vertexCounts.push_back(vertexCount);
    }
    InflateChunksAhead(inflate, vertexCounts);
    for (auto& chunk : chunks) {
      ReadChunk(*chunk, chunk->Type());
      chunk.reset();
    }
    if (readError) std::rethrow_exception(readError);
  }
}

void TSurfaceColorModel::LoadM3D(TBaseStream& stream, bool inflateAhead) {
  uint8_t signature[3];
  stream.ReadBuffer(signature, 3);
  if (signature[0] != '3' || signature[1] != 'D' || (signature[2] != 0 && signature[2] != 2 && signature[2] != 5))
    throw EUnsupportedFileFormat("Unsupported file format");
  SetVertexCount(0);
  SetTriangleCount(0);

  if (signature[2] != 5) {
    ReadOldM3D(stream, *this);
    FillColor(kDefaultColor);
  } else {
    colorChunkRead_ = false;
    fillColorPending_ = false;
    if (inflateAhead) {
      ReadChunksAhead(stream);
    } else {
      while (const std::unique_ptr<TChunkBodyStream> chunk = ReadNextChunk(stream)) ReadChunk(*chunk, chunk->Type());
    }
    // A fill colour reaches every vertex even when its chunk came before the
    // vertices; without any colour chunk the model is green.
    if (fillColorPending_)
      FillColor(pendingFillColor_);
    else if (!colorChunkRead_)
      FillColor(kDefaultColor);
  }

  // Every later user indexes Vertices with these corners unchecked.
  for (const T3DTriangle& t : Triangles)
    for (const uint32_t corner : t)
      if (corner >= static_cast<uint32_t>(VertexCount))
        throw EBadFormat(Format("Invalid point in face list: %d", int32_t(corner)));
}

}  // namespace sq
