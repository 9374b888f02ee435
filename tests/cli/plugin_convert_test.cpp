// The command-line tool reads formats that only a plug-in provides.
#include <gtest/gtest.h>

#include "imaging/linear_bitmap.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

TEST(PluginConvert, ConvertsANetpbmPhotoToPng) {
  test::TTempDir folder;
  const std::string ppm = folder.Write("photo.ppm", "P3 2 1 255  10 20 30  200 100 50\n");
  const std::string png = folder.File("photo.png");
  std::string out;
  ASSERT_EQ(test::RunCommand(test::ShellQuote(SQ_CLI_PATH) + " convert --quiet " + test::ShellQuote(ppm) + " " +
                                 test::ShellQuote(png),
                             &out),
            0)
      << out;
  TLinearBitmap image;
  image.LoadFromFile(png);
  ASSERT_EQ(image.Width, 2);
  const uint8_t* p = image.PixelAddress(1, 0);
  EXPECT_EQ(p[2], 200);
  EXPECT_EQ(p[1], 100);
  EXPECT_EQ(p[0], 50);
  // And back through the plug-in's writer.
  EXPECT_EQ(test::RunCommand(test::ShellQuote(SQ_CLI_PATH) + " convert --quiet " + test::ShellQuote(png) + " " +
                             test::ShellQuote(folder.File("again.pgm"))),
            0);
  EXPECT_EQ(test::ReadWholeFile(folder.File("again.pgm")).substr(0, 11), "P5\n2 1\n255\n");
}

}  // namespace
}  // namespace sq
