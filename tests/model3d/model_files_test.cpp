#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "base/exception.h"
#include "base/parallel.h"
#include "compress/deflate_stream.h"
#include "io/memory_stream.h"
#include "model3d/texture_model.h"
#include "model3d/vrml_loader.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TTempDir;

// Builds M3D files byte by byte.
struct TM3DBuilder {
  // Copied from an array: GCC's uninitialised-use check misreads a braced list here.
  std::vector<uint8_t> Bytes = std::vector<uint8_t>(kSignature, kSignature + 3);
  static constexpr uint8_t kSignature[3] = {'3', 'D', 5};
  void U16(uint16_t v) { Bytes.insert(Bytes.end(), {uint8_t(v), uint8_t(v >> 8)}); }
  void U32(uint32_t v, std::vector<uint8_t>& to) {
    to.insert(to.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  }
  void Chunk(uint16_t type, const std::vector<uint8_t>& body) {
    U16(type);
    U32(uint32_t(body.size()), Bytes);
    Bytes.insert(Bytes.end(), body.begin(), body.end());
  }
  template <class T>
  static std::vector<uint8_t> Counted(uint32_t count, const std::vector<T>& items) {
    std::vector<uint8_t> body{uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16), uint8_t(count >> 24)};
    const auto packed = DeflateBytes(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(items.data()), items.size() * sizeof(T)));
    body.insert(body.end(), packed.begin(), packed.end());
    return body;
  }
};

template <class Model>
void LoadBytes(Model& model, const std::vector<uint8_t>& bytes, uint8_t format = ffM3D) {
  model.FileFormat = format;
  TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  model.LoadFromStream(in);
}

void MakeTwoTriangles(TSurfaceColorModel& m) {
  m.SetVertexCount(4);
  m.SetTriangleCount(2);
  m.Vertices = {{0, 0, 0}, {1.5f, -2, 0}, {1, 1, 0.25f}, {0, 1, -3}};
  m.Colors = {0x123456, 0xFF0080, 0x000000, 0xFFFFFF};
  m.Triangles = {{0, 1, 2}, {0, 2, 3}};
}

std::string WhatOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST(ModelFiles, FormatComesFromTheExtensionInAnyCase) {
  TSurfaceColorModel m;
  m.SetFileFormat("a/b.M3d");
  EXPECT_EQ(m.FileFormat, ffM3D);
  m.SetFileFormat("x.ply");
  EXPECT_EQ(m.FileFormat, ffPLY);
  m.SetFileFormat("x.WRL");
  EXPECT_GE(m.FileFormat, ffFirstLoader);
  EXPECT_EQ(WhatOf([&] { m.SetFileFormat("model.obj"); }), "Unsupported file format: OBJ");
  EXPECT_STREQ(ModelFileExtensions, "*.m3d;*.ply");
  EXPECT_EQ(ModelFileFilter(), "M3D (*.m3d)|*.m3d|PLY (*.ply)|*.ply|VRML (*.wrl)|*.wrl");
  // VRML is write-only: reading one is refused and reads nothing.
  TTempDir dir;
  std::ofstream(dir / "x.wrl") << "#VRML V2.0 utf8\n";
  MakeTwoTriangles(m);
  EXPECT_THROW(m.LoadFromFile(dir / "x.wrl"), Exception);
  EXPECT_EQ(m.VertexCount, 4);
}

TEST(ModelFiles, M3DRoundTripKeepsGeometryAndColours) {
  TTempDir dir;
  TSurfaceColorModel m, back;
  MakeTwoTriangles(m);
  m.SaveToFile(dir / "m.m3d");
  const std::string bytes = ReadText(dir / "m.m3d");
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes.substr(0, 3), std::string("3D\x05", 3));
  back.LoadFromFile(dir / "m.m3d");
  ASSERT_EQ(back.VertexCount, 4);
  ASSERT_EQ(back.TriangleCount, 2);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(back.Vertices[i].X, m.Vertices[i].X);
    EXPECT_EQ(back.Vertices[i].Z, m.Vertices[i].Z);
  }
  EXPECT_EQ(back.Colors, m.Colors);
  EXPECT_EQ(back.Triangles, m.Triangles);
  EXPECT_FALSE(fs::exists(dir / "m.m3d.partial"));
}

