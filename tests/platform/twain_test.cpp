// Scanning through our source manager and SANE's "test" device, configured in a
// private folder so that no real scanner and no user setting takes part.
#include <gtest/gtest.h>

#include <cstdlib>
#include <span>
#include <string>

#include "base/exception.h"
#include "imaging/linear_bitmap.h"
#include "platform/twain.h"
#include "support/temp_dir.h"

// SANE's backends keep small allocations until the process ends and are unloaded
// (with the source manager) after every scan, so the leak report could not even say
// whose they are.  Leak checking is off for this program; the address checks stay.
extern "C" int __lsan_is_turned_off() { return 1; }

namespace sq {
namespace {

using test::TTempDir;

// A SANE configuration with one test device of 78 x 59 colour pixels, and a folder
// for the source's remembered settings.
class TScannerSetup {
 public:
  explicit TScannerSetup(const std::string& scannerSettings, const std::string& extraDevice = "",
                         const std::string& backends = "test\n") {
    sane_.Write("dll.conf", backends);
    sane_.Write("test.conf",
                "number_of_devices 1\nmode Color\nresolution 50\ntl_x 0.0\ntl_y 0.0\nbr_x 40.0\nbr_y 30.0\n"
                "test-picture \"Color pattern\"\n" +
                    extraDevice);
    config_.Write("stereoquill/scanner.conf", scannerSettings);
    setenv("SANE_CONFIG_DIR", sane_.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
    acquisition.ManagerFolders = {SQ_TWAIN_MANAGER_DIR};
    acquisition.SearchSystemPath = false;
  }
  TTwainAcquisition acquisition;

 private:
  TTempDir sane_;
  TTempDir config_;
};

TLinearBitmap FromBlock(twain::TW_HANDLE handle) {
  TLinearBitmap bitmap;
  bitmap.GetFromDIB(std::span<const uint8_t>(twain::GlobalBlockData(handle), twain::GlobalBlockSize(handle)));
  twain::GlobalFreeBlock(handle);
  return bitmap;
}

TEST(TwainAcquisition, ScansOnePageFromTheDefaultSource) {
  TScannerSetup setup("");
  twain::TW_HANDLE image = setup.acquisition.Acquire(nullptr, 0, nullptr, false);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(setup.acquisition.State(), 1);
  const TLinearBitmap page = FromBlock(image);
  EXPECT_EQ(page.PixelFormat, pf24bit);
  EXPECT_EQ(page.Width, 78);
  EXPECT_EQ(page.Height, 59);
  EXPECT_FALSE(page.IsGrayScale());
}

TEST(TwainAcquisition, DeliversABatchToTheCallback) {
  TScannerSetup setup("device=test:0\nsource=Automatic Document Feeder\npages=3\nmode=Gray\n");
  int pages = 0;
  twain::TW_HANDLE last = setup.acquisition.AcquireWithCallback(nullptr, nullptr, [&](twain::TW_HANDLE image) {
    const TLinearBitmap page = FromBlock(image);
    EXPECT_EQ(page.PixelFormat, pf8bit);
    EXPECT_TRUE(page.IsGrayScale());
    ++pages;
  });
  EXPECT_EQ(pages, 3);
  EXPECT_NE(last, nullptr);  // the last handle is reported, the receiver owns it
  EXPECT_EQ(setup.acquisition.State(), 1);
}

TEST(TwainAcquisition, EndsWithoutAnImageWhenTheScanIsCancelled) {
  TScannerSetup setup("", "read-status-code \"SANE_STATUS_CANCELLED\"\n");
  int pages = 0;
  EXPECT_EQ(setup.acquisition.AcquireWithCallback(nullptr, nullptr, [&](twain::TW_HANDLE) { ++pages; }), nullptr);
  EXPECT_EQ(pages, 0);
  EXPECT_EQ(setup.acquisition.State(), 1);
}

TEST(TwainAcquisition, ReportsWhatStopsIt) {
  TScannerSetup setup("");
  auto message = [&](auto call) -> std::string {
    try {
      call();
    } catch (const ETWAINError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(message([&] { setup.acquisition.Acquire(nullptr, 1, nullptr, false); }), "Not implemented yet");
  EXPECT_EQ(setup.acquisition.State(), 1);

  struct TGone : TTwainWindow {
    bool IsWindow() const override { return false; }
  } gone;
  EXPECT_EQ(message([&] { setup.acquisition.Acquire(&gone, 0, nullptr, false); }), "Window handle is invalid");
  EXPECT_EQ(message([&] { setup.acquisition.SelectSource(&gone); }), "Window handle is invalid");

  TTempDir empty;
  setup.acquisition.ManagerFolders = {empty.Path().string()};
  EXPECT_EQ(message([&] { setup.acquisition.Acquire(nullptr, 0, nullptr, false); }),
            "Unable to load Source Manager (libtwaindsm.so)");
  EXPECT_EQ(message([&] { setup.acquisition.SelectSource(nullptr); }),
            "Unable to load Source Manager (libtwaindsm.so)");

  // A library without the entry point is not a manager.
  empty.Write("libtwaindsm.so", "not a library");
  EXPECT_EQ(message([&] { setup.acquisition.Acquire(nullptr, 0, nullptr, false); }),
            "Unable to load Source Manager (libtwaindsm.so)");
}

TEST(TwainAcquisition, SelectsASourceAndFailsWithoutDevices) {
  {
    TScannerSetup setup("");
    EXPECT_TRUE(setup.acquisition.SelectSource(nullptr));
  }
  TScannerSetup none("", "", "");
  EXPECT_FALSE(none.acquisition.SelectSource(nullptr));
  try {
    none.acquisition.Acquire(nullptr, 0, nullptr, false);
    ADD_FAILURE();
  } catch (const ETWAINError& e) {
    EXPECT_STREQ(e.what(), "Unable to open Data Source");
  }
  EXPECT_TRUE(none.acquisition.FirstError().Recorded);
  EXPECT_EQ(none.acquisition.FirstError().State, 4);
  EXPECT_EQ(none.acquisition.FirstError().ConditionCode, twain::TWCC_NODS);
}

}  // namespace
}  // namespace sq
