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
#include <memory>
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
    bool Filled = false;   // triangles that cover no pixel centre draw nothing
    bool Binned = false;   // the triangles that may draw are listed (else tested as drawn)
    int Parts = 1;         // shares of the triangles and of the rows
    int Workers = 1;       // threads taking the shares
  };
  // Calls draw(t, a, b, c, bands) for every triangle PrepareSurface kept, in array
  // order, on every thread with that thread's rows.
  template <class Draw>
  void ForEachTriangle(const TSurfaceColorModel& model, const TSurfacePass& pass, Draw&& draw);
  // The light intensity of triangle t's face (Flat and Texture).
  float FaceIntensity(const TSurfaceColorModel& model, int t) const;
  // Steps shared by the surface drawings: projection, face normals, the triangles
  // that may draw, vertex light and colours (vertexColors: into vertexColors_).
  // Returns false when there is nothing to draw.
  bool PrepareSurface(TSurfaceColorModel& model, const T3DPoint* vertices, bool vertexLight, bool vertexColors,
                      bool filled, TSurfacePass& pass);
  // One pass over the triangles, shared out by ranges of triangles: the model's face
  // normals (when wanted) with the model's own arithmetic, their sums per vertex in
  // triangle order (for the vertex light), and the triangles that may draw, listed
  // per thread that owns one of their rows.
  template <bool Filled>
  void SortOutTriangles(TSurfaceColorModel& model, const TSurfacePass& pass, bool normals, bool normalSums);
  // Completes the vertex normal sums of the ranges of triangles, as one pass in
  // triangle order would have summed them: in normalSums_, or for vertices only one
  // later range reached, in that range's array (sumSegments_).
  void MergeNormalSums(const TSurfaceColorModel& model, int parts);
  // One pass over the vertices: the model's vertex light, as ComputeVertexLight
  // gives it, and the lit colour triples.
  void ShadeVertices(TSurfaceColorModel& model, const TSurfacePass& pass, bool vertexLight, bool vertexColors);
  int PartsFor(int64_t work) const;
  bool FrameUsable() const;

  std::vector<TRGBSingle> vertexColors_;  // lit colour triple per vertex
  std::vector<uint32_t> packedColors_;    // the same as pixels (wireframe)
  std::vector<T3DPoint> normalSums_;      // vertex normals while the light is computed
  // The sums of each range of triangles after the first (which sums into
  // normalSums_), valid within the range's window of vertices only.
  struct TSumWindow {
    uint32_t Low = 1;  // empty while Low > High
    uint32_t High = 0;
    bool Empty() const { return Low > High; }
  };
  std::vector<std::unique_ptr<T3DPoint[]>> rangeSums_;
  std::vector<size_t> rangeSumsSize_;
  std::vector<TSumWindow> sumWindows_;
  // Vertices whose sums stay in a range's own array.
  struct TSumSegment {
    uint32_t First;
    uint32_t Last;
    const T3DPoint* Sums;
  };
  std::vector<TSumSegment> sumSegments_;
  // A triangle that may draw, with its corners, so that drawing reads no triangle
  // twice.
  struct TKeptTriangle {
    uint32_t Index;
    uint32_t A;
    uint32_t B;
    uint32_t C;
  };
  // Triangles that may draw, per range of triangles and thread, when threads share
  // a drawing.  Each range's lists grow on one thread; padded apart, lists of two
  // ranges never share a cache line (nor a pair of lines).
  struct alignas(128) TBin {
    std::vector<TKeptTriangle> Items;
  };
  std::vector<TBin> bins_;

  // Lowest and highest vertex index used by each chunk of triangles, found with the
  // face normals; joining the normal sums skips chunks that touch none of the
  // vertices it continues.
  struct TChunkBounds {
    uint32_t Low;
    uint32_t High;
  };
  std::vector<TChunkBounds> chunkBounds_;
};

}  // namespace sq