TEST(ModelFiles, TextureModelWritesTexCoordsAndSkipsThePlaceholderImage) {
  TTextureModel m;
  MakeTwoTriangles(m);
  for (int i = 0; i < 4; ++i) m.TexCoords[i] = {float(i), float(2 * i)};
  m.Texture.New(2, 1, pf24bit);
  m.FileFormat = ffM3D;
  TMemoryStream out;
  m.SaveToStream(out);
  // Chunk types in order: 1, 2, 5, 3 and no image chunk for a texture one row high.
  const std::vector<uint8_t>& b = out.Data();
  std::vector<int> types;
  for (size_t p = 3; p + 6 <= b.size();) {
    types.push_back(b[p] | b[p + 1] << 8);
    const uint32_t length = b[p + 2] | b[p + 3] << 8 | b[p + 4] << 16 | uint32_t(b[p + 5]) << 24;
    p += 6 + length;
  }
  EXPECT_EQ(types, (std::vector<int>{1, 2, 5, 3}));
  TTextureModel back;
  LoadBytes(back, b);
  ASSERT_EQ(back.VertexCount, 4);
  EXPECT_EQ(back.TexCoords[3].U, 3);
  EXPECT_EQ(back.TexCoords[3].V, 6);
  EXPECT_EQ(back.Colors, m.Colors);
  // A plain surface does not understand texture chunks.
  TSurfaceColorModel plain;
  EXPECT_EQ(WhatOf([&] { LoadBytes(plain, b); }), "Unsupported chunk type: 3");
}

TEST(ModelFiles, TextureImageTravelsAsPngChunk) {
  TTempDir dir;
  TTextureModel m, back;
  MakeTwoTriangles(m);
  m.Texture.New(4, 3, pf32bit);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* p = m.Texture.PixelAddress(x, y);
      p[0] = uint8_t(x * 60), p[1] = uint8_t(y * 90), p[2] = 7, p[3] = 0;
    }
  m.SaveToFile(dir / "t.m3d");
  EXPECT_EQ(m.Texture.PixelFormat, pf32bit);  // converted on a copy only
  back.LoadFromFile(dir / "t.m3d");
  ASSERT_EQ(back.Texture.Width, 4);
  ASSERT_EQ(back.Texture.Height, 3);
  ASSERT_EQ(back.Texture.PixelFormat, pf24bit);
  EXPECT_EQ(back.Texture.PixelAddress(3, 2)[0], 180);
  EXPECT_EQ(back.Texture.PixelAddress(3, 2)[1], 180);
  EXPECT_EQ(back.Texture.PixelAddress(3, 2)[2], 7);
}

TEST(ModelFiles, M3DColourChunksAndOldVersions) {
  const std::vector<T3DPoint> vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const std::vector<T3DTriangle> triangles = {{0, 1, 2}};
  std::vector<uint8_t> fill{0xFF, 0, 0, 0};  // 0x0000FF
  TSurfaceColorModel m;

  TM3DBuilder withFill;
  withFill.Chunk(1, TM3DBuilder::Counted(3, vertices));
  withFill.Chunk(2, TM3DBuilder::Counted(1, triangles));
  withFill.Chunk(6, fill);
  LoadBytes(m, withFill.Bytes);
  EXPECT_EQ(m.Colors, (std::vector<uint32_t>(3, 0x0000FF)));

  // The fill colour reaches vertices that arrive after it.
  TM3DBuilder fillFirst;
  fillFirst.Chunk(6, fill);
  fillFirst.Chunk(1, TM3DBuilder::Counted(3, vertices));
  LoadBytes(m, fillFirst.Bytes);
  EXPECT_EQ(m.Colors, (std::vector<uint32_t>(3, 0x0000FF)));

  TM3DBuilder perVertex;
  perVertex.Chunk(1, TM3DBuilder::Counted(3, vertices));
  std::vector<uint32_t> colors = {1, 2, 3};
  auto body = TM3DBuilder::Counted(0, colors);
  body.erase(body.begin(), body.begin() + 4);  // chunk 5 has no count
  perVertex.Chunk(5, body);
  LoadBytes(m, perVertex.Bytes);
  EXPECT_EQ(m.Colors, colors);

  // Version 0: 16-bit counts, coordinates and indices.
  const std::vector<uint8_t> old = {'3', 'D', 0, 2, 0, 1, 0, 0xFE, 0xFF, 3, 0, 4, 0,
                                    5,   0,   6, 0, 1, 0, 0, 0,    1,    0, 1, 0};
  LoadBytes(m, old);
  ASSERT_EQ(m.VertexCount, 2);
  EXPECT_EQ(m.Vertices[0].Y, -2);
  EXPECT_EQ(m.Vertices[1].Z, 6);
  EXPECT_EQ(m.Triangles[0], (T3DTriangle{0, 1, 1}));
  EXPECT_EQ(m.Colors[1], 0x00FF00u);
}

