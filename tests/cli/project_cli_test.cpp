#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Runs the tool with stderr folded into the output; returns the exit code.
int Cli(const std::string& arguments, std::string* out = nullptr) {
  FILE* pipe = ::popen((std::string("'") + SQ_CLI_PATH + "' " + arguments + " 2>&1").c_str(), "r");
  char block[4096];
  for (size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;)
    if (out) out->append(block, got);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(ProjectCli, CreatedProjectReadsBackThroughInfo) {
  const fs::path dir = fs::temp_directory_path() / ("sq_project_cli_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string left = (dir / "left image.png").string(), right = (dir / "right.png").string();
  std::ofstream(left) << "x";
  std::ofstream(right) << "x";
  std::ofstream(dir / "pairs.txt") << "# x1 y1 x2 y2\n10 20 12 21\n-3 0 0 7  # off the edge\n\n640 480 630 479\n";
  std::ofstream(dir / "bad.txt") << "1 2 3 4\n5 6 7\n";
  const std::string d = "'" + dir.string() + "/";

  std::string out;
  ASSERT_EQ(Cli("project create " + d + "p.kst' --image1 '" + left + "' --image2 '" + right + "' --points " + d +
                    "pairs.txt' --frames 40 --animation 3 --highprecision 0 --antialiasing 1",
                &out),
            0)
      << out;
  EXPECT_EQ(Cli("info --pairs " + d + "p.kst'", &out), 0);
  EXPECT_EQ(out, "image1: " + left + "\nimage2: " + right + "\nimage1 stored as: " + left +
                     "\nimage1 found: yes\nimage2 stored as: " + right + "\nimage2 found: yes" +
                     "\npoints: 3\nframes: 40\nanimation: 3\nhighprecision: 0\nantialiasing: 1\n"
                     "10 20 12 21\n-3 0 0 7\n640 480 630 479\n");
  // Defaults, and no pairs listed without --pairs.
  out.clear();
  ASSERT_EQ(Cli("project create " + d + "d.kst'"), 0);
  Cli("info " + d + "d.kst'", &out);
  EXPECT_EQ(out, "image1:\nimage2:\npoints: 0\nframes: 25\nanimation: 0\nhighprecision: 1\nantialiasing: 0\n");
  // A bad pairs file names its line and writes nothing; a bad option is a usage error.
  out.clear();
  EXPECT_EQ(Cli("project create " + d + "bad.kst' --points " + d + "bad.txt'", &out), 1);
  EXPECT_NE(out.find("bad.txt, line 2: "), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "bad.kst"));
  EXPECT_EQ(Cli("project create " + d + "bad.kst' --animation 4"), 2);
  EXPECT_EQ(Cli("info " + d + "missing.kst'"), 1);
  fs::remove_all(dir);
}

TEST(ProjectCli, InfoDescribesImages) {
  const std::string png = SQ_TESTDATA_DIR "/pngsuite/basn0g08.png";
  if (!fs::exists(png)) GTEST_SKIP() << "no test data";
  std::string out;
  EXPECT_EQ(Cli("info --quiet '" + png + "'", &out), 0);
  EXPECT_EQ(out, "width: 32\nheight: 32\nformat: pf8bit\npixel format: 8-bit grey\ngrayscale: yes\n");
}
