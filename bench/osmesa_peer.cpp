// Peer comparison: the same 1000 x 1000 height field drawn with Gouraud shading into
// an 800 x 600 frame by our renderer and by Mesa's software rasteriser (llvmpipe
// through OSMesa, per-vertex lighting, depth test, vertex buffers).  libOSMesa is
// loaded at run time, so this builds without it and only skips the peer.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "model3d/frame32.h"
#include "model3d/texture_model.h"
#include "model3d/view_settings.h"

#if __has_include(<GL/osmesa.h>)
#include <GL/osmesa.h>
#include <dlfcn.h>
#define SQ_HAVE_OSMESA_HEADER 1
#endif

namespace {

using namespace sq;

constexpr int kWidth = 800, kHeight = 600;

TSurfaceColorModel& HeightField() {
  static std::unique_ptr<TSurfaceColorModel> model = [] {
    constexpr int n = 1000;
    auto m = std::make_unique<TSurfaceColorModel>();
    m->SetVertexCount(n * n);
    m->SetTriangleCount(2 * (n - 1) * (n - 1));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const double x = 2.0 * j / (n - 1) - 1, y = 1 - 2.0 * i / (n - 1);
        const double z = 0.15 * std::sin(6 * x) * std::cos(5 * y) + 0.02 * std::sin(40 * x * y);
        const int k = i * n + j;
        m->Vertices[k] = T3DPoint{float(x), float(y), float(z)};
        m->Colors[k] = (uint32_t(127 + 120 * x) << 16) | (uint32_t(127 + 120 * y) << 8) | uint32_t(127 + 700 * z);
      }
    int t = 0;
    for (int i = 0; i + 1 < n; ++i)
      for (int j = 0; j + 1 < n; ++j) {
        const uint32_t a = uint32_t(i * n + j), b = a + 1, c = a + n, d = c + 1;
        m->Triangles[t++] = T3DTriangle{a, c, d};
        m->Triangles[t++] = T3DTriangle{a, d, b};
      }
    m->Normalize();
    return m;
  }();
  return *model;
}

// With SQ_PEER_DUMP=folder both pictures are written there as PPM, to check that the
// two renderers draw the same scene.
void DumpPicture(const char* name, const uint32_t* pixels, bool bottomUp) {
  const char* folder = std::getenv("SQ_PEER_DUMP");
  if (!folder) return;
  std::ofstream out(std::string(folder) + "/" + name + ".ppm", std::ios::binary);
  out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t p = pixels[size_t(bottomUp ? kHeight - 1 - y : y) * kWidth + x];
      const char rgb[3] = {char(p >> 16), char(p >> 8), char(p)};
      out.write(rgb, 3);
    }
}

TViewSettings PeerSettings() {
  TViewSettings settings;
  settings.Width = kWidth;
  settings.Height = kHeight;
  settings.RenderMode = rmGouraud;
  settings.Rotate(0.5, 0.3);
  return settings;
}

void BM_OursGouraud(benchmark::State& state) {
  TSurfaceColorModel& model = HeightField();
  const TViewSettings settings = PeerSettings();
  ApplyViewSettings(settings, model);
  TFrame32Buffer frame(kWidth, kHeight);
  auto renderer = MakeRenderer(settings);
  // The viewer's renderer keeps its buffers between redraws, and Mesa's first
  // drawing is not timed either: the first redraw, which makes them, is left out.
  RenderView(*renderer, model, settings, frame.Frame());
  for (auto _ : state) RenderView(*renderer, model, settings, frame.Frame());
  state.SetItemsProcessed(state.iterations());
  DumpPicture("ours", frame.Frame().Row(0), false);
}
BENCHMARK(BM_OursGouraud)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

#ifdef SQ_HAVE_OSMESA_HEADER