TEST(ModelFiles, M3DReaderRefusesDamagedFiles) {
  TSurfaceColorModel m;
  const std::vector<T3DPoint> vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  EXPECT_EQ(WhatOf([&] { LoadBytes(m, {'3', 'D', 4}); }), "Unsupported file format");
  EXPECT_EQ(WhatOf([&] { LoadBytes(m, {'3', 'D'}); }), "Read less than expected");

  TM3DBuilder unknown;
  unknown.Chunk(9, {});
  EXPECT_EQ(WhatOf([&] { LoadBytes(m, unknown.Bytes); }), "Unsupported chunk type: 9");

  TM3DBuilder truncated;
  truncated.Chunk(1, TM3DBuilder::Counted(3, vertices));
  truncated.Bytes.resize(truncated.Bytes.size() - 2);
  EXPECT_EQ(WhatOf([&] { LoadBytes(m, truncated.Bytes); }), "Read less than expected");

  // A count far beyond what the body can inflate to is refused before allocating;
  // one that merely lies runs out of data.
  TM3DBuilder huge;
  huge.Chunk(1, TM3DBuilder::Counted(0x7FFFFFFF, vertices));
  EXPECT_EQ(WhatOf([&] { LoadBytes(m, huge.Bytes); }), "Invalid vertex count: 2147483647");
  TM3DBuilder lying;
  lying.Chunk(1, TM3DBuilder::Counted(50, vertices));
  EXPECT_NE(WhatOf([&] { LoadBytes(m, lying.Bytes); }), "(no exception)");

  TM3DBuilder badIndex;
  badIndex.Chunk(1, TM3DBuilder::Counted(3, vertices));
  badIndex.Chunk(2, TM3DBuilder::Counted(1, std::vector<T3DTriangle>{{0, 1, 3}}));
  EXPECT_EQ(WhatOf([&] { LoadBytes(m, badIndex.Bytes); }), "Invalid point in face list: 3");
  const std::vector<uint8_t> oldNegative = {'3', 'D', 2, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  EXPECT_EQ(WhatOf([&] { LoadBytes(m, oldNegative); }), "Invalid point in face list: -1");
}

// The plain reading, one chunk after another, which the usual reading (several
// chunks inflated side by side) must match.
template <class Model>
struct TPlainM3DReader : Model {
  void LoadPlain(TBaseStream& stream) { this->LoadM3D(stream, /*inflateAhead=*/false); }
};

// A stream that cannot tell how much it holds, as a pipe.
class TUnsizedStream : public TBaseStream {
 public:
  explicit TUnsizedStream(const std::vector<uint8_t>& bytes) : in_(bytes.data(), bytes.size()) { readable_ = true; }
  size_t Read(void* buffer, size_t count) override { return in_.Read(buffer, std::min<size_t>(count, 4093)); }
  void Write(const void*, size_t) override {}
  int64_t Available() override { return 0; }

 private:
  TReadOnlyMemoryStream in_;
};

template <class Model>
std::string LoadedModel(const Model& m) {
  std::string state = std::to_string(m.VertexCount) + "/" + std::to_string(m.TriangleCount) + ":";
  auto add = [&](const auto& items) {
    state.append(reinterpret_cast<const char*>(items.data()), items.size() * sizeof(items[0]));
    state += '|';
  };
  add(m.Vertices);
  add(m.Triangles);
  add(m.Colors);
  if constexpr (std::is_base_of_v<TTextureModel, Model>) add(m.TexCoords);
  return state;
}

// Loads the file plainly and the usual way (on all cores, on one, from a stream of
// unknown size) and expects the same model, or the same error and counts.
template <class Model>
void ExpectReadsLikePlain(const std::vector<uint8_t>& bytes, const std::string& label) {
  TPlainM3DReader<Model> plain;
  TReadOnlyMemoryStream plainIn(bytes.data(), bytes.size());
  const std::string plainError = WhatOf([&] { plain.LoadPlain(plainIn); });
  for (int way = 0; way < 3; ++way) {
    Model m;
    if (way == 1) LimitThreadStartsForTesting(0);
    const std::string error = WhatOf([&] {
      if (way == 2) {
        TUnsizedStream in(bytes);
        m.LoadFromStream(in);
      } else {
        LoadBytes(m, bytes);
      }
    });
    LimitThreadStartsForTesting(-1);
    ASSERT_EQ(error, plainError) << label << " way " << way;
    if (error == "(no exception)")
      ASSERT_TRUE(LoadedModel(m) == LoadedModel(plain))
          << label << " way " << way << " " << m.VertexCount << " " << plain.VertexCount << " "
          << (m.Triangles == plain.Triangles) << (m.Colors == plain.Colors) << (m.Colors.size()) << " "
          << plain.Colors.size() << " " << (m.Colors.empty() ? 0 : m.Colors[0]) << " "
          << (plain.Colors.empty() ? 0 : plain.Colors[0]);
    else
      ASSERT_EQ(m.VertexCount * 10000000LL + m.TriangleCount, plain.VertexCount * 10000000LL + plain.TriangleCount)
          << label << " way " << way;
  }
}

TEST(ModelFiles, M3DChunksInflatedSideBySideReadAsPlainly) {
  std::mt19937 random(14);
  auto vertices = [&](uint32_t n) {
    std::vector<T3DPoint> v(n);
    for (uint32_t i = 0; i < n; ++i) v[i] = {float(i % 251), float(i / 251), float(random() % 64) / 8};
    return v;
  };
  auto triangles = [&](uint32_t n) {
    std::vector<T3DTriangle> t(2 * n);
    for (uint32_t i = 0; i < 2 * n; ++i) t[i] = {i / 2, (i / 2 + 1) % n, uint32_t(random() % n)};
    return t;
  };
  auto array = [&](uint32_t n, size_t itemBytes) {
    std::vector<uint8_t> items(n * itemBytes);
    for (size_t i = 0; i < items.size(); ++i) items[i] = uint8_t(i % 7 == 0 ? random() : i / itemBytes);
    return DeflateBytes(items);
  };
  // Chunks that fit a model of n vertices, the last ones large enough to be
  // inflated on several cores; colours and texture coordinates fit one count only.
  const uint32_t counts[] = {0, 3, 5, 30000};
  std::vector<std::vector<std::pair<uint16_t, std::vector<uint8_t>>>> fitting;
  for (const uint32_t n : counts)
    fitting.push_back({{1, TM3DBuilder::Counted(n, vertices(n))},
                       {2, n ? TM3DBuilder::Counted(2 * n, triangles(n)) : TM3DBuilder::Counted(0, vertices(0))},
                       {5, array(n, 4)},
                       {3, array(n, 8)}});
  const std::pair<uint16_t, std::vector<uint8_t>> odd[] = {
      {6, {0x10, 0x20, 0x30, 0}}, {9, {}}, {1, {1, 0}} /* too short for its count */};

  for (int file = 0; file < 100; ++file) {
    // Groups of a vertex chunk (mostly) and what fits it, sometimes more chunks than
    // are read at once, now and then a chunk from another group or an odd one.
    TM3DBuilder b;
    const bool textured = file % 2 == 1;
    for (int group = 0, groups = 1 + int(random() % 3); group < groups; ++group) {
      const auto& fit = fitting[random() % 4];
      if (random() % 4 != 0) b.Chunk(fit[0].first, fit[0].second);  // else colours before vertices
      for (int i = 0, more = int(random() % 5); i < more; ++i) {
        const auto& [type, body] = random() % 6 == 0   ? odd[random() % 3]
                                   : random() % 6 == 0 ? fitting[random() % 4][random() % 4]
                                                       : fit[1 + random() % (textured ? 3 : 2)];
        b.Chunk(type, body);
      }
    }
    std::vector<uint8_t> bytes = b.Bytes;
    const std::string label = "file " + std::to_string(file);
    switch (bytes.size() > 3 ? file % 4 : 0) {
      case 1:  // a byte changed anywhere, in a count, a length or deflate data
        bytes[3 + random() % (bytes.size() - 3)] ^= uint8_t(1 << (random() % 8));
        break;
      case 2:  // cut short
        bytes.resize(3 + random() % (bytes.size() - 3));
        break;
      default:
        break;
    }
    if (textured)
      ExpectReadsLikePlain<TTextureModel>(bytes, label);
    else
      ExpectReadsLikePlain<TSurfaceColorModel>(bytes, label);
    if (HasFatalFailure()) return;
  }
}

TEST(ModelFiles, PlyWritesTheFixedLayout) {
  TSurfaceColorModel m;
  MakeTwoTriangles(m);
  m.FileFormat = ffPLY;
  TMemoryStream out;
  m.SaveToStream(out);
  const std::string text(out.Data().begin(), out.Data().end());
  EXPECT_EQ(text,
            "ply\nformat ascii 1.0\nelement vertex 4\nproperty float32 x\nproperty float32 y\n"
            "property float32 z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
            "element face 2\nproperty list uint8 int32 vertex_indices\nend_header\n"
            "0.00000000 0.00000000 0.00000000 18 52 86\n1.50000000 -2.00000000 0.00000000 255 0 128\n"
            "1.00000000 1.00000000 0.25000000 0 0 0\n0.00000000 1.00000000 -3.00000000 255 255 255\n"
            "3 0 1 2\n3 0 2 3\n");
  TSurfaceColorModel back;
  LoadBytes(back, out.Data(), ffPLY);
  EXPECT_EQ(back.Triangles, m.Triangles);
  EXPECT_EQ(back.Vertices[1].Y, -2);
  EXPECT_EQ(back.Colors, m.Colors);

  // A lone vertex has no faces; the file still loads.
  TSurfaceColorModel single;
  single.SetVertexCount(1);
  single.Vertices = {{1, 2, 3}};
  single.Colors = {0x0A0B0C};
  single.FileFormat = ffPLY;
  TMemoryStream one;
  single.SaveToStream(one);
  LoadBytes(back, one.Data(), ffPLY);
  EXPECT_EQ(back.VertexCount, 1);
  EXPECT_EQ(back.TriangleCount, 0);
  EXPECT_EQ(back.Colors[0], 0x0A0B0Cu);
}

TEST(ModelFiles, ColoursSurviveM3DToPlyToM3D) {
  TTempDir dir;
  TSurfaceColorModel m, viaPly, back;
  m.MakeSphere(9);
  for (int i = 0; i < m.VertexCount; ++i) m.Colors[i] = uint32_t(i) * 0x030507u & 0xFFFFFF;
  m.SaveToFile(dir / "a.m3d");
  viaPly.LoadFromFile(dir / "a.m3d");
  viaPly.SaveToFile(dir / "b.ply");
  back.LoadFromFile(dir / "b.ply");
  back.SaveToFile(dir / "c.m3d");
  back.LoadFromFile(dir / "c.m3d");
  EXPECT_EQ(back.Colors, m.Colors);
  EXPECT_EQ(back.Triangles, m.Triangles);
}

TEST(ModelFiles, PlyReaderFollowsTheHeader) {
  auto load = [](const std::string& text) {
    TSurfaceColorModel m;
    LoadBytes(m, std::vector<uint8_t>(text.begin(), text.end()), ffPLY);
    return m.Colors;
  };
  // Colours found by name wherever they stand, floats as 0..1, other elements skipped.
  EXPECT_EQ(load("ply\nformat ascii 1.0\nelement camera 1\nproperty float f\nelement vertex 2\n"
                 "property uchar blue\nproperty float x\nproperty float nx\nproperty float y\nproperty float z\n"
                 "property uchar green\nproperty uchar red\nelement face 0\nend_header\n"
                 "35\n1 0 9 0 0 2 3\n300 0 0 0 0 -4 0.4\n"),
            (std::vector<uint32_t>{0x030201, 0x0000FF}));
  EXPECT_EQ(load("ply\nelement vertex 1\nproperty double x\nproperty double y\nproperty double z\n"
                 "property float red\nproperty float green\nproperty float blue\nend_header\n0 0 0 1 0.5 0\n"),
            (std::vector<uint32_t>{0xFF8000}));
  // Without colours the model is green.
  EXPECT_EQ(load("ply\nelement vertex 1\nend_header\n1 2 3\n"), (std::vector<uint32_t>{0x00FF00}));
  EXPECT_EQ(WhatOf([&] { load("ply\nformat binary_little_endian 1.0\nelement vertex 1\nend_header\n"); }),
            "binary PLY is not supported");
}

TEST(ModelFiles, PlyReaderAcceptsLooseHeadersAndRefusesBadData) {
  auto load = [](const std::string& text) {
    TSurfaceColorModel m;
    LoadBytes(m, std::vector<uint8_t>(text.begin(), text.end()), ffPLY);
    return m.VertexCount * 1000 + m.TriangleCount;
  };
  EXPECT_EQ(load("PLY\r\nformat ascii 1.0\r\n  Element Vertex 3  \r\nELEMENT FACE 1\r\nend_header\r\n"
                 "0 0 0\r\n1 0 0\r\n0 1 0\r\n3 0 1 2"),
            3001);
  auto what = [&](const std::string& text) { return WhatOf([&] { load(text); }); };
  const std::string header = "ply\nelement vertex 3\nelement face 1\nend_header\n0 0 0\n1 0 0\n0 1 0\n";
  EXPECT_EQ(what("plx\n"), "Unsupported file format");
  EXPECT_EQ(what("ply\nelement face 1\nend_header\n3 0 1 2\n"), "Unsupported file format");
  EXPECT_EQ(what("ply\nelement vertex 0\nelement face 1\nend_header\n3 0 1 2\n"), "Unsupported file format");
  EXPECT_EQ(what(header + "3 0 1 x\n"), "'x' is not a valid integer value");
  EXPECT_EQ(what(header + "3 0 1 3\n"), "Invalid point in face list: 3");
  EXPECT_EQ(what(header + "4 0 1 2 0\n"), "Only triangular faces are supported");
  EXPECT_EQ(what(header), "Read less than expected");
  // A header that promises more than the file holds costs no memory.
  EXPECT_EQ(what("ply\nelement vertex 2000000000\nelement face 2000000000\nend_header\n0 0 0\n"),
            "Read less than expected");
  EXPECT_EQ(what("ply\nelement vertex 9999999999\nelement face 1\nend_header\n"), "Unsupported file format");
}

TEST(ModelFiles, FailedSaveKeepsTheOldFile) {
  TTempDir dir;
  const std::string name = dir / "keep.wrl";
  std::ofstream(name) << "old";
  TVRMLLoader modelless;  // fails before writing anything
  EXPECT_THROW(modelless.SaveToFile(name), Exception);
  EXPECT_EQ(ReadText(name), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path().string()), fs::directory_iterator()), 1);
}

