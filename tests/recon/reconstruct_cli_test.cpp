// stereoquill-cli reconstruct, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "project/point_pairs_file.h"
#include "recon/disparity_file.h"
#include "recon/pipeline.h"

namespace sq {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ReconstructCommand, MatchesThePipelineAndReportsFailuresOnOneLine) {
  if (!fs::exists(SQ_CLI_PATH)) GTEST_SKIP() << "stereoquill-cli is not built";
  const fs::path dir = fs::temp_directory_path() / ("sq_reconstruct_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  // Image 2 shows image 1 three pixels further left, with a nearer band.
  std::mt19937 random(4);
  TLinearBitmap image1(60, 40, pf24bit), image2(60, 40, pf24bit);
  for (int64_t i = 0; i < image1.Size; ++i) image1.Map[i] = static_cast<uint8_t>(random());
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      std::memcpy(image2.PixelAddress(x, y), image1.PixelAddress(std::min(59, x + (y > 15 && y < 25 ? 6 : 3)), y), 3);
  image1.SaveToFile((dir / "a.bmp").string());
  image2.SaveToFile((dir / "b.bmp").string());
  CorrespondenceProject project;
  const PointPair pairs[] = {{5, 5, 2, 5}, {55, 5, 52, 5}, {5, 35, 2, 35}, {55, 35, 52, 35}};
  project.PointCount = 4;
  std::copy(std::begin(pairs), std::end(pairs), project.Points.begin());
  std::ofstream(dir / "pairs.txt") << "# corners\n" << FormatPointPairs(project.ValidPoints());

  auto run = [&](const std::string& arguments, std::string& out, std::string& err) {
    const std::string inputs = " --image1 " + (dir / "a.bmp").string() + " --image2 " + (dir / "b.bmp").string() +
                               " --points " + (dir / "pairs.txt").string() + " -o " + (dir / "m.ply").string();
    FILE* pipe =
        ::popen((SQ_CLI_PATH " reconstruct" + inputs + arguments + " 2>" + (dir / "err").string()).c_str(), "r");
    char buffer[4096];
    out.clear();
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    err = ReadText(dir / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::string out, err;
  ASSERT_EQ(run(" --save-disparity " + (dir / "map.pfm").string(), out, err), 0) << err;

  // The same pipeline in this process gives the same lines and the same map.
  TReconstructionPipeline pipeline(image1, image2, project);
  pipeline.BuildModel();
  const TCommonArea& area = pipeline.CommonArea();
  std::ostringstream expected;
  expected << "Point error: 0.0\ncommon area: " << area.Left << " " << area.Top << " " << area.Width << " "
           << area.Height << "\nvertices: " << pipeline.Model()->VertexCount
           << "\ntriangles: " << pipeline.Model()->TriangleCount << "\n";
  EXPECT_EQ(out, expected.str());
  EXPECT_NE(err.find("Dispersion map"), std::string::npos);  // the progress bar
  const std::vector<uint8_t> pfm = DisparityPfmBytes(pipeline.Map());
  EXPECT_EQ(ReadText(dir / "map.pfm"), std::string(pfm.begin(), pfm.end()));
  EXPECT_EQ(std::string(pfm.begin(), pfm.begin() + 14), "Pf\n57 39\n-1.0\n");
  TSurfaceColorModel model;
  model.LoadFromFile((dir / "m.ply").string());
  EXPECT_EQ(model.TriangleCount, pipeline.Model()->TriangleCount);

  // d = -disparity: the dialog's message on one line, after what was reached.
  fs::remove(dir / "m.ply");
  EXPECT_EQ(run(" --d -3 --median 1 --smooth 1 --quiet", out, err), 1);
  EXPECT_EQ(err, "stereoquill-cli: Floating point division by zero. Try increasing d\n");
  EXPECT_EQ(out.rfind("Point error: ", 0), 0u);
  EXPECT_FALSE(fs::exists(dir / "m.ply"));
  // A project besides the images, or a size out of range: usage errors.
  EXPECT_EQ(run(" " + (dir / "p.kst").string(), out, err), 2);
  EXPECT_EQ(run(" --median 0", out, err), 2);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sq
