// The plug-in loader with our Netpbm plug-in and with test libraries that misbehave.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/exception.h"
#include "imaging/codecs/image_dll_loader.h"
#include "imaging/linear_bitmap.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

// A folder holding copies of the named plug-ins ("sq-netpbm", "fake", "nofree").
struct TPluginFolder : TTempDir {
  explicit TPluginFolder(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      const std::string file = std::string(name) + ".so";
      const fs::path from = fs::path(std::strcmp(name, "sq-netpbm") == 0 ? SQ_PLUGIN_DIR : SQ_TEST_PLUGIN_DIR) / file;
      fs::copy_file(from, Path() / file);
    }
  }
};

std::string LoadError(TImageDLLLoader& loader, const std::string& file, TLinearBitmap& bitmap) {
  try {
    loader.LoadFromFile(file, ExtractFileExtNoDot(file), bitmap);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

uint32_t Pixel24(const TLinearBitmap& b, int x, int y) {
  const uint8_t* p = b.PixelAddress(x, y);
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];  // 0xRRGGBB
}

TEST(NetpbmPlugin, ReadsEveryKind) {
  TPluginFolder plugins{"sq-netpbm"};
  TImageDLLLoader loader;
  ASSERT_EQ(loader.LoadPlugins(plugins.Path().string()), 1);
  TTempDir files;
  TLinearBitmap b;

  // Bitmaps: 1 is black.  Raw rows are padded to whole bytes.
  loader.LoadFromFile(files.Write("a.pbm", "P1\n# comment\n3 1\n101"), "PBM", b);
  ASSERT_EQ(b.PixelFormat, pf8bit);
  EXPECT_EQ(b.Map[0], 0);
  EXPECT_EQ(b.Map[1], 255);
  EXPECT_EQ(b.Map[2], 0);
  loader.LoadFromFile(files.Write("b.pbm", std::string("P4\n9 2\n\x80\x80\x7f\x00", 11)), "PBM", b);
  ASSERT_EQ(b.Width, 9);
  EXPECT_EQ(b.ScanLine(0)[0], 0);
  EXPECT_EQ(b.ScanLine(0)[8], 0);
  EXPECT_EQ(b.ScanLine(0)[1], 255);
  EXPECT_EQ(b.ScanLine(1)[0], 255);
  EXPECT_EQ(b.ScanLine(1)[1], 0);

  // Grey scales to 8 bits, or to 16-bit grey when the file has more than 8 bits.
  loader.LoadFromFile(files.Write("c.pgm", "P2 3 1 15 0 5 15"), "PGM", b);
  ASSERT_EQ(b.PixelFormat, pf8bit);
  EXPECT_EQ(b.Map[1], 85);
  EXPECT_EQ(b.Palette[3 * 85], 85);
  loader.LoadFromFile(files.Write("d.pgm", std::string("P5\n2 1\n1023\n\x03\xff\x01\x00", 16)), "PGM", b);
  ASSERT_EQ(b.PixelFormat, pf16bit);
  EXPECT_EQ(b.Map[0] | b.Map[1] << 8, 65535);
  EXPECT_EQ(b.Map[2] | b.Map[3] << 8, 16400);  // 256 * 65535 / 1023, rounded

  // Colour arrives as three planes and ends up blue, green, red like every image.
  loader.LoadFromFile(files.Write("e.ppm", std::string("P6 3 1 255\n\x10\x20\x30\x40\x50\x60\xff\x00\x01", 20)), "PPM",
                      b);
  ASSERT_EQ(b.PixelFormat, pf24bit);
  EXPECT_EQ(Pixel24(b, 0, 0), 0x102030u);
  EXPECT_EQ(Pixel24(b, 2, 0), 0xff0001u);
  loader.LoadFromFile(files.Write("f.pnm", "P3\n1 1\n65535\n65535 0 32768\n"), "PNM", b);
  EXPECT_EQ(Pixel24(b, 0, 0), 0xff0080u);
  // PAM with alpha: the alpha channel is dropped by the plug-in itself.
  loader.LoadFromFile(
      files.Write("g.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n\x01\x02\x03\x04"),
      "PAM", b);
  EXPECT_EQ(Pixel24(b, 0, 0), 0x010203u);
}

TEST(NetpbmPlugin, RefusesDamagedFilesAndWritesPgmAndPpm) {
  TPluginFolder plugins{"sq-netpbm"};
  TImageDLLLoader loader;
  loader.LoadPlugins(plugins.Path().string());
  TTempDir files;
  TLinearBitmap b;
  EXPECT_EQ(LoadError(loader, files.Write("t.ppm", "P6 4 4 255\n\x01\x02"), b), "Error in bitmap data");
  EXPECT_EQ(LoadError(loader, files.Write("h.ppm", "P6 16777215 16777215 255\n\x01"), b), "Error in bitmap data");
  EXPECT_EQ(LoadError(loader, files.Write("m.pgm", "P9 1 1 255\n\x01"), b), "Error in bitmap data");
  EXPECT_EQ(LoadError(loader, files.Write("z.pgm", "P2 1 1 0 0"), b), "Error in bitmap data");
  EXPECT_EQ(LoadError(loader, files.File("missing.pgm"), b), "Unable to open file");
  EXPECT_FALSE(loader.CanSave("PBM"));

  TLinearBitmap colour(2, 1, pf24bit);
  const uint8_t pixels[6] = {1, 2, 3, 200, 100, 50};
  std::memcpy(colour.Map, pixels, 6);
  loader.SaveToFile(files.File("out.ppm"), "PPM", colour);
  EXPECT_EQ(test::ReadWholeFile(files.File("out.ppm")), std::string("P6\n2 1\n255\n\x03\x02\x01\x32\x64\xc8", 17));
  loader.SaveToFile(files.File("out.pgm"), "PGM", colour);
  EXPECT_EQ(test::ReadWholeFile(files.File("out.pgm")), std::string("P5\n2 1\n255\n\x02\x64", 13));

  TLinearBitmap grey16(1, 1, pf16bit);
  EXPECT_THROW(loader.SaveToFile(files.File("g.pgm"), "PGM", grey16), ELinearBitmap);
  EXPECT_FALSE(fs::exists(files.File("g.pgm")));
}

TEST(PluginLoader, KeepsOnlyLibrariesWithTheRequiredExports) {
  TPluginFolder plugins{"nofree", "sq-netpbm"};
  fs::create_directory(plugins.Path() / "folder.so");
  plugins.Write("broken.so", "not a library");
  TImageDLLLoader loader;
  EXPECT_EQ(loader.LoadPlugins(plugins.Path().string() + "/"), 1);
  EXPECT_FALSE(loader.CanLoad("NOF"));
  EXPECT_TRUE(loader.CanLoad("ppm"));
  EXPECT_EQ(loader.GetLoadFilter(), "Netpbm image (*.pbm,*.pgm,*.ppm,*.pnm,*.pam)|*.pbm;*.pgm;*.ppm;*.pnm;*.pam");
  // Loading the same folder again adds nothing.
  EXPECT_EQ(loader.LoadPlugins(plugins.Path().string()), 0);
  TLinearBitmap b;
  EXPECT_THROW(loader.LoadFromFile("x.nof", "NOF", b), ELinearBitmap);
}

// Writes a record for the fake plug-in: the container fields, a palette flag, the data.
std::string FakeRecord(int32_t w, int32_t h, int32_t stride, int32_t options, bool palette, std::string data) {
  const int32_t fields[5] = {w, h, stride, options, palette};
  return std::string(reinterpret_cast<const char*>(fields), sizeof fields) + data;
}

TEST(PluginLoader, ConvertsContainersAndRefusesNonsense) {
  TPluginFolder plugins{"fake"};
  TImageDLLLoader loader;
  ASSERT_EQ(loader.LoadPlugins(plugins.Path().string()), 1);
  void* self = dlopen((plugins.Path() / "fake.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(self, nullptr);
  int& freed = *static_cast<int*>(dlsym(self, "FakeFreeCount"));
  TTempDir files;
  TLinearBitmap b;

  // Three planes with a padded stride; two planes fill bytes 0 and 1.
  loader.LoadFromFile(files.Write("p3.fak", FakeRecord(2, 1, 4, 0x13, false, "\x01\x02..\x03\x04..\x05\x06..")), "FAK",
                      b);
  ASSERT_EQ(b.PixelFormat, pf24bit);
  EXPECT_EQ(Pixel24(b, 0, 0), 0x050301u);
  EXPECT_EQ(Pixel24(b, 1, 0), 0x060402u);
  loader.LoadFromFile(files.Write("p2.fak", FakeRecord(1, 1, 1, 0x12, false, "\x07\x08")), "FAK", b);
  EXPECT_EQ(Pixel24(b, 0, 0), 0x000807u);
  // 16-bit grey keeps its samples; 8-bit takes the library's palette.
  loader.LoadFromFile(files.Write("g16.fak", FakeRecord(1, 2, 2, 0x21, false, "\x34\x12\xff\xff")), "FAK", b);
  ASSERT_EQ(b.PixelFormat, pf16bit);
  EXPECT_EQ(b.ScanLine(1)[0], 0xff);
  EXPECT_EQ(b.Map[0] | b.Map[1] << 8, 0x1234);
  loader.LoadFromFile(files.Write("pal.fak", FakeRecord(1, 1, 1, 1, true, "\x09")), "FAK", b);
  EXPECT_EQ(b.Palette[3 * 9 + 2], 7);
  EXPECT_EQ(freed, 4);

  // Four or more channels: the first three are kept and the call says so.
  EXPECT_EQ(LoadError(loader, files.Write("c4.fak", FakeRecord(1, 1, 4, 4, false, "\x01\x02\x03\x04")), b),
            "The image contains 4 color planes, only 3 were loaded");
  EXPECT_EQ(Pixel24(b, 0, 0), 0x030201u);
  EXPECT_EQ(LoadError(loader, files.Write("c5.fak", FakeRecord(1, 1, 1, 0x15, false, "\x01\x02\x03\x04\x05")), b),
            "The image contains 5 color planes, only 3 were loaded");

  // Layouts the program does not know, and sizes or strides that make no sense.
  EXPECT_EQ(LoadError(loader, files.Write("o0.fak", FakeRecord(1, 1, 1, 0, false, "x")), b),
            "Unsupported bitmap format (fake.so)");
  EXPECT_EQ(LoadError(loader, files.Write("o2.fak", FakeRecord(1, 1, 2, 2, false, "xx")), b),
            "Unsupported pixel format (fake.so)");
  for (const auto& [w, h, stride] : {std::tuple{0, 1, 4}, {4, -1, 4}, {4, 4, 3}, {1 << 30, 1 << 30, 1 << 30}}) {
    const std::string message = LoadError(loader, files.Write("n.fak", FakeRecord(w, h, stride, 1, false, "x")), b);
    EXPECT_NE(message.find("invalid image"), std::string::npos) << message;
  }
  EXPECT_EQ(freed, 12) << "every container goes back to the library";

  // Result codes.
  EXPECT_EQ(LoadError(loader, files.Write("e2.fak", "ERR 2"), b), "Unable to open file");
  EXPECT_EQ(LoadError(loader, files.Write("e5.fak", "ERR 5"), b), "Unable to close file");
  EXPECT_EQ(LoadError(loader, files.Write("e7.fak", "ERR 7"), b), "Error in bitmap data: 7");
  EXPECT_EQ(PluginErrorMessage(8, ""), "Process failed: 8");
  TLinearBitmap grey(3, 2, pf8bit);
  try {
    loader.SaveToFile(files.File("x.fail"), "FAIL", grey);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Error writing image file: 9");
  }

  // Saving hands the bitmap's own rows and palette over.
  grey.Clear(5);
  loader.SaveToFile(files.File("s.fak"), "FAK", grey);
  EXPECT_EQ(test::ReadWholeFile(files.File("s.fak")), FakeRecord(3, 2, 3, 1, true, "\x05\x05\x05\x05\x05\x05"));
  dlclose(self);
}

TEST(PluginLoader, RegistersBehindTheBuiltInFormats) {
  TPluginFolder plugins{"sq-netpbm"};
  EXPECT_EQ(LoadPlugins(plugins.Path().string()), 1);
  EXPECT_EQ(&BitmapLoaders().Items(BitmapLoaders().Count() - 1), &ImageDLLLoader());
  EXPECT_NE(BitmapLoaders().GetLoadFilter().find("*.ppm"), std::string::npos);
  TTempDir files;
  TLinearBitmap b;
  b.LoadFromFile(files.Write("photo.ppm", "P3 1 1 255 1 2 3"));
  b.SaveToFile(files.File("photo.png"));
  TLinearBitmap again;
  again.LoadFromFile(files.File("photo.png"));
  EXPECT_EQ(Pixel24(again, 0, 0), 0x010203u);
}

}  // namespace
}  // namespace sq
