#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/program_setup.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

std::string ReadAll(const std::string& fileName) {
  std::ifstream file(fileName);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(Registry, ValuesSurviveAReloadWithTheirTypes) {
  test::TTempDir dir;
  const std::string file = dir / "sub/user.reg";
  {
    TRegistryHive hive(file, "HKEY_CURRENT_USER");
    hive.SetString("Software\\Tavirel\\Kestrovane", "ImagePath", "C:\\odd \"quoted\" path\nline");
    hive.SetInteger("Software/Tavirel/Kestrovane/", "WindowState", -2);
    hive.SetString("Software\\Tavirel\\Kestrovane", "", "default value");
  }
  TRegistryHive again(file, "HKEY_CURRENT_USER");
  EXPECT_EQ(ReadAll(file).rfind("REGEDIT4\n", 0), 0u);
  const std::string key = "software\\TAVIREL\\kestrovane";
  EXPECT_EQ(std::get<std::string>(*again.Value(key, "imagepath")), "C:\\odd \"quoted\" path\nline");
  EXPECT_EQ(std::get<int32_t>(*again.Value(key, "WindowState")), -2);
  EXPECT_EQ(std::get<std::string>(*again.Value(key, "")), "default value");
  EXPECT_EQ(again.ValueType(key, "WindowState"), TRegistryValueType::Integer);
  EXPECT_EQ(again.ValueType(key, "Missing"), TRegistryValueType::None);
  // Parents exist with their children, and deleting a key takes its sub-keys along.
  EXPECT_EQ(again.SubKeyNames("Software"), std::vector<std::string>{"Tavirel"});
  again.DeleteKey("Software\\Tavirel");
  EXPECT_FALSE(again.KeyExists(key));
  EXPECT_TRUE(again.KeyExists("Software"));
}

TEST(Registry, DamagedTextKeepsWhatParsesAndIgnoresOtherRoots) {
  TRegistryHive hive("/nonexistent-folder/x.reg", "HKEY_CLASSES_ROOT");
  hive.FromText(
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\.png]\n@=\"pngfile\"\n\"Bad=\"no-close\n\"Num\"=dword:zz000001\n"
      "\"Ok\"=dword:0000000A\n[HKEY_CURRENT_USER\\Software]\n\"Stray\"=\"x\"\n[broken\n\"After\"=\"y\"\n");
  EXPECT_EQ(std::get<std::string>(*hive.Value(".png", "")), "pngfile");
  EXPECT_EQ(std::get<int32_t>(*hive.Value(".png", "Ok")), 10);
  EXPECT_EQ(hive.ValueNames(".png").size(), 2u);
  EXPECT_FALSE(hive.KeyExists("Software"));
}

TEST(ProgramSetup, ValuesOfAnotherTypeFallBackToTheDefault) {
  test::TTempDir dir;
  ::setenv("XDG_CONFIG_HOME", dir.Path().string().c_str(), 1);
  ResetRegistryHives();
  TProgramSetup setup(kProgramKey);
  setup.WriteString("WindowState", "1");
  setup.WriteInteger("AnimPath", 5);
  setup.WriteBool("SimpleColorMapper", true);
  EXPECT_EQ(setup.ReadInteger("WindowState", 2), 2);
  EXPECT_EQ(setup.ReadString("AnimPath", "/default"), "/default");
  EXPECT_TRUE(setup.ReadBool("SimpleColorMapper", false));
  EXPECT_FALSE(setup.ReadBool("Missing", false));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir.Path().string()) / "stereoquill" / "user.reg"));
  ResetRegistryHives();
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace sq
