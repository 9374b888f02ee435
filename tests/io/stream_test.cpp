#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/exception.h"
#include "io/buffered_stream.h"
#include "io/file_stream.h"
#include "io/memory_stream.h"
#include "io/stream_class.h"
#include "io/text_stream.h"
#include "support/temp_dir.h"

using namespace sq;
namespace fs = std::filesystem;

namespace {

std::string Text(const TMemoryStream& stream) { return {stream.Data().begin(), stream.Data().end()}; }

std::vector<std::string> Lines(const std::string& text) {
  TReadOnlyMemoryStream source(text.data(), text.size());
  TTextStream in(source, 16);  // a small buffer, so breaks fall on its edges
  std::vector<std::string> lines;
  while (!in.Eof()) lines.push_back(in.ReadLine());
  return lines;
}

// Writes its text, or fails half-way when asked.
class TNote : public TStreamClass {
 public:
  std::string ClassName() const override { return "TNote"; }
  void SaveToStream(TBaseStream& stream) override {
    stream.WriteString(Body);
    if (FailHalfWay) throw EInOutError("disk full");
    stream.WriteString(Body);
  }
  void LoadFromStream(TBaseStream& stream) override {
    Body.clear();
    char c;
    while (stream.Read(&c, 1) == 1) Body += c;
  }
  std::string Body;
  bool FailHalfWay = false;
};

}  // namespace

TEST(BufferedStream, BuffersBothWays) {
  TMemoryStream target;
  {
    TBufferedStream out(target, 16);
    for (int i = 0; i < 100; ++i) out.WriteByte(static_cast<uint8_t>(i));
    const std::vector<uint8_t> block(40, 0xAA);
    out.Write(block.data(), block.size());  // larger than the buffer: straight through
    out.Flush();
    EXPECT_EQ(target.Size(), 140);
  }
  EXPECT_EQ(target.Data()[99], 99);
  EXPECT_EQ(target.Data()[139], 0xAA);

  target.SetPosition(0);
  TBufferedStream in(target, 16);
  EXPECT_EQ(in.ReadByte(), 0);
  EXPECT_EQ(in.Available(), 139);
  uint8_t rest[139];
  in.ReadBuffer(rest, sizeof rest);
  EXPECT_EQ(rest[98], 99);
  try {
    in.ReadByte();
    ADD_FAILURE();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Read less than expected");
  }
}

TEST(TextStream, ReadsEveryLineEndAlike) {
  const std::vector<std::string> expected = {"ply", "", "format ascii 1.0", "last"};
  EXPECT_EQ(Lines("ply\r\n\r\nformat ascii 1.0\r\nlast"), expected);
  EXPECT_EQ(Lines("ply\n\r\n\rformat ascii 1.0\n\rlast\n\r"), expected);
  EXPECT_EQ(Lines("ply\n\nformat ascii 1.0\nlast\n"), expected);
  EXPECT_EQ(Lines("ply\r\rformat ascii 1.0\rlast\r"), expected);

  TReadOnlyMemoryStream empty(nullptr, 0);
  TTextStream in(empty);
  EXPECT_THROW(in.ReadLine(), EInOutError);

  TMemoryStream target;
  TTextStream out(target);
  out.WriteLine("a");
  out.LineBreak = "\n";
  out.WriteText("b ");
  out.WriteLine("c");
  out.Flush();
  EXPECT_EQ(Text(target), "a\r\nb c\n");
}

TEST(StreamClass, SavesAtomicallyAndLoadsBack) {
  const test::TTempDir temp;
  const std::string folder = temp.Path().string();
  const std::string file = folder + "/note.txt";
  TNote note;
  note.Body = "hello ";
  note.SaveToFile(file);
  ::chmod(file.c_str(), 0640);

  TNote failing;
  failing.Body = "broken";
  failing.FailHalfWay = true;
  EXPECT_THROW(failing.SaveToFile(file), EInOutError);
  TNote loaded;
  loaded.LoadFromFile(file);
  EXPECT_EQ(loaded.Body, "hello hello ");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);  // no temporary file left

  note.Body = "again";
  note.SaveToFile(file);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));  // kept
  loaded.LoadFromFile(file);
  EXPECT_EQ(loaded.Body, "againagain");

  // Saving through a link replaces the file it points to.
  fs::create_symlink(file, folder + "/link.txt");
  note.Body = "via link ";
  note.SaveToFile(folder + "/link.txt");
  EXPECT_TRUE(fs::is_symlink(folder + "/link.txt"));
  loaded.LoadFromFile(file);
  EXPECT_EQ(loaded.Body, "via link via link ");
}
