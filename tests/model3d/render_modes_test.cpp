// Every render mode of a small known model against committed reference pictures
// (binary PPM, so the comparison needs no image codec).  Set SQ_UPDATE_REFERENCES=1
// to rewrite them after an intended change, and look at them before committing.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/linear_bitmap.h"
#include "model3d/frame32.h"
#include "model3d/light.h"
#include "model3d/texture_model.h"
#include "model3d/view_settings.h"

namespace sq {
namespace {

const std::string kReferenceDir = std::string(SQ_SOURCE_DIR) + "/tests/model3d/reference/";

// A sphere with colours that follow the position and an 8 x 8 texture of coloured
// squares wrapped around it.
void MakeTestModel(TTextureModel& model) {
  model.MakeSphere(14);
  model.Texture.New(8, 8, pf24bit);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint8_t* p = model.Texture.PixelAddress(x, y);
      const bool dark = (x + y) % 2 != 0;
      p[0] = static_cast<uint8_t>(dark ? 40 : 230);
      p[1] = static_cast<uint8_t>(x * 32);
      p[2] = static_cast<uint8_t>(y * 32);
    }
  for (int i = 0; i < model.VertexCount; ++i) {
    const T3DPoint& v = model.Vertices[i];
    const auto channel = [](float c) { return static_cast<uint32_t>(std::lround(127.5 + 127.0 * c)); };
    model.Colors[i] = (channel(v.X) << 16) | (channel(v.Y) << 8) | channel(v.Z);
    const double around = std::atan2(v.Y, v.X) / (2 * std::numbers::pi) + 0.5;
    model.TexCoords[i] = TTexCoord{static_cast<float>(around * 7.0), static_cast<float>((v.Z + 1.0) * 3.5)};
  }
}

TViewSettings TestSettings() {
  TViewSettings settings;
  settings.Width = 64;
  settings.Height = 48;
  settings.Zoom = 20;
  settings.ShowBackSides = false;
  settings.Rotate(0.5, 0.7);
  return settings;
}

// A bumpy height field of n x n vertices, so fine that most of its triangles cover
// no pixel centre or a single one, the usual case for a reconstruction.
void MakeDenseModel(TTextureModel& model) {
  constexpr int n = 150;
  model.SetVertexCount(n * n);
  model.SetTriangleCount(2 * (n - 1) * (n - 1));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = 2.0 * j / (n - 1) - 1, y = 1 - 2.0 * i / (n - 1);
      const double z = 0.3 * std::sin(5 * x) * std::cos(4 * y) + 0.03 * std::sin(30 * x * y);
      const int k = i * n + j;
      model.Vertices[k] = T3DPoint{float(x), float(y), float(z)};
      model.Colors[k] = (uint32_t(127 + 120 * x) << 16) | (uint32_t(127 + 120 * y) << 8) | uint32_t(127 + 300 * z);
      model.TexCoords[k] = TTexCoord{float(j) / 9, float(i) / 9};
    }
  int t = 0;
  for (int i = 0; i + 1 < n; ++i)
    for (int j = 0; j + 1 < n; ++j) {
      const uint32_t a = uint32_t(i * n + j), b = a + 1, c = a + n, d = c + 1;
      model.Triangles[t++] = T3DTriangle{a, c, d};
      model.Triangles[t++] = T3DTriangle{a, d, b};
    }
  model.Normalize();
  model.Texture.New(17, 17, pf24bit);
  for (int64_t i = 0; i < model.Texture.Size; ++i) model.Texture.Map[i] = uint8_t(i * 7 + i / 50);
}

// Larger than the frame, so that tiny triangles meet every edge of it.
TViewSettings DenseSettings() {
  TViewSettings settings;
  settings.Width = 96;
  settings.Height = 72;
  settings.Zoom = 45;
  settings.ShowBackSides = false;
  settings.Rotate(0.6, 0.35);
  return settings;
}

std::vector<uint8_t> RenderPicture(TViewSettings settings, uint32_t mode, int threads, bool dense = false) {
  TTextureModel model;
  if (dense)
    MakeDenseModel(model);
  else
    MakeTestModel(model);
  settings.RenderMode = mode;
  ApplyViewSettings(settings, model);
  TFrame32Buffer frame(settings.Width, settings.Height);
  auto renderer = MakeRenderer(settings);
  renderer->ThreadCount = threads;
  renderer->ParallelThreshold = 0;
  RenderView(*renderer, model, settings, frame.Frame());
  std::vector<uint8_t> rgb;
  for (int y = 0; y < frame.Frame().Height; ++y)
    for (int x = 0; x < frame.Frame().Width; ++x) {
      const uint32_t p = frame.Frame().Row(y)[x];
      rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    }
  return rgb;
}

