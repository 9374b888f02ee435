// stereoquill-cli associate, checked the way the desktop sees it: with xdg-mime over
// private data and configuration folders (never the user's own).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_command.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::ShellQuote;

class TDesktop {
 public:
  TDesktop() {
    env_ = "env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION HOME=" + ShellQuote(home_.Path().string()) +
           " XDG_DATA_HOME=" + ShellQuote(Data()) + " XDG_CONFIG_HOME=" + ShellQuote(Config()) +
           " XDG_DATA_DIRS=/usr/share ";
  }
  std::string Data() const { return home_.File("data"); }
  std::string Config() const { return home_.File("config"); }
  std::string File(const std::string& name) const { return home_.File(name); }
  std::string Write(const std::string& name, const std::string& text) const { return home_.Write(name, text); }

  // Runs the tool; returns its output, failing the test on a non-zero exit.
  std::string Cli(const std::string& arguments) const {
    std::string out;
    EXPECT_EQ(test::RunCommand(env_ + ShellQuote(SQ_CLI_PATH) + " associate " + arguments, &out), 0) << out;
    return out;
  }
  std::string XdgMime(const std::string& arguments) const {
    std::string out;
    test::RunCommand(env_ + "xdg-mime " + arguments, &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

 private:
  test::TTempDir home_;
  std::string env_;
};

bool HaveXdgMime() { return test::RunCommand("command -v xdg-mime >/dev/null && command -v mimetype >/dev/null") == 0; }

TEST(AssociateCli, MakesTheProgramTheDesktopsOpenerAndTakesItBack) {
  if (!HaveXdgMime()) GTEST_SKIP() << "xdg-utils and mimetype are not installed";
  TDesktop desktop;
  const std::string project =
      desktop.Write("scene.kst", std::string("KST\x01\x06\x40\x00\x00\x19\x06\x80\x10\x00\x00", 14));
  const std::string photo = desktop.Write("photo.png", "\x89PNG\r\n\x1a\n");
  // Another program's choices, which must survive.
  desktop.Write("data/applications/viewer.desktop",
                "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\nMimeType=image/png;image/jpeg;\n");
  desktop.Write(
      "config/mimeapps.list",
      "[Default Applications]\nimage/jpeg=viewer.desktop\n\n[Added Associations]\nimage/png=viewer.desktop;\n");

  EXPECT_EQ(desktop.Cli("--list .kst png"), ".kst no\n.png no\n");
  EXPECT_NE(desktop.XdgMime("query filetype " + ShellQuote(project)), "application/x-stereoquill.kst");

  desktop.Cli("--program /opt/sq/stereoquill .kst .png");
  EXPECT_EQ(desktop.Cli("--list .kst .png .jpg"), ".kst yes\n.png yes\n.jpg no\n");
  EXPECT_EQ(desktop.XdgMime("query filetype " + ShellQuote(project)), "application/x-stereoquill.kst");
  EXPECT_EQ(desktop.XdgMime("query default application/x-stereoquill.kst"), "stereoquill.desktop");
  EXPECT_EQ(desktop.XdgMime("query filetype " + ShellQuote(photo)), "image/png");
  EXPECT_EQ(desktop.XdgMime("query default image/png"), "stereoquill.desktop");
  const std::string entry = ReadWholeFile(desktop.Data() + "/applications/stereoquill.desktop");
  EXPECT_NE(entry.find("Exec=\"/opt/sq/stereoquill\" %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("MimeType=application/x-stereoquill.kst;image/png;\n"), std::string::npos) << entry;

  // Removing ours leaves the other program's lines as they were; removing what is
  // not ours does nothing.
  desktop.Cli("--remove .kst .png .jpg");
  EXPECT_EQ(desktop.Cli("--list .kst .png"), ".kst no\n.png no\n");
  EXPECT_EQ(ReadWholeFile(desktop.Config() + "/mimeapps.list"),
            "[Default Applications]\nimage/jpeg=viewer.desktop\n\n[Added Associations]\nimage/png=viewer.desktop;\n");
  EXPECT_EQ(desktop.XdgMime("query default image/jpeg"), "viewer.desktop");
  EXPECT_NE(desktop.XdgMime("query filetype " + ShellQuote(project)), "application/x-stereoquill.kst");
}

TEST(AssociateCli, WithoutDescriptionTheClassIsTheTitleAndIconIndex) {
  if (!HaveXdgMime()) GTEST_SKIP() << "xdg-utils and mimetype are not installed";
  TDesktop desktop;
  const std::string project = desktop.Write("a.kst", "KST");
  desktop.Cli("--no-description .KST");
  EXPECT_EQ(desktop.XdgMime("query filetype " + ShellQuote(project)), "application/x-stereoquill.0");
  EXPECT_EQ(desktop.Cli("--list kst"), ".kst yes\n");
}

}  // namespace
}  // namespace sq
