// The bundled sample from end to end: the reconstructed disparity against the
// generator's truth, and what the written model holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "io/memory_stream.h"
#include "project/project_file.h"
#include "recon/pipeline.h"

namespace sq {
namespace {

const std::string kSampleDir = std::string(SQ_SOURCE_DIR) + "/samples";

std::istringstream ReadFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return std::istringstream(text.str());
}

TEST(Sample, ReconstructsCloseToTheTruthInThePhotosColours) {
  if (!std::filesystem::exists(kSampleDir + "/sample.kst")) GTEST_SKIP() << "no sample in " << kSampleDir;
  TProjectFile file;
  file.LoadFromFile(kSampleDir + "/sample.kst");
  TLinearBitmap image1, image2;
  image1.LoadFromFile(file.Image1Path);
  image2.LoadFromFile(file.Image2Path);
  TReconstructionPipeline pipeline(image1, image2, file.Project);
  pipeline.BuildModel();

  // The truth: disparity D at every second pixel (PFM rows bottom to top), and H:
  // image 2 shows at H (x - D, y) what image 1 shows at (x, y).
  std::istringstream pfm = ReadFile(kSampleDir + "/truth_disparity.pfm");
  std::string word;
  int tw = 0, th = 0;
  pfm >> word >> tw >> th >> word;
  pfm.get();
  std::vector<float> truth(size_t(tw) * th);
  for (int y = th - 1; y >= 0; --y) pfm.read(reinterpret_cast<char*>(truth.data() + size_t(y) * tw), 4 * tw);
  std::istringstream text = ReadFile(kSampleDir + "/truth.txt");
  PointTransform h{};
  while (text >> word)
    if (word == "homography")
      for (double& v : h) text >> v;

  // Result pixel (x, y) stands for image-1 position (X, Y); its true partner lands
  // at (u, v) after the warp, so the map should hold X - u, and v should be Y.
  const TFloatMap& map = pipeline.Map();
  const TCommonArea& area = pipeline.CommonArea();
  std::vector<double> errors, rowErrors;
  for (int y = area.Top % 2; y < map.Height; y += 2)
    for (int x = area.Left % 2; x < map.Width; x += 2) {
      const int X = x + area.Left, Y = y + area.Top;
      const TPointF p2 = TransformPoint(h, X - truth[size_t(Y / 2) * tw + X / 2], Y);
      const TPointF warped = TransformPoint(pipeline.Transform(), p2.X, p2.Y);
      errors.push_back(std::fabs(*map.PixelAddress(x, y) - (X - warped.X)));
      rowErrors.push_back(std::fabs(warped.Y - Y));
    }
  std::sort(errors.begin(), errors.end());
  std::sort(rowErrors.begin(), rowErrors.end());
  auto quantile = [](const std::vector<double>& v, double q) { return v[size_t(q * (v.size() - 1))]; };
  std::printf("disparity error: median %.3f, 80%% %.3f; row error: 95%% %.3f\n", quantile(errors, 0.5),
              quantile(errors, 0.8), quantile(rowErrors, 0.95));
  EXPECT_LT(quantile(rowErrors, 0.95), 1.5);
  EXPECT_LT(quantile(errors, 0.5), 1.5);
  EXPECT_LT(quantile(errors, 0.8), 4.0);

  // The model is coloured with the photo: every vertex colour is a pixel of image 1,
  // and there are many of them.
  TSurfaceColorModel& model = *pipeline.Model();
  EXPECT_GT(model.VertexCount, 600000);
  EXPECT_GT(model.TriangleCount, 2 * model.VertexCount * 9 / 10);
  std::unordered_set<uint32_t> photo;
  TLinearBitmap photo24;
  photo24.Assign(image1);
  photo24.SetPixelFormat(pf24bit);
  for (int y = 0; y < photo24.Height; ++y)
    for (int x = 0; x < photo24.Width; ++x) {
      const uint8_t* p = photo24.PixelAddress(x, y);
      photo.insert(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
    }
  const std::unordered_set<uint32_t> used(model.Colors.begin(), model.Colors.end());
  EXPECT_GT(used.size(), 1000u);
  EXPECT_TRUE(std::all_of(used.begin(), used.end(), [&](uint32_t c) { return photo.count(c) > 0; }));

  // The file keeps all of it, and the same model always gives the same bytes.
  model.FileFormat = ffM3D;
  TMemoryStream m3d, again;
  model.SaveToStream(m3d);
  model.SaveToStream(again);
  EXPECT_TRUE(m3d.Data() == again.Data());
  TSurfaceColorModel back;
  m3d.SetPosition(0);
  back.LoadFromStream(m3d);
  EXPECT_TRUE(back.Colors == model.Colors);
  EXPECT_TRUE(back.Triangles == model.Triangles);
  EXPECT_EQ(std::memcmp(back.Vertices.data(), model.Vertices.data(), model.Vertices.size() * sizeof(T3DPoint)), 0);
}

}  // namespace
}  // namespace sq
