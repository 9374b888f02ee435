// What the command line answers to bad input: numbers, command words, file names,
// damaged photos and outputs that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/codecs/jpeg_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/file_stream.h"
#include "support/cli_runner.h"

using namespace sq;
using sq::test::RunCli;
using sq::test::TScratchFolder;
namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A 64 x 48 photo-like JPEG, and the same cut half way through its scan.
std::vector<uint8_t> Photo(bool truncated) {
  TLinearBitmap bitmap(64, 48, pf24bit);
  bitmap.Clear(90);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) bitmap.PixelAddress(x, y)[1] = static_cast<uint8_t>(x * 3 + y);
  std::vector<uint8_t> jpeg = CompressJPEG(bitmap, 90);
  const uint8_t scan[] = {0xFF, 0xDA};
  const auto start = std::search(jpeg.begin(), jpeg.end(), std::begin(scan), std::end(scan));
  if (truncated) jpeg.resize(static_cast<size_t>(start - jpeg.begin() + (jpeg.end() - start) / 2));
  return jpeg;
}

}  // namespace

TEST(BadInputCli, NumbersMustBeFinite) {
  const std::string model = "'" + std::string(SQ_SOURCE_DIR) + "/tests/corpus/ply_reader/grid.ply'";
  for (const std::string option : {"--spread nan", "--occlusion nan", "--zf nan", "--d inf"}) {
    std::string out;
    EXPECT_EQ(RunCli("reconstruct x.kst -o m.ply " + option, &out), 2) << option;
    EXPECT_TRUE(Contains(out, option.substr(0, option.find(' ')) + ": a finite number is expected")) << out;
  }
  for (const std::string option : {"--zoom nan", "--rotate-x nan", "--rotate-y -inf", "--ambient nan"}) {
    std::string out;
    EXPECT_EQ(RunCli("render " + model + " out.png " + option, &out), 2) << option;
    EXPECT_TRUE(Contains(out, option.substr(0, option.find(' ')) + ": a finite number is expected")) << out;
  }
}

TEST(BadInputCli, CommandWordsAndHelp) {
  std::string out, direct;
  EXPECT_EQ(RunCli("frobnicate", &out), 2);
  EXPECT_TRUE(Contains(out, "stereoquill-cli: unknown command 'frobnicate'")) << out;
  EXPECT_EQ(RunCli("help convert", &out), 0);
  RunCli("convert --help", &direct);
  EXPECT_TRUE(Contains(out, direct)) << out;
  out.clear();
  EXPECT_EQ(RunCli("help frobnicate", &out), 2);
  EXPECT_TRUE(Contains(out, "unknown command 'frobnicate'")) << out;
  out.clear();
  RunCli("help image", &out);
  EXPECT_TRUE(Contains(out, "\"lowpass\" sharpens when")) << out;
}

TEST(BadInputCli, FileNamesGetPlainAnswers) {
  TScratchFolder dir("sq_bad_names");
  WriteFile(dir.Path() / "a.jpg", Photo(false));
  std::ofstream(dir.Path() / "m.wrl") << "#VRML V2.0 utf8\n";
  std::ofstream(dir.Path() / "bad.ply") << "ply\nformat ascii 1.0\nelement vertex 1\nelement face 1\nend_header\n"
                                        << "1 2 3\n3 0 0 \x1b[2J\n";
  const std::string a = dir.Quoted("a.jpg");
  struct TCase {
    std::string Arguments, Message;
  };
  const std::string out = (dir.Path() / "out").string(), m = (dir.Path() / "o.m3d").string();
  for (const TCase& c : std::vector<TCase>{
           {"convert " + a + " '" + out + "'", out + ": no file extension; use .png, .jpg, .bmp, .pcx or .gif"},
           {"convert " + a + " '" + m + "'",
            m + " is a model format; convert turns images into images and models into models"},
           {"convert " + dir.Quoted("m.wrl") + " " + dir.Quoted("m.ply"), "m.wrl: VRML files can be written, not read"},
           {"convert " + a + " " + dir.Quoted("no/such/x.png"),
            "folder " + (dir.Path() / "no/such").string() + " does not exist"},
           {"convert " + dir.Quoted("bad.ply") + " " + dir.Quoted("x.m3d"),
            "bad.ply: line 7: '\\x1B[2J' is not a valid integer value"},
           {"image " + a + " " + dir.Quoted("x.png") + " rotate 1/0", "Invalid angle"},
       }) {
    std::string text;
    EXPECT_EQ(RunCli(c.Arguments, &text), c.Arguments.starts_with("image") ? 2 : 1) << c.Arguments;
    EXPECT_TRUE(Contains(text, c.Message)) << text;
  }
  // Nothing was written, not even a temporary file.
  EXPECT_EQ(dir.Listing().size(), std::string("a.jpg m.wrl bad.ply ").size()) << dir.Listing();
}

