#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "imaging/codecs/jpeg_loader.h"
#include "io/memory_stream.h"
#include "model3d/texture_model.h"
#include "model3d/vrml_loader.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

namespace fs = std::filesystem;

std::string Export(TBase3DModel& m, const TVRMLExportOptions& options = {}) {
  TVRMLLoader loader;
  loader.Model = &m;
  loader.Options = options;
  TMemoryStream out;
  loader.SaveToStream(out);
  return std::string(out.Data().begin(), out.Data().end());
}

TEST(Vrml, NumbersAreIntegersWhenWholeElseFixed) {
  EXPECT_EQ(FormatVrmlNumber(1, 8), "1");
  EXPECT_EQ(FormatVrmlNumber(0.5, 8), "0.50000000");
  EXPECT_EQ(FormatVrmlNumber(-2, 8), "-2");
  EXPECT_EQ(FormatVrmlNumber(-0.0, 8), "0");
  EXPECT_EQ(FormatVrmlNumber(-3.000000001, 8), "-3");
  EXPECT_EQ(FormatVrmlNumber(-0.25, 8), "-0.25000000");
  EXPECT_EQ(FormatVrmlNumber(128 / 255.0, 3), "0.502");
  EXPECT_EQ(FormatVrmlNumber(0.99999999, 3), "1.000");
}

TEST(Vrml, SingleColourModelLayout) {
  TSurfaceColorModel m;
  m.SetVertexCount(3);
  m.SetTriangleCount(1);
  m.Vertices = {{1, 0.5f, -2}, {0, 0, 0}, {1, 1, -2}};
  m.FillColor(0x808080);
  m.Triangles = {{0, 1, 2}};
  m.SetFileFormat("x.wrl");
  TMemoryStream saved;
  m.SaveToStream(saved);  // through the registry, with the default options
  const std::string text(saved.Data().begin(), saved.Data().end());
  EXPECT_EQ(text,
            "#VRML V2.0 utf8\nShape {\n appearance Appearance {\n  material Material {\n"
            "   diffuseColor 0.502 0.502 0.502\n  }\n }\n geometry IndexedFaceSet {\n"
            "  coord Coordinate {\n   point [\n1 0.50000000 -2\n0 0 0\n1 1 -2\n   ]\n  }\n"
            "  normal Normal {\n   vector [\n"
            "-0.89442719 0 -0.44721360\n-0.89442719 0 -0.44721360\n-0.89442719 0 -0.44721360\n   ]\n  }\n"
            "  coordIndex [\n0 1 2 -1\n  ]\n }\n}\n");
  // The model's own lighting state is left alone.
  EXPECT_TRUE(m.FaceNormals.empty());
}

TEST(Vrml, PerVertexColoursAndNoNormals) {
  TSurfaceColorModel m;
  m.SetVertexCount(2);
  m.Vertices = {{0, 0, 0}, {1, 0, 0}};
  m.Colors = {0xFF0000, 0x0000FF};
  const std::string text = Export(m, {.WriteNormals = false});
  EXPECT_NE(text.find("   diffuseColor 1 1 1\n"), std::string::npos);
  EXPECT_NE(text.find("  color Color {\n   color [\n1 0 0\n0 0 1\n   ]\n  }\n  coordIndex [\n  ]\n"),
            std::string::npos);
  EXPECT_EQ(text.find("normal"), std::string::npos);
}

TEST(Vrml, TextureIsWrittenBesideTheModel) {
  const test::TTempDir temp;
  const fs::path dir = temp.Path().string();
  TTextureModel m;
  m.SetVertexCount(3);
  m.SetTriangleCount(1);
  m.Vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  m.FillColor(0x112233);
  m.TexCoords = {{512, 0}, {0, 768}, {256, 384}};
  m.Triangles = {{0, 1, 2}};
  m.Texture.New(1024, 768, pf32bit);
  m.Texture.Clear(0x80);
  for (int64_t i = 0; i < m.Texture.Size; i += 7) m.Texture.Map[i] = static_cast<uint8_t>(i * 13);

  EXPECT_TRUE(VRMLTextureSelectable(m));
  const std::string model = (dir / "face.wrl").string();
  SaveVRMLFile(m, model, {.WriteNormals = false, .TextureFormat = TVRMLTextureFormat::PNG});
  EXPECT_TRUE(m.FileName.empty());
  EXPECT_TRUE(fs::exists(dir / "face.png"));
  EXPECT_EQ(m.Texture.PixelFormat, pf32bit);
  std::ifstream in(model);
  std::stringstream s;
  s << in.rdbuf();
  const std::string text = s.str();
  EXPECT_NE(text.find("  texture ImageTexture {\n    url \"face.png\"\n  }\n"), std::string::npos);
  EXPECT_NE(text.find("  texCoord TextureCoordinate {\n   point [\n0.50000000 1\n0 0\n0.25000000 0.50000000\n"),
            std::string::npos);

  // "None" falls back to colours and writes no image.
  SaveVRMLFile(m, (dir / "plain.wrl").string(), {.TextureFormat = TVRMLTextureFormat::None});
  EXPECT_FALSE(fs::exists(dir / "plain.png"));
  // The JPEG quality goes to this export alone.
  SaveVRMLFile(m, (dir / "low.wrl").string(), {.TextureFormat = TVRMLTextureFormat::JPEG, .JPEGQuality = 5});
  SaveVRMLFile(m, (dir / "high.wrl").string(), {.TextureFormat = TVRMLTextureFormat::JPEG});
  EXPECT_LT(fs::file_size(dir / "low.jpg"), fs::file_size(dir / "high.jpg"));
  EXPECT_EQ(JPEGLoader().Quality, 0);
  // The 2 x 1 placeholder never counts as a texture.
  m.Texture.New(2, 1, pf24bit);
  EXPECT_FALSE(VRMLTextureSelectable(m));
  const std::string text2 = Export(m);
  EXPECT_EQ(text2.find("texture"), std::string::npos);
  EXPECT_NE(text2.find("diffuseColor 0.067 0.133 0.200"), std::string::npos);

  EXPECT_EQ(VRMLTextureFileName("a.b/face", TVRMLTextureFormat::JPEG), "a.b/face.jpg");
  EXPECT_EQ(VRMLTextureFileName("dir\\x.y\\face.wrl", TVRMLTextureFormat::PNG), "dir\\x.y\\face.png");
}

}  // namespace
}  // namespace sq