std::string PpmHeader(const TViewSettings& settings) {
  return "P6\n" + std::to_string(settings.Width) + " " + std::to_string(settings.Height) + "\n255\n";
}

void CompareWithReference(const std::string& name, const TViewSettings& settings, uint32_t mode, bool dense = false) {
  const std::vector<uint8_t> picture = RenderPicture(settings, mode, 1, dense);
  // Rows shared out to threads draw the very same picture.
  EXPECT_EQ(picture, RenderPicture(settings, mode, 2, dense)) << name;
  EXPECT_EQ(picture, RenderPicture(settings, mode, 3, dense)) << name;
  const std::string path = kReferenceDir + name + ".ppm";
  const std::string header = PpmHeader(settings);
  if (std::getenv("SQ_UPDATE_REFERENCES")) {
    std::ofstream out(path, std::ios::binary);
    out << header;
    out.write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "missing reference " << path;
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(file.size(), header.size() + picture.size()) << name;
  ASSERT_EQ(file.substr(0, header.size()), header) << name;
  int differing = 0;
  for (size_t i = 0; i < picture.size(); ++i)
    if (uint8_t(file[header.size() + i]) != picture[i]) ++differing;
  EXPECT_EQ(differing, 0) << name << ": bytes differ from the reference picture";
}

TEST(RenderModes, EveryModeMatchesItsReferencePicture) {
  const TViewSettings settings = TestSettings();
  CompareWithReference("points", settings, rmPoints);
  CompareWithReference("colorblocks", settings, rmColorBlocks);
  CompareWithReference("wireframe", settings, rmWireframe);
  CompareWithReference("flat", settings, rmFlat);
  CompareWithReference("gouraud", settings, rmGouraud);
  CompareWithReference("texture", settings, rmTexture);
  CompareWithReference("gouraudtexture", settings, rmGouraudTexture);
}

TEST(RenderModes, LightingVariantsMatchTheirReferencePictures) {
  TViewSettings shiny = TestSettings();
  shiny.ChooseReflection(TReflection::Shiny);
  CompareWithReference("gouraud_shiny_ambient", shiny, rmGouraud);

  TViewSettings backSides = TestSettings();
  backSides.ShowBackSides = true;
  backSides.ChooseReflection(TReflection::None);
  CompareWithReference("wireframe_backsides_unlit", backSides, rmWireframe);

  TViewSettings stereo = TestSettings();
  stereo.Stereo = true;
  CompareWithReference("gouraud_stereo", stereo, rmGouraud);
}

TEST(RenderModes, DenseMeshesMatchTheirReferencePictures) {
  TViewSettings front = DenseSettings();
  CompareWithReference("dense_gouraud", front, rmGouraud, true);
  CompareWithReference("dense_flat", front, rmFlat, true);
  CompareWithReference("dense_texture", front, rmTexture, true);
  CompareWithReference("dense_wireframe", front, rmWireframe, true);
  TViewSettings both = DenseSettings();
  both.ShowBackSides = true;
  both.ChooseReflection(TReflection::Shiny);
  both.SetAmbientLight(0.2f);
  both.Rotate(0.4, 2.2);
  CompareWithReference("dense_gouraudtexture_backsides", both, rmGouraudTexture, true);
  CompareWithReference("dense_gouraud_backsides", both, rmGouraud, true);
  both.Stereo = true;
  CompareWithReference("dense_gouraud_stereo", both, rmGouraud, true);
}

// A model file as a user would have it: a sphere saved as PLY (no colours, no texture).
std::string WriteSphereFile() {
  const auto folder = std::filesystem::temp_directory_path() / ("sq_render_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  TSurfaceColorModel sphere;
  sphere.MakeSphere(12);
  const std::string path = (folder / "sphere.ply").string();
  sphere.SaveToFile(path);
  return path;
}

TEST(ViewSettings, OpeningAModelWithoutTextureMatchesTheViewer) {
  const std::string path = WriteSphereFile();
  TViewSettings settings;
  settings.ChooseReflection(TReflection::Shiny);
  auto model = OpenModelFile(path, settings);
  EXPECT_EQ(model->RenderMode, uint32_t(rmGouraud));
  EXPECT_EQ(settings.AmbientLight, 0.0f);
  EXPECT_EQ(model->AmbientLight, 0.0f);
  EXPECT_EQ(settings.Reflection, TReflection::Standard);
  EXPECT_TRUE(model->ShowBackSides && model->UseNormals && model->Shading);
  EXPECT_EQ(model->LightFunction, LightStandard);
  ASSERT_TRUE(model->Texture.Present);
  EXPECT_EQ(model->Texture.Width, 2);
  EXPECT_EQ(model->Texture.Height, 1);
  EXPECT_EQ(model->Texture.PixelAddress(1, 0)[1], 255);  // green
  EXPECT_EQ(model->TexCoords[3].U, 0.0f);
  // The ambient routine takes over once a reflection is chosen with a level set.
  settings.SetAmbientLight(0.25f);
  EXPECT_EQ(LightRoutine(settings), LightStandardAmbient);
  settings.ChooseReflection(TReflection::None);
  ApplyViewSettings(settings, *model);
  EXPECT_EQ(model->LightFunction, LightStandard);
  EXPECT_FALSE(model->Shading);
  EXPECT_FALSE(model->UseNormals);  // back sides are shown, so nothing needs normals
  EXPECT_TRUE(model->VertexLight.empty());
  EXPECT_EQ(model->AmbientLight, 0.25f);

  std::string error;
  TViewSettings other;
  EXPECT_THROW(OpenModelFile(path + ".missing.ply", other), EInOutError);
  auto partial = OpenModelFile(path + ".missing.ply", other, &error);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(partial->VertexCount, 0);
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

int RunCli(const std::string& arguments) {
  const int status = std::system((std::string(SQ_CLI_PATH) + " render " + arguments + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RenderCommand, DrawsWhatTheViewerDrawsAndRefusesBadOptions) {
  if (!std::filesystem::exists(SQ_CLI_PATH)) GTEST_SKIP() << "stereoquill-cli is not built";
  const std::string model = WriteSphereFile();
  const std::string out = model + ".bmp";
  ASSERT_EQ(RunCli(model + " " + out +
                   " --quiet --size 64x48 --mode flat --light shiny --ambient 0.2"
                   " --rotate-x 20 --rotate-y -30 --zoom 30 --no-backsides"),
            0);
  // The same settings drawn here, as the viewer would after the same commands.
  TViewSettings settings;
  settings.Width = 64;
  settings.Height = 48;
  auto expected = OpenModelFile(model, settings);
  settings.RenderMode = rmFlat;
  settings.ChooseReflection(TReflection::Shiny);
  settings.SetAmbientLight(0.2f);
  settings.ShowBackSides = false;
  settings.Zoom = 30;
  settings.Rotate(20 * std::numbers::pi / 180, -30 * std::numbers::pi / 180);
  ApplyViewSettings(settings, *expected);
  TFrame32Buffer frame(64, 48);
  RenderView(*MakeRenderer(settings), *expected, settings, frame.Frame());
  TLinearBitmap picture;
  picture.LoadFromFile(out);
  ASSERT_EQ(picture.Width, 64);
  ASSERT_EQ(picture.Height, 48);
  picture.SetPixelFormat(pf24bit);
  int differing = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint32_t p = frame.Frame().Row(y)[x];
      const uint8_t* q = picture.PixelAddress(x, y);
      differing += q[0] != uint8_t(p) || q[1] != uint8_t(p >> 8) || q[2] != uint8_t(p >> 16);
    }
  EXPECT_EQ(differing, 0);

  EXPECT_EQ(RunCli(model + " " + out + " --size 0x5"), 2);
  EXPECT_EQ(RunCli(model + " " + out + " --size 9000x5"), 2);
  EXPECT_EQ(RunCli(model + " " + out + " --mode sketch"), 2);
  EXPECT_EQ(RunCli(model + " " + out + " --ambient 2"), 2);
  EXPECT_EQ(RunCli(model + ".missing.ply " + out), 1);
  EXPECT_EQ(RunCli(model + " " + model + ".unknownformat"), 1);
  std::filesystem::remove_all(std::filesystem::path(model).parent_path());
}

}  // namespace
}  // namespace sq
