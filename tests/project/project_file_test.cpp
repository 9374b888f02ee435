#include "project/project_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/exception.h"
#include "io/memory_stream.h"
#include "project/point_pairs_file.h"
#include "support/temp_dir.h"

using namespace sq;
namespace fs = std::filesystem;

namespace {

class ProjectFile : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_.Path() / "moved"); }
  std::string Path(const std::string& name) const { return dir_.File(name); }
  void Touch(const std::string& name) const { std::ofstream(Path(name)) << "x"; }
  const test::TTempDir dir_;
};

// Fields 3 to 12 written plainly, as version-0 files hold them.
std::vector<uint8_t> PlainFields(const std::string& path1, int32_t count, int32_t storedPairs, bool antialiasing) {
  TMemoryStream s;
  s.WriteInt32(static_cast<int32_t>(path1.size()));
  s.WriteString(path1);
  s.WriteInt32(0);
  s.WriteInt32(count);
  for (int32_t i = 0; i < storedPairs * 4; ++i) s.WriteInt32(i);
  s.WriteInt32(12);  // FrameCount
  s.WriteInt32(3);   // AnimationType
  s.WriteByte(0);    // HighPrecisionRender
  if (antialiasing) s.WriteByte(1);
  return s.Data();
}

TProjectFile LoadBytes(const std::vector<uint8_t>& bytes, TProjectFile file = {}) {
  TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  file.LoadFromStream(in);
  return file;
}

}  // namespace

TEST_F(ProjectFile, WritesTheDefaultProjectAndRoundTrips) {
  TProjectFile file;
  file.SaveToFile(Path("default.kst"));
  std::vector<uint8_t> bytes{0x4B, 0x53, 0x54, 0x01, 0x06, 0x40, 0x00, 0x00, 0x19, 0x06, 0x80, 0x10, 0x00, 0x00};
  EXPECT_EQ(test::ReadBytes(Path("default.kst")), bytes);
  // Some writers left one more byte after the final half byte; it is never read.
  bytes.push_back(0x10);
  EXPECT_EQ(LoadBytes(bytes).Project.FrameCount, 25);

  Touch("left.png");
  file.Image1Path = Path("left.png");
  file.Image2Path = Path("moved/missing.png");
  for (int i = 0; i < kMaxPointPairs; ++i) file.Project.AddPointPair(i * 5 % 4000, i);
  file.Project.MovePoint(5, 2, -7, 2147483647);
  file.Project.FrameCount = 99;
  file.Project.AnimationType = 2;
  file.Project.HighPrecisionRender = 0;
  file.Project.Antialiasing = 1;
  file.SaveToFile(Path("p.kst"));
  TProjectFile read;
  read.LoadFromFile(Path("p.kst"));
  EXPECT_EQ(read.Image1Path, file.Image1Path);
  EXPECT_EQ(read.Image2Path, Path("missing.png"));  // gone: looked for beside the project
  EXPECT_TRUE(read.Project.Points == file.Project.Points);
  EXPECT_EQ(std::tie(read.Project.PointCount, read.Project.FrameCount, read.Project.AnimationType,
                     read.Project.HighPrecisionRender, read.Project.Antialiasing),
            std::make_tuple(800, 99, 2, 0, 1));
}

TEST_F(ProjectFile, ReadsOlderAndOddFiles) {
  // Version 0: no header, no compression; a 12-character first path.
  const std::vector<uint8_t> v0 = PlainFields("C:\\img\\a.bmp", 2, 2, true);
  EXPECT_EQ((std::vector<uint8_t>(v0.begin(), v0.begin() + 4)), (std::vector<uint8_t>{12, 0, 0, 0}));
  TProjectFile read = LoadBytes(v0);
  EXPECT_EQ(read.Image1Path, "C:\\img\\a.bmp");
  EXPECT_EQ(read.Project.Points[1], (PointPair{4, 5, 6, 7}));
  EXPECT_EQ(std::tie(read.Project.PointCount, read.Project.FrameCount), std::make_tuple(2, 12));
  // 900 stored pairs: 800 are read and the settings come from the bytes after them.
  read = LoadBytes(PlainFields("", 900, 900, true));
  EXPECT_EQ(std::tie(read.Project.PointCount, read.Project.FrameCount), std::make_tuple(800, 3200));
  // Ending right after HighPrecisionRender: Antialiasing keeps its value.
  read.Project.Antialiasing = 1;
  EXPECT_EQ(LoadBytes(PlainFields("", 0, 0, false), read).Project.Antialiasing, 1);
}

