#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "model3d/model_files.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

namespace fs = std::filesystem;

int RunCli(const std::string& arguments) {
  const std::string command = std::string(SQ_CLI_PATH) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SimplifyCommand, ReducesMergesAndConvertsModels) {
  if (!fs::exists(SQ_CLI_PATH)) GTEST_SKIP() << "stereoquill-cli is not built";
  const test::TTempDir temp;
  const fs::path dir = temp.Path().string();
  TSurfaceColorModel sphere;
  sphere.MakeSphere(20);
  sphere.FillColor(0x808080);
  sphere.SaveToFile((dir / "sphere.ply").string());
  const std::string in = (dir / "sphere.ply").string();

  EXPECT_EQ(RunCli("simplify " + in + " " + (dir / "small.m3d").string() + " --max-vertices 50 --quiet"), 0);
  auto small = LoadSurfaceModel((dir / "small.m3d").string());
  EXPECT_EQ(small->VertexCount, 50);
  EXPECT_GT(small->TriangleCount, 0);
  EXPECT_EQ(small->Colors, std::vector<uint32_t>(50, 0x808080));  // through PLY, simplify and M3D

  EXPECT_EQ(RunCli("simplify " + in + " " + (dir / "same.wrl").string() + " --remove-duplicates"), 0);
  EXPECT_TRUE(fs::exists(dir / "same.wrl"));

  // Bad requests change nothing on disk.
  EXPECT_EQ(RunCli("simplify " + in + " " + (dir / "x.obj").string() + " --max-vertices 5"), 1);
  EXPECT_EQ(RunCli("simplify " + in + " " + (dir / "y.ply").string()), 1);
  EXPECT_EQ(RunCli("simplify " + in + " " + (dir / "z.ply").string() + " --max-vertices 0"), 2);
  EXPECT_FALSE(fs::exists(dir / "x.obj"));
  EXPECT_FALSE(fs::exists(dir / "y.ply"));
}

}  // namespace
}  // namespace sq
