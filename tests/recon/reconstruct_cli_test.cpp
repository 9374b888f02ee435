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
#include "project/project_file.h"
#include "recon/disparity_file.h"
#include "recon/pipeline.h"

namespace sq {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int Code;
  std::string Out, Err;
};

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReconstructCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(SQ_CLI_PATH)) GTEST_SKIP() << "stereoquill-cli is not built";
    dir_ = fs::temp_directory_path() / ("sq_reconstruct_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    // Image 2 shows image 1 three pixels further left, with a nearer band.
    std::mt19937 random(4);
    image1_.New(60, 40, pf24bit);
    for (int64_t i = 0; i < image1_.Size; ++i) image1_.Map[i] = static_cast<uint8_t>(random());
    image2_.New(60, 40, pf24bit);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x)
        std::memcpy(image2_.PixelAddress(x, y), image1_.PixelAddress(std::min(59, x + (y > 15 && y < 25 ? 6 : 3)), y),
                    3);
    image1_.SaveToFile((dir_ / "a.bmp").string());
    image2_.SaveToFile((dir_ / "b.bmp").string());
    const PointPair pairs[] = {{5, 5, 2, 5}, {55, 5, 52, 5}, {5, 35, 2, 35}, {55, 35, 52, 35}};
    project_.PointCount = 4;
    std::copy(std::begin(pairs), std::end(pairs), project_.Points.begin());
    std::ofstream(dir_ / "pairs.txt") << "# corners\n" << FormatPointPairs(project_.ValidPoints());
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  TRun Run(const std::string& arguments) {
    const fs::path err = dir_ / "stderr.txt";
    const std::string command = std::string(SQ_CLI_PATH) + " reconstruct " + arguments + " 2>" + err.string();
    TRun run{-1, {}, {}};
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.Out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Err = ReadText(err);
    return run;
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::string Images() const {
    return "--image1 " + Path("a.bmp") + " --image2 " + Path("b.bmp") + " --points " + Path("pairs.txt");
  }

  fs::path dir_;
  TLinearBitmap image1_, image2_;
  CorrespondenceProject project_;
};

TEST_F(ReconstructCommand, WritesTheModelAndReportsTheSteps) {
  const TRun run = Run(Images() + " -o " + Path("model.ply") + " --save-disparity " + Path("map.pfm") + " --quiet");
  ASSERT_EQ(run.Code, 0) << run.Err;

  // The same pipeline in this process gives the same lines and the same map.
  TReconstructionPipeline pipeline(image1_, image2_, project_);
  pipeline.BuildModel();
  const TCommonArea& area = pipeline.CommonArea();
  std::ostringstream expected;
  expected << "Point error: 0.0\ncommon area: " << area.Left << " " << area.Top << " " << area.Width << " "
           << area.Height << "\nvertices: " << pipeline.Model()->VertexCount
           << "\ntriangles: " << pipeline.Model()->TriangleCount << "\n";
  EXPECT_EQ(run.Out, expected.str());
  EXPECT_EQ(run.Err, "");
  const std::vector<uint8_t> pfm = DisparityPfmBytes(pipeline.Map());
  EXPECT_EQ(ReadText(dir_ / "map.pfm"), std::string(pfm.begin(), pfm.end()));
  const std::string header = "Pf\n" + std::to_string(area.Width) + " " + std::to_string(area.Height) + "\n-1.0\n";
  EXPECT_EQ(ReadText(dir_ / "map.pfm").substr(0, header.size()), header);
  TSurfaceColorModel model;
  model.LoadFromFile(Path("model.ply"));
  EXPECT_EQ(model.TriangleCount, pipeline.Model()->TriangleCount);

  // From a project naming the images beside it, with a progress bar on stderr.
  TProjectFile file;
  file.Image1Path = "a.bmp";
  file.Image2Path = "b.bmp";
  file.Project = project_;
  file.SaveToFile(Path("scene.kst"));
  const TRun fromProject = Run(Path("scene.kst") + " -o " + Path("model.m3d"));
  EXPECT_EQ(fromProject.Code, 0) << fromProject.Err;
  EXPECT_EQ(fromProject.Out, expected.str());
  EXPECT_NE(fromProject.Err.find("Dispersion map"), std::string::npos);
}

TEST_F(ReconstructCommand, RefusesBadRequestsClearly) {
  // Both kinds of input, or neither: a usage error.
  EXPECT_EQ(Run(Path("scene.kst") + " " + Images() + " -o " + Path("m.ply")).Code, 2);
  EXPECT_EQ(Run("-o " + Path("m.ply")).Code, 2);
  EXPECT_EQ(Run(Images() + " -o " + Path("m.ply") + " --median 0").Code, 2);

  // An unknown model format fails before any work.
  const TRun format = Run(Images() + " -o " + Path("m.xyz") + " --quiet");
  EXPECT_EQ(format.Code, 1);
  EXPECT_EQ(format.Out, "");
  EXPECT_NE(format.Err.find("Unsupported file format: XYZ"), std::string::npos) << format.Err;

  // d = -disparity: the dialog's message on one line, after what was reached.
  const TRun zero = Run(Images() + " -o " + Path("m.ply") + " --d -3 --median 1 --smooth 1 --quiet");
  EXPECT_EQ(zero.Code, 1);
  EXPECT_EQ(zero.Err, "stereoquill-cli: Floating point division by zero. Try increasing d\n");
  EXPECT_EQ(zero.Out.rfind("Point error: ", 0), 0u);
  EXPECT_FALSE(fs::exists(dir_ / "m.ply"));
}

}  // namespace
}  // namespace sq
