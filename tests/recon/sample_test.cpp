// The bundled sample from end to end: the reconstructed disparity against the
// generator's truth, and the written model byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/memory_stream.h"
#include "project/project_file.h"
#include "recon/pipeline.h"

namespace sq {
namespace {

const std::string kSampleDir = std::string(SQ_SOURCE_DIR) + "/samples";

std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A grey little-endian PFM, rows returned top first.
std::vector<float> ReadPfm(const std::string& fileName, int& w, int& h) {
  std::istringstream in(ReadText(fileName));
  std::string magic, scale;
  in >> magic >> w >> h >> scale;
  in.get();
  std::vector<float> values(size_t(w) * h);
  for (int y = h - 1; y >= 0; --y) in.read(reinterpret_cast<char*>(values.data() + size_t(y) * w), 4 * w);
  return values;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

// Runs the whole chain once for every test of the suite.
class Sample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::filesystem::exists(kSampleDir + "/sample.kst")) return;
    file_ = new TProjectFile;
    file_->LoadFromFile(kSampleDir + "/sample.kst");
    image1_ = new TLinearBitmap;
    image2_ = new TLinearBitmap;
    image1_->LoadFromFile(file_->Image1Path);
    image2_->LoadFromFile(file_->Image2Path);
    pipeline_ = new TReconstructionPipeline(*image1_, *image2_, file_->Project);
    pipeline_->BuildModel();
  }
  static void TearDownTestSuite() {
    delete pipeline_;
    delete image1_;
    delete image2_;
    delete file_;
  }
  void SetUp() override {
    if (!pipeline_) GTEST_SKIP() << "no sample in " << kSampleDir;
  }
  static TProjectFile* file_;
  static TLinearBitmap *image1_, *image2_;
  static TReconstructionPipeline* pipeline_;
};
TProjectFile* Sample::file_ = nullptr;
TLinearBitmap* Sample::image1_ = nullptr;
TLinearBitmap* Sample::image2_ = nullptr;
TReconstructionPipeline* Sample::pipeline_ = nullptr;

TEST_F(Sample, DisparityIsCloseToTheTruth) {
  int tw = 0, th = 0;
  const std::vector<float> truth = ReadPfm(kSampleDir + "/truth_disparity.pfm", tw, th);
  ASSERT_EQ(tw * 2, image1_->Width);
  // truth.txt: image 2 shows at H (x - D, y) what image 1 shows at (x, y).
  std::istringstream text(ReadText(kSampleDir + "/truth.txt"));
  PointTransform h{};
  for (std::string word; text >> word;)
    if (word == "homography")
      for (double& v : h) text >> v;

  // A pixel (x, y) of the results stands for image-1 position (X, Y); its true
  // partner in image 2 lands at (u, v) after the warp, so the map should hold X - u
  // and v should be Y.
  const TFloatMap& map = pipeline_->Map();
  const TCommonArea& area = pipeline_->CommonArea();
  std::vector<double> errors, rowErrors;
  for (int y = 0; y < map.Height; ++y)
    for (int x = 0; x < map.Width; ++x) {
      const int X = x + area.Left, Y = y + area.Top;
      if (X % 2 || Y % 2) continue;
      const double d = truth[size_t(Y / 2) * tw + X / 2];
      const TPointF p2 = TransformPoint(h, X - d, Y);
      const TPointF warped = TransformPoint(pipeline_->Transform(), p2.X, p2.Y);
      errors.push_back(std::fabs(*map.PixelAddress(x, y) - (X - warped.X)));
      rowErrors.push_back(std::fabs(warped.Y - Y));
    }
  std::sort(errors.begin(), errors.end());
  std::sort(rowErrors.begin(), rowErrors.end());
  auto quantile = [](const std::vector<double>& v, double q) { return v[size_t(q * (v.size() - 1))]; };
  std::printf("disparity error: median %.3f, 80%% %.3f, 95%% %.3f; row error: median %.3f, 95%% %.3f\n",
              quantile(errors, 0.5), quantile(errors, 0.8), quantile(errors, 0.95), quantile(rowErrors, 0.5),
              quantile(rowErrors, 0.95));
  EXPECT_LT(quantile(rowErrors, 0.95), 1.5);
  EXPECT_LT(quantile(errors, 0.5), 1.5);
  EXPECT_LT(quantile(errors, 0.8), 4.0);
}

TEST_F(Sample, ModelBytesStayTheSame) {
  TSurfaceColorModel& model = *pipeline_->Model();
  EXPECT_EQ(model.VertexCount, 711087);
  EXPECT_EQ(model.TriangleCount, 1418672);
  TMemoryStream m3d;
  model.SaveToStream(m3d);
  EXPECT_EQ(Fnv1a(m3d.Data()), 0xf7b6ce1315d13c81ull);
}

}  // namespace
}  // namespace sq
