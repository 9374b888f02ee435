// TBase3DRenderer: draws a model into a 32-bit frame with a depth buffer, entirely in
// software.  Perspective projection onto the plane z = 0 from an eye at
// (EyeX, EyeY, ViewDistance) looking towards negative z; larger z is nearer.
//
// The models' Render picks one of the Draw procedures by RenderMode.  Every
// procedure draws its primitives in array order and keeps the first of equal
// depths, so the frame is shared out to threads by rows with a result identical to
// one thread (see renderer_parallel.h).
#pragma once

#include <cstdint>
#include <vector>

#include "model3d/base_3d_model.h"
#include "model3d/frame32.h"
#include "model3d/surface_color_model.h"

namespace sq {

class TColorPoint3DModel;
class TTextureModel;

// A projected vertex: screen column and row.
struct TScreenPoint {
  int32_t X;
  int32_t Y;
};

// Filling the z-buffer with this byte makes every entry about -1.6947e38 (far).
constexpr uint8_t kZBufferFillByte = 0xFE;

class TBase3DRenderer {
 public:
  TBase3DRenderer();
  virtual ~TBase3DRenderer();
  TBase3DRenderer(const TBase3DRenderer&) = delete;
  TBase3DRenderer& operator=(const TBase3DRenderer&) = delete;

  // Starts a drawing into frame (which the caller has cleared): clears the z-buffer,
  // reallocating it when the frame size changed.
  virtual void BeginFrame(const Frame32& frame);
  // Draws model transformed by matrix, or at its own Vertices when matrix is null.
  virtual void RenderModel(TBase3DModel& model, const T3DMatrix* matrix);
  virtual void EndFrame();
  // Adapts a model's colours to this renderer; nothing for the plain renderer.
  virtual void PrepareModel(TBase3DModel& model);

  // The drawing procedures the models' Render chooses from.  vertices are the
  // positions to draw (VertexCount entries) or null for the model's Vertices.
  void DrawPoints(TBase3DModel& model, const T3DPoint* vertices);
  void DrawColorBlocks(TColorPoint3DModel& model, const T3DPoint* vertices);
  void DrawWireframe(TSurfaceColorModel& model, const T3DPoint* vertices);
  void DrawFlat(TSurfaceColorModel& model, const T3DPoint* vertices);
  void DrawGouraud(TSurfaceColorModel& model, const T3DPoint* vertices);
  void DrawTexture(TTextureModel& model, const T3DPoint* vertices);
  void DrawGouraudTexture(TTextureModel& model, const T3DPoint* vertices);

  // Screen positions of the first count vertices into Projected.
  void Project(const T3DPoint* vertices, int count);

  std::vector<float> ZBuffer;  // FrameWidth * FrameHeight depths, top row first
  int FrameWidth = 0;
  int FrameHeight = 0;
  int64_t ZBufferByteSize = 0;
  Frame32 Target;
  std::vector<T3DPoint> Transformed;    // grows to the largest VertexCount seen
  std::vector<TScreenPoint> Projected;  // grows like Transformed
  float EyeX = 0.0f;
  float EyeY = 0.0f;
  float ViewDistance = 1400.0f;
  T3DPoint LightDirection{0.0f, 0.0f, 1.0f};

  // Threads one drawing may use (1: the calling thread only).  Small drawings use
  // one thread whatever this says.
  int ThreadCount;
  // Below this many primitives plus vertices a drawing stays in the calling thread.
  int ParallelThreshold = 2048;

 protected:
  void ClearZBuffer();
  void TransformInto(const TBase3DModel& model, const T3DMatrix& matrix);

 private:
  // What the surface drawings share once PrepareSurface has run.
  struct TSurfacePass {
    const T3DPoint* Vertices = nullptr;
    bool DrawAll = false;  // back faces are drawn too
    int Parts = 1;         // threads sharing the rows
  };
  // Calls draw(t, a, b, c, bands) for every triangle that survives culling, in array
  // order, on every thread with that thread's rows.  Filled leaves out triangles
  // that cover no pixel centre before anything else is looked at.
  template <bool Filled, class Draw>
  void ForEachTriangle(const TSurfaceColorModel& model, const TSurfacePass& pass, Draw&& draw);
  // The light intensity of triangle t's face (Flat and Texture).
  float FaceIntensity(const TSurfaceColorModel& model, int t) const;
  // Steps shared by the surface drawings: normals, vertex light, colours,
  // projection.  Returns false when there is nothing to draw.
  bool PrepareSurface(TSurfaceColorModel& model, const T3DPoint* vertices, bool vertexLight, bool vertexColors,
                      TSurfacePass& pass);
  // The model's face normals and vertex light, shared out to threads with the
  // model's own arithmetic and summing order, so the values are the ones
  // ComputeFaceNormals and ComputeVertexLight give.
  void ComputeFaceNormals(TSurfaceColorModel& model, const T3DPoint* vertices, int parts);
  void ComputeVertexLight(TSurfaceColorModel& model, int parts);
  int PartsFor(int64_t work) const;
  bool FrameUsable() const;

  std::vector<TRGBSingle> vertexColors_;  // lit colour triple per vertex
  std::vector<uint32_t> packedColors_;    // the same as pixels (wireframe)
  std::vector<T3DPoint> normalSums_;      // vertex normals while the light is computed
  // Triangles that may draw, per range of triangles and thread, when threads share
  // a drawing.
  std::vector<std::vector<uint32_t>> bins_;
  // Lowest and highest vertex index used by each chunk of triangles, found with the
  // face normals; lets a thread skip chunks that touch none of its vertices.
  struct TChunkBounds {
    uint32_t Low;
    uint32_t High;
  };
  std::vector<TChunkBounds> chunkBounds_;
};

}  // namespace sq
