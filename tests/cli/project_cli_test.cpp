#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/cli_runner.h"

namespace fs = std::filesystem;

using sq::test::RunCli;

TEST(ProjectCli, CreatedProjectReadsBackThroughInfo) {
  const sq::test::TTempDir folder;
  const fs::path& dir = folder.Path();
  const std::string left = (dir / "left image.png").string(), right = (dir / "right.png").string();
  std::ofstream(left) << "x";
  std::ofstream(right) << "x";
  std::ofstream(dir / "pairs.txt") << "# x1 y1 x2 y2\n10 20 12 21\n-3 0 0 7  # off the edge\n\n640 480 630 479\n";
  std::ofstream(dir / "bad.txt") << "1 2 3 4\n5 6 7\n";
  const std::string d = "'" + dir.string() + "/";

  std::string out;
  ASSERT_EQ(RunCli("project create " + d + "p.kst' --image1 '" + left + "' --image2 '" + right + "' --points " + d +
                       "pairs.txt' --frames 40 --animation 3 --highprecision 0 --antialiasing 1",
                   &out),
            0)
      << out;
  EXPECT_EQ(RunCli("info --pairs " + d + "p.kst'", &out), 0);
  EXPECT_EQ(out, "image1: " + left + "\nimage2: " + right + "\nimage1 stored as: " + left +
                     "\nimage1 found: yes\nimage2 stored as: " + right + "\nimage2 found: yes" +
                     "\npoints: 3\nframes: 40\nanimation: 3\nhighprecision: 0\nantialiasing: 1\n"
                     "10 20 12 21\n-3 0 0 7\n640 480 630 479\n");
  // Defaults, and no pairs listed without --pairs.
  out.clear();
  ASSERT_EQ(RunCli("project create " + d + "d.kst'"), 0);
  RunCli("info " + d + "d.kst'", &out);
  EXPECT_EQ(out, "image1:\nimage2:\npoints: 0\nframes: 25\nanimation: 0\nhighprecision: 1\nantialiasing: 0\n");
  // A bad pairs file names its line and writes nothing; a bad option is a usage error.
  out.clear();
  EXPECT_EQ(RunCli("project create " + d + "bad.kst' --points " + d + "bad.txt'", &out), 1);
  EXPECT_NE(out.find("bad.txt, line 2: "), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "bad.kst"));
  EXPECT_EQ(RunCli("project create " + d + "bad.kst' --animation 4"), 2);
  EXPECT_EQ(RunCli("info " + d + "missing.kst'"), 1);
}

TEST(ProjectCli, InfoDescribesImages) {
  const std::string png = SQ_TESTDATA_DIR "/pngsuite/basn0g08.png";
  if (!fs::exists(png)) GTEST_SKIP() << "no test data";
  std::string out;
  EXPECT_EQ(RunCli("info --quiet '" + png + "'", &out), 0);
  EXPECT_EQ(out, "width: 32\nheight: 32\nformat: pf8bit\npixel format: 8-bit grey\ngrayscale: yes\n");
}