TEST_F(ProjectFile, DamagedFilesRaiseAndChangeNothing) {
  auto expectError = [](const std::vector<uint8_t>& bytes, const char* message) {
    TProjectFile file;
    file.Project.AddPointPair(1, 2);
    try {
      LoadBytes(bytes, file);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_TRUE(!message || std::string(e.what()) == message) << e.what();
    }
    EXPECT_EQ(file.Project.PointCount, 1);
  };
  expectError({'K', 'S', 'T', 2, 0x06}, "Error reading file");
  expectError({'K', 'S', 'X', 1}, "Error reading file");
  expectError(PlainFields(std::string(5001, 'a'), 0, 0, true), "Error reading file");
  expectError({0xFF, 0xFF, 0xFF, 0}, "Error reading file");  // a negative length
  expectError({'K', 'S'}, "Read less than expected");
  TMemoryStream full;  // cut anywhere before HighPrecisionRender
  TProjectFile file;
  file.Image1Path = "a/b/c.png";
  for (int i = 0; i < 20; ++i) file.Project.AddPointPair(i * 7, i * 3);
  file.SaveToStream(full);
  const auto& bytes = full.Data();
  for (size_t cut = 0; cut + 2 < bytes.size(); ++cut) expectError({bytes.begin(), bytes.begin() + cut}, nullptr);
}

TEST_F(ProjectFile, ResolvesStoredPaths) {
  Touch("left.png");
  Touch("moved/right.png");
  const std::string folder = Path("");
  // A bare name is relative to the project's folder; a path that exists is kept;
  // one that does not falls back to the remembered folder, whatever its separators.
  EXPECT_EQ(ResolveImagePath("left.png", folder, folder), Path("left.png"));
  EXPECT_EQ(ResolveImagePath("D:\\shoot\\day1\\left.png", "/nowhere/", folder), Path("left.png"));
  // With the two folders different, each is asked for what it holds: the project's
  // folder for a bare name, the remembered one when that fails; an absolute path
  // that exists stays as it is.
  const std::string project = Path(""), remembered = Path("moved/");
  EXPECT_EQ(ResolveImagePath("left.png", project, remembered), Path("left.png"));
  EXPECT_EQ(ResolveImagePath("right.png", project, remembered), Path("moved/right.png"));
  EXPECT_EQ(ResolveImagePath(Path("left.png"), remembered, remembered), Path("left.png"));
  EXPECT_EQ(ResolveImagePath("/gone/right.png", project, remembered), Path("moved/right.png"));
  // A project moved beside its images still finds them.
  TProjectFile file;
  file.Image1Path = "/old/place/right.png";
  file.Image2Path = "right.png";
  file.SaveToFile(Path("moved/p.kst"));
  TProjectFile read;
  read.LoadFromFile(Path("moved/p.kst"));
  EXPECT_EQ(read.Image1Path, Path("moved/right.png"));
  EXPECT_EQ(read.Image2Path, Path("moved/right.png"));
}

TEST_F(ProjectFile, FailedSaveKeepsThePreviousFile) {
  TProjectFile file;
  file.SaveToFile(Path("p.kst"));
  const std::vector<uint8_t> before = test::ReadBytes(Path("p.kst"));
  file.Project.AddPointPair(5, 5);
  file.Image1Path = std::string(5001, 'x');  // could never be read back
  EXPECT_THROW(file.SaveToFile(Path("p.kst")), EInOutError);
  EXPECT_THROW(file.SaveToFile(Path("no/such/folder/p.kst")), EInOutError);
  EXPECT_EQ(test::ReadBytes(Path("p.kst")), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 2);  // no temporary left
}

TEST(PointPairsFile, ParsesPairsAndNamesTheBadLine) {
  const auto pairs = ParsePointPairs("# header\n1 2 3 4\r\n\n  -5\t+6 7 8 # note\n", "p.txt");
  EXPECT_EQ(pairs, (std::vector<PointPair>{{1, 2, 3, 4}, {-5, 6, 7, 8}}));
  for (const char* bad : {"1 2 3\n", "1 2 3 4 5\n", "1 2 3 x\n", "1 2 3 4294967296\n", "1.5 2 3 4\n"})
    EXPECT_THROW(ParsePointPairs(std::string("0 0 0 0\n") + bad, "p.txt"), EBadFormat) << bad;
  std::string many;
  for (int i = 0; i <= kMaxPointPairs; ++i) many += "1 1 1 1\n";
  EXPECT_THROW(ParsePointPairs(many, "p.txt"), EBadFormat);
}