// The GL entry points used, fetched from libOSMesa.
struct TMesa {
  void* library = nullptr;
  decltype(&OSMesaCreateContextExt) CreateContextExt = nullptr;
  decltype(&OSMesaMakeCurrent) MakeCurrent = nullptr;
  decltype(&OSMesaDestroyContext) DestroyContext = nullptr;
  decltype(&OSMesaGetProcAddress) GetProcAddress = nullptr;
  void (*Enable)(GLenum) = nullptr;
  void (*Viewport)(GLint, GLint, GLsizei, GLsizei) = nullptr;
  void (*MatrixMode)(GLenum) = nullptr;
  void (*LoadIdentity)() = nullptr;
  void (*Frustum)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble) = nullptr;
  void (*Translated)(GLdouble, GLdouble, GLdouble) = nullptr;
  void (*MultMatrixd)(const GLdouble*) = nullptr;
  void (*Lightfv)(GLenum, GLenum, const GLfloat*) = nullptr;
  void (*LightModeli)(GLenum, GLint) = nullptr;
  void (*ColorMaterial)(GLenum, GLenum) = nullptr;
  void (*ShadeModel)(GLenum) = nullptr;
  void (*ClearColor)(GLfloat, GLfloat, GLfloat, GLfloat) = nullptr;
  void (*Clear)(GLbitfield) = nullptr;
  void (*EnableClientState)(GLenum) = nullptr;
  void (*VertexPointer)(GLint, GLenum, GLsizei, const void*) = nullptr;
  void (*NormalPointer)(GLenum, GLsizei, const void*) = nullptr;
  void (*ColorPointer)(GLint, GLenum, GLsizei, const void*) = nullptr;
  void (*DrawElements)(GLenum, GLsizei, GLenum, const void*) = nullptr;
  void (*Finish)() = nullptr;
  void (*GenBuffers)(GLsizei, GLuint*) = nullptr;
  void (*BindBuffer)(GLenum, GLuint) = nullptr;
  void (*BufferData)(GLenum, ptrdiff_t, const void*, GLenum) = nullptr;

  bool Load() {
    for (const char* name : {"libOSMesa.so.8", "libOSMesa.so.6", "libOSMesa.so"})
      if ((library = dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
    if (!library) return false;
    CreateContextExt = reinterpret_cast<decltype(CreateContextExt)>(dlsym(library, "OSMesaCreateContextExt"));
    MakeCurrent = reinterpret_cast<decltype(MakeCurrent)>(dlsym(library, "OSMesaMakeCurrent"));
    DestroyContext = reinterpret_cast<decltype(DestroyContext)>(dlsym(library, "OSMesaDestroyContext"));
    GetProcAddress = reinterpret_cast<decltype(GetProcAddress)>(dlsym(library, "OSMesaGetProcAddress"));
    return CreateContextExt && MakeCurrent && DestroyContext && GetProcAddress;
  }
  template <class F>
  bool Get(F& function, const char* name) {
    function = reinterpret_cast<F>(GetProcAddress(name));
    if (!function) function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
  }
  bool LoadGL() {
    return Get(Enable, "glEnable") && Get(Viewport, "glViewport") && Get(MatrixMode, "glMatrixMode") &&
           Get(LoadIdentity, "glLoadIdentity") && Get(Frustum, "glFrustum") && Get(Translated, "glTranslated") &&
           Get(MultMatrixd, "glMultMatrixd") && Get(Lightfv, "glLightfv") && Get(LightModeli, "glLightModeli") &&
           Get(ColorMaterial, "glColorMaterial") && Get(ShadeModel, "glShadeModel") &&
           Get(ClearColor, "glClearColor") && Get(Clear, "glClear") && Get(EnableClientState, "glEnableClientState") &&
           Get(VertexPointer, "glVertexPointer") && Get(NormalPointer, "glNormalPointer") &&
           Get(ColorPointer, "glColorPointer") && Get(DrawElements, "glDrawElements") && Get(Finish, "glFinish") &&
           Get(GenBuffers, "glGenBuffers") && Get(BindBuffer, "glBindBuffer") && Get(BufferData, "glBufferData");
  }
};

void BM_MesaGouraud(benchmark::State& state) {
  TMesa gl;
  if (!gl.Load()) {
    state.SkipWithError("libOSMesa not found");
    return;
  }
  OSMesaContext context = gl.CreateContextExt(OSMESA_BGRA, 24, 0, 0, nullptr);
  std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
  if (!context || !gl.MakeCurrent(context, pixels.data(), GL_UNSIGNED_BYTE, kWidth, kHeight) || !gl.LoadGL()) {
    if (context) gl.DestroyContext(context);
    state.SkipWithError("OSMesa context could not be made");
    return;
  }
  TSurfaceColorModel& model = HeightField();
  const TViewSettings settings = PeerSettings();

  // Vertex normals once (the renderer recomputes them per frame from the view).
  std::vector<T3DPoint> normals(size_t(model.VertexCount), T3DPoint{0, 0, 0});
  model.ComputeFaceNormals();
  for (int t = 0; t < model.TriangleCount; ++t)
    for (uint32_t c : model.Triangles[t]) {
      normals[c].X += model.FaceNormals[t].X;
      normals[c].Y += model.FaceNormals[t].Y;
      normals[c].Z += model.FaceNormals[t].Z;
    }
  std::vector<uint8_t> colors(size_t(model.VertexCount) * 3);
  for (int i = 0; i < model.VertexCount; ++i) {
    colors[3 * i] = uint8_t(model.Colors[i] >> 16);
    colors[3 * i + 1] = uint8_t(model.Colors[i] >> 8);
    colors[3 * i + 2] = uint8_t(model.Colors[i]);
  }
  GLuint buffers[4];
  gl.GenBuffers(4, buffers);
  auto upload = [&](GLenum target, GLuint buffer, const void* data, size_t bytes) {
    gl.BindBuffer(target, buffer);
    gl.BufferData(target, static_cast<ptrdiff_t>(bytes), data, 0x88E4 /* GL_STATIC_DRAW */);
  };
  constexpr GLenum kArrayBuffer = 0x8892, kElementArrayBuffer = 0x8893;
  upload(kArrayBuffer, buffers[0], model.Vertices.data(), model.Vertices.size() * sizeof(T3DPoint));
  gl.EnableClientState(GL_VERTEX_ARRAY);
  gl.VertexPointer(3, GL_FLOAT, 0, nullptr);
  upload(kArrayBuffer, buffers[1], normals.data(), normals.size() * sizeof(T3DPoint));
  gl.EnableClientState(GL_NORMAL_ARRAY);
  gl.NormalPointer(GL_FLOAT, 0, nullptr);
  upload(kArrayBuffer, buffers[2], colors.data(), colors.size());
  gl.EnableClientState(GL_COLOR_ARRAY);
  gl.ColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
  upload(kElementArrayBuffer, buffers[3], model.Triangles.data(), model.Triangles.size() * sizeof(T3DTriangle));

  // The renderer's view: the eye 1400 units in front of the plane z = 0, which
  // shows at one unit per pixel.
  gl.Viewport(0, 0, kWidth, kHeight);
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  const double nearPlane = 10, k = nearPlane / 1400.0;
  gl.Frustum(-kWidth / 2.0 * k, kWidth / 2.0 * k, -kHeight / 2.0 * k, kHeight / 2.0 * k, nearPlane, 5000);
  gl.MatrixMode(GL_MODELVIEW);
  gl.LoadIdentity();
  const GLfloat light[4] = {settings.LightVector.X, settings.LightVector.Y, settings.LightVector.Z, 0};
  gl.Lightfv(GL_LIGHT0, GL_POSITION, light);
  gl.Translated(0, 0, -1400);
  const T3DMatrix view = ViewMatrix(settings);
  GLdouble columnMajor[16];
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) columnMajor[column * 4 + row] = view[row][column];
  gl.MultMatrixd(columnMajor);
  gl.Enable(GL_LIGHTING);
  gl.Enable(GL_LIGHT0);
  gl.Enable(GL_NORMALIZE);
  gl.LightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
  gl.Enable(GL_COLOR_MATERIAL);
  gl.ColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
  gl.ShadeModel(GL_SMOOTH);
  gl.Enable(GL_DEPTH_TEST);
  gl.ClearColor(0.25f, 0, 0, 1);

  auto draw = [&] {
    gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl.DrawElements(GL_TRIANGLES, model.TriangleCount * 3, GL_UNSIGNED_INT, nullptr);
    gl.Finish();
  };
  draw();
  int64_t covered = 0;
  for (uint32_t p : pixels) covered += (p & 0xFFFFFF) != (pixels[0] & 0xFFFFFF);
  if (covered < 10000) {
    gl.DestroyContext(context);
    state.SkipWithError("Mesa drew nothing");
    return;
  }
  for (auto _ : state) draw();
  state.SetItemsProcessed(state.iterations());
  DumpPicture("mesa", pixels.data(), true);
  state.counters["covered_pixels"] = double(covered);
  gl.DestroyContext(context);
}
BENCHMARK(BM_MesaGouraud)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

#endif

}  // namespace
