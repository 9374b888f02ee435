#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "base/exception.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/codecs/bmp_loader.h"
#include "imaging/codecs/gif_loader.h"
#include "imaging/codecs/jpeg_loader.h"
#include "imaging/codecs/pcx_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"
#include "support/temp_dir.h"

using namespace sq;
namespace fs = std::filesystem;

namespace {

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

// A format that only works on files: "width height" as text, a grey image.
class TFileOnlyLoader : public TBitmapLoader {
 public:
  std::string GetLoadFilter() override { return "Sizes (*.wh)|*.wh"; }
  void LoadFromFile(const std::string& fileName, const std::string&, TLinearBitmap& bitmap) override {
    LastFile = fileName;
    int width = 0, height = 0;
    std::ifstream(fileName) >> width >> height;
    bitmap.New(width, height, pf8bit);
    bitmap.Clear(7);
  }
  void SaveToFile(const std::string& fileName, const std::string&, const TLinearBitmap& bitmap) override {
    LastFile = fileName;
    std::ofstream(fileName) << bitmap.Width << ' ' << bitmap.Height;
  }
  std::string LastFile;
};

// Overrides neither pair.
class TEmptyLoader : public TBitmapLoader {
 public:
  std::string GetLoadFilter() override { return "Nothing (*.nil)|*.nil|Odd"; }
};

// Files in a folder.
size_t Files(const test::TTempDir& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir.Path().string()), {}));
}

}  // namespace

TEST(Registry, FindsLoadersByWholeExtensionInAnyCase) {
  TBitmapLoaders& registry = BitmapLoaders();
  ASSERT_GE(registry.Count(), 5);
  EXPECT_EQ(&registry.Items(0), &PCXLoader());
  EXPECT_EQ(&registry.Items(1), &JPEGLoader());
  EXPECT_EQ(&registry.Items(2), &BMPLoader());
  EXPECT_EQ(&registry.Items(4), &GIFLoader());  // behind PNG
  for (const char* extension : {"bmp", "Bmp", "BMP"}) EXPECT_EQ(&registry.FindLoader(extension), &BMPLoader());
  EXPECT_EQ(&registry.FindSaver("gif"), &GIFLoader());
  EXPECT_EQ(&registry.FindLoader("jpe"), &JPEGLoader());
  EXPECT_EQ(&registry.FindSaver("jpeg"), &JPEGLoader());
  EXPECT_EQ(Message([&] { registry.FindSaver("jpe"); }), "Unsupported file format: JPE");
  EXPECT_EQ(Message([&] { registry.FindLoader("jp"); }), "Unsupported file format: JP");
  EXPECT_EQ(Message([&] { registry.FindLoader(""); }), "Unsupported file format: ");

  // Saving to an unknown extension makes no file.
  test::TTempDir dir;
  const TLinearBitmap image(2, 2, pf24bit);
  EXPECT_EQ(Message([&] { image.SaveToFile(dir.Path().string() + "/a.jpe"); }), "Unsupported file format: JPE");
  EXPECT_EQ(Files(dir), 0u);

  // The base test looks for whole patterns in the filter; an empty filter accepts nothing.
  TBitmapLoader nothing;
  EXPECT_FALSE(nothing.CanLoad("BMP"));
  EXPECT_TRUE(TFileOnlyLoader().CanSave("wH"));
  EXPECT_FALSE(TFileOnlyLoader().CanLoad("W"));
}

TEST(Registry, BuildsDialogFilters) {
  TBitmapLoaders registry;
  TEmptyLoader odd;
  registry.RegisterLoader(PCXLoader());
  registry.RegisterLoader(JPEGLoader());
  registry.RegisterLoader(BMPLoader());
  registry.RegisterLoader(odd);
  registry.RegisterLoader(GIFLoader());
  const std::string list =
      "Graphics Interchange Format (*.gif)|*.gif|"
      "Joint Picture Expert Group (*.jpg,*.jpeg,*.jpe)|*.jpg;*.jpeg;*.jpe|"
      "Nothing (*.nil)|*.nil|Odd|"
      "Windows bitmap (*.bmp)|*.bmp|"
      "Zsoft Paintbrush (*.pcx)|*.pcx";
  const std::string all = "*.gif;*.jpg;*.jpeg;*.jpe;*.nil;*.bmp;*.pcx";
  EXPECT_EQ(registry.GetLoadFilter(), all + "|" + all + "|" + list);
  EXPECT_EQ(registry.GetSaveFilter(),
            "Graphics Interchange Format (*.gif)|*.gif|"
            "Joint Picture Expert Group (*.jpg)|*.jpg|"
            "Nothing (*.nil)|*.nil|Odd|"
            "Windows bitmap (*.bmp)|*.bmp|"
            "Zsoft Paintbrush (*.pcx)|*.pcx");
  EXPECT_EQ(TBitmapLoaders().GetLoadFilter(), "");
}

TEST(Registry, FallsBackThroughTemporaryFiles) {
  TFileOnlyLoader sizes;
  TLinearBitmap image(5, 3, pf24bit);
  TMemoryStream stream;
  sizes.SaveToStream(stream, "wh", image);
  EXPECT_EQ(std::string(stream.Data().begin(), stream.Data().end()), "5 3");
  EXPECT_EQ(ExtractFileExtNoDot(sizes.LastFile), "wh");
  EXPECT_FALSE(fs::exists(sizes.LastFile));

  stream.SetPosition(0);
  TLinearBitmap loaded;
  sizes.LoadFromStream(stream, "WH", loaded);
  EXPECT_EQ(loaded.Width, 5);
  EXPECT_EQ(loaded.Height, 3);
  EXPECT_FALSE(fs::exists(sizes.LastFile));

  // A loader that overrides neither pair reports the format instead of looping.
  TEmptyLoader empty;
  EXPECT_EQ(Message([&] { empty.LoadFromStream(stream, "nil", loaded); }), "Unsupported file format: NIL");
  EXPECT_EQ(Message([&] { empty.SaveToStream(stream, "nil", loaded); }), "Unsupported file format: NIL");
}

TEST(Registry, FileDispatchKeepsOldDataOnFailure) {
  test::TTempDir dir;
  const std::string file = dir.Path().string() + "/picture.v1.bmp";
  TLinearBitmap image(4, 2, pf24bit);
  image.Clear(9);
  image.SaveToFile(file);
  TLinearBitmap loaded;
  EXPECT_EQ(&loaded.LoadFromFile(file), &BMPLoader());
  EXPECT_EQ(loaded.Width, 4);

  // A damaged file leaves the bitmap as it was.
  std::ofstream(dir.Path().string() + "/bad.pcx") << "not a picture";
  EXPECT_THROW(loaded.LoadFromFile(dir.Path().string() + "/bad.pcx"), ELinearBitmap);
  EXPECT_EQ(loaded.Width, 4);

  // A failed save leaves the old file whole and no temporary file behind.
  const auto before = fs::file_size(file);
  EXPECT_THROW(TLinearBitmap().SaveToFile(file), ELinearBitmap);
  EXPECT_EQ(fs::file_size(file), before);
  EXPECT_EQ(Files(dir), 2u);

  // A folder name with a dot does not lend its extension.
  fs::create_directory(dir.Path().string() + "/old.gif");
  EXPECT_EQ(Message([&] { loaded.LoadFromFile(dir.Path().string() + "/old.gif/noext"); }), "Unsupported file format: ");
}