TEST(BadInputCli, DamagedPhotosLoadWithAWarning) {
  TScratchFolder dir("sq_bad_photo");
  WriteFile(dir.Path() / "cut.jpg", Photo(true));
  WriteFile(dir.Path() / "whole.jpg", Photo(false));
  std::string out;
  EXPECT_EQ(RunCli("convert --quiet " + dir.Quoted("cut.jpg") + " " + dir.Quoted("cut.png"), &out), 0) << out;
  EXPECT_TRUE(Contains(out, "stereoquill-cli: warning: " + (dir.Path() / "cut.jpg").string() +
                                ": JPEG data ends early; the rest is grey"))
      << out;
  EXPECT_TRUE(fs::exists(dir.Path() / "cut.png"));
  out.clear();
  RunCli("info --quiet " + dir.Quoted("cut.jpg"), &out);
  EXPECT_TRUE(Contains(out, "pixel format: 24-bit colour\n")) << out;
  EXPECT_TRUE(Contains(out, "\ndamaged: yes\n")) << out;
  out.clear();
  RunCli("info --quiet " + dir.Quoted("whole.jpg"), &out);
  EXPECT_FALSE(Contains(out, "damaged")) << out;
  // The pixel limit is the user's to raise or lower.
  out.clear();
  EXPECT_EQ(RunCli("info --quiet --max-pixels 3000 " + dir.Quoted("whole.jpg"), &out), 1);
  EXPECT_TRUE(Contains(out, "whole.jpg: image too large (64 \u00D7 48 pixels)")) << out;
}

TEST(BadInputCli, ProjectsKeepRelativePathsAndPairsMustExist) {
  TScratchFolder dir("sq_bad_project");
  fs::create_directories(dir.Path() / "photos");
  fs::create_directories(dir.Path() / "projects");
  WriteFile(dir.Path() / "photos/l.jpg", Photo(false));
  std::ofstream(dir.Path() / "empty.txt") << "# nothing yet\n";
  const fs::path relative = fs::relative(dir.Path() / "photos/l.jpg");
  std::string out;
  ASSERT_EQ(RunCli("project create " + dir.Quoted("projects/p.kst") + " --image1 '" + relative.string() + "'", &out), 0)
      << out;
  // Moved with its images, the project still finds them.
  fs::rename(dir.Path(), dir.Path().string() + "_moved");
  const fs::path moved = dir.Path().string() + "_moved";
  out.clear();
  RunCli("info '" + (moved / "projects/p.kst").string() + "'", &out);
  fs::rename(moved, dir.Path());
  EXPECT_TRUE(Contains(out, "image1 stored as: ../photos/l.jpg\nimage1 found: yes\n")) << out;

  out.clear();
  EXPECT_EQ(RunCli("reconstruct --image1 a.jpg --image2 b.jpg --points " + dir.Quoted("empty.txt") + " -o " +
                       dir.Quoted("m.ply"),
                   &out),
            1);
  EXPECT_TRUE(Contains(out, "no point pairs in " + (dir.Path() / "empty.txt").string())) << out;
}

TEST(BadInputCli, StoppedSavesLeaveNoTemporaryFile) {
  TScratchFolder dir("sq_bad_stop");
  TAtomicFileSave save((dir.Path() / "x.png").string());
  save.Stream().WriteByte(1);
  EXPECT_TRUE(fs::exists(save.TempName()));
  // What the command line's SIGINT and SIGTERM handler runs.
  RemovePendingSaveFiles();
  EXPECT_FALSE(fs::exists(save.TempName()));
}

TEST(BadInputCli, FailedModelStillWritesTheDisparityMap) {
  TScratchFolder dir("sq_bad_model");
  std::string out;
  // With d = 0 a zero disparity cannot become a depth.
  EXPECT_EQ(RunCli("reconstruct --quiet '" + std::string(SQ_SOURCE_DIR) + "/samples/sample.kst' -o " +
                       dir.Quoted("m.ply") + " --d 0 --save-disparity " + dir.Quoted("d.pfm"),
                   &out),
            1);
  EXPECT_TRUE(Contains(out, "Try increasing d")) << out;
  EXPECT_TRUE(fs::exists(dir.Path() / "d.pfm"));
  EXPECT_FALSE(fs::exists(dir.Path() / "m.ply"));
}
