// The bundled sample from end to end: the reconstructed disparity against the
// generator's truth, and the written model byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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

TEST(Sample, ReconstructsCloseToTheTruthAndWritesTheSameModel) {
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

  // Every step is deterministic to the bit, so the model file is too.
  TSurfaceColorModel& model = *pipeline.Model();
  EXPECT_EQ(model.VertexCount, 711087);
  EXPECT_EQ(model.TriangleCount, 1418672);
  TMemoryStream m3d;
  model.SaveToStream(m3d);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (uint8_t b : m3d.Data()) hash = (hash ^ b) * 1099511628211ull;
  EXPECT_EQ(hash, 0xf7b6ce1315d13c81ull);
}

}  // namespace
}  // namespace sq