TEST(ModelGeometry, NormalizeScalesOnlyOutsideFivePercent) {
  auto firstXAfter = [](float d) {
    TSurfaceColorModel m;
    m.SetVertexCount(2);
    m.Vertices = {{10 + d, 5, 5}, {10 - d, 5, 5}};
    m.Normalize();
    EXPECT_EQ(m.Vertices[0].Y, 0);
    return m.Vertices[0].X;
  };
  EXPECT_NEAR(firstXAfter(1.03f), 1.03, 1e-5);  // centred only
  EXPECT_NEAR(firstXAfter(1.06f), 1.0, 1e-6);   // centred and scaled
}

TEST(ModelGeometry, RemoveDuplicatePointsMergesWithinToleranceOnly) {
  TSurfaceColorModel m;
  m.SetVertexCount(6);
  m.Vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1.000009f, 0, 0}, {0.00001f, 0, 0}, {0, 1, 0}};
  m.Colors = {7, 7, 7, 7, 7, 8};
  m.SetTriangleCount(3);
  m.Triangles = {{0, 1, 3}, {0, 1, 2}, {4, 3, 5}};
  m.RemoveDuplicatePoints();
  // Vertex 3 (0.000009 from 1) merges into 1 and the last vertex takes its slot;
  // 4 (0.00001 from 0) and 5 (another colour) stay.
  ASSERT_EQ(m.VertexCount, 5);
  EXPECT_EQ(m.Vertices[3].Y, 1);
  EXPECT_EQ(m.Colors[3], 8u);
  EXPECT_EQ(m.Vertices[4].X, 0.00001f);
  // Triangle 0 lost its area; the last triangle moved into its slot.
  ASSERT_EQ(m.TriangleCount, 2);
  EXPECT_EQ(m.Triangles[0], (T3DTriangle{4, 1, 3}));
  EXPECT_EQ(m.Triangles[1], (T3DTriangle{0, 1, 2}));

  m.Triangles[1][2] = 9;
  EXPECT_EQ(WhatOf([&] { m.RemoveDuplicatePoints(); }), "Invalid point in face list: 9");

  // Each pole ring collapses to a single vertex.
  TSurfaceColorModel sphere;
  sphere.MakeSphere(10);
  EXPECT_EQ(sphere.VertexCount, 10 * 10 - 2 * 9);
  EXPECT_EQ(sphere.TriangleCount, 2 * 10 * 9 - 2 * 10);
}

}  // namespace
}  // namespace sq
