// The association's record in the classes root and the dialog's reading of a filter.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/file_association.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

std::string Default(const std::string& key) {
  const auto value = RegistryHive(TRegistryHiveKind::ClassesRoot).Value(key, "");
  return value && std::holds_alternative<std::string>(*value) ? std::get<std::string>(*value) : "<none>";
}

TEST(FileAssociation, RecordsTheClassAndRemovesOnlyItsOwn) {
  test::TTempDir home;
  setenv("XDG_CONFIG_HOME", home.File("config").c_str(), 1);
  setenv("XDG_DATA_HOME", home.File("data").c_str(), 1);
  setenv("XDG_DATA_DIRS", home.File("none").c_str(), 1);
  ResetRegistryHives();

  Associate("KST", "My Program", "Kestrovane animation", 0, "/opt/my program/run");
  EXPECT_EQ(Default(".kst"), "MyProgram.kst");
  EXPECT_EQ(Default("MyProgram.kst"), "Kestrovane animation");
  EXPECT_EQ(Default("MyProgram.kst\\DefaultIcon"), "\"/opt/my program/run\",0");
  EXPECT_EQ(Default("MyProgram.kst\\Shell\\Open\\Command"), "\"/opt/my program/run\" \"%1\"");
  EXPECT_TRUE(IsAssociated(".kst", "My Program"));
  EXPECT_FALSE(IsAssociated(".kst", "Other"));

  // Another program's extension: not ours, so the dialog never removes it.
  RegistryHive(TRegistryHiveKind::ClassesRoot).SetString(".jpg", "", "Viewer.jpg");
  EXPECT_FALSE(IsAssociated("jpg", "My Program"));
  // Icon files are never taken away.
  RegistryHive(TRegistryHiveKind::ClassesRoot).SetString(".ico", "", "Painter.ico");
  Associate(".ico", "", "", 0, "/x");
  EXPECT_EQ(Default(".ico"), "Painter.ico");

  Associate(".kst", "", "", 0, "/opt/my program/run");
  EXPECT_EQ(Default(".kst"), "");
  EXPECT_FALSE(IsAssociated(".kst", "My Program"));
  ResetRegistryHives();
}

TEST(FileAssociation, ReadsEveryExtensionOfAFilter) {
  const auto one = ParseFormatFilter(kProjectFormatFilter);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].Caption, "Kestrovane animation (*.kst)");
  EXPECT_EQ(one[0].Extension, ".kst");
  const auto two = ParseFormatFilter("JPEG (*.jpg,*.jpeg)|*.jpg;*.jpeg|Bitmap (*.bmp)|*.bmp");
  ASSERT_EQ(two.size(), 3u);
  EXPECT_EQ(two[1].Caption, "JPEG (*.jpeg)");
  EXPECT_EQ(two[2].Extension, ".bmp");
}

}  // namespace
}  // namespace sq
