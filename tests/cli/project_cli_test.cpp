#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct TRun {
  int Code = -1;
  std::string Out;
};

// Runs the command-line tool with the given arguments (already quoted), stderr
// folded into the output.
TRun Cli(const std::string& arguments) {
  TRun run;
  FILE* pipe = ::popen((std::string("'") + SQ_CLI_PATH + "' " + arguments + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) run.Out.append(block, got);
  const int status = ::pclose(pipe);
  run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

}  // namespace

TEST(ProjectCli, CreatedProjectReadsBackThroughInfo) {
  const fs::path dir = fs::temp_directory_path() / ("sq_project_cli_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "left image.png") << "x";
  std::ofstream(dir / "right.png") << "x";
  std::ofstream(dir / "pairs.txt") << "# x1 y1 x2 y2\n10 20 12 21\n-3 0 0 7  # off the edge\n\n640 480 630 479\n";
  const fs::path kst = dir / "p.kst";

  TRun run = Cli("project create " + Quote(kst) + " --image1 " + Quote(dir / "left image.png") +
                 " --image2 " + Quote(dir / "right.png") + " --points " + Quote(dir / "pairs.txt") +
                 " --frames 40 --animation 3 --highprecision 0 --antialiasing 1");
  ASSERT_EQ(run.Code, 0) << run.Out;
  run = Cli("info --pairs " + Quote(kst));
  EXPECT_EQ(run.Code, 0);
  EXPECT_EQ(run.Out, "image1: " + (dir / "left image.png").string() + "\nimage2: " + (dir / "right.png").string() +
                         "\npoints: 3\nframes: 40\nanimation: 3\nhighprecision: 0\nantialiasing: 1\n"
                         "10 20 12 21\n-3 0 0 7\n640 480 630 479\n");

  // Defaults, and no pairs listed without --pairs.
  run = Cli("project create " + Quote(dir / "d.kst"));
  ASSERT_EQ(run.Code, 0) << run.Out;
  run = Cli("info " + Quote(dir / "d.kst"));
  EXPECT_EQ(run.Out, "image1:\nimage2:\npoints: 0\nframes: 25\nanimation: 0\nhighprecision: 1\nantialiasing: 0\n");

  // A bad pairs file names its line and writes nothing; a bad option is a usage error.
  std::ofstream(dir / "bad.txt") << "1 2 3 4\n5 6 7\n";
  run = Cli("project create " + Quote(dir / "bad.kst") + " --points " + Quote(dir / "bad.txt"));
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Out.find("line 2"), std::string::npos) << run.Out;
  EXPECT_FALSE(fs::exists(dir / "bad.kst"));
  EXPECT_EQ(Cli("project create " + Quote(dir / "bad.kst") + " --animation 4").Code, 2);
  EXPECT_EQ(Cli("info " + Quote(dir / "missing.kst")).Code, 1);
  fs::remove_all(dir);
}
