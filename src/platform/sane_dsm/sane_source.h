// The scanner source manager over SANE: every SANE device is a TWAIN source.  This
// library is loaded by the program at run time and exports DSM_Entry only.
#pragma once

#include <sane/sane.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/twain_types.h"

namespace sq::sanedsm {

struct TDevice {
  std::string Name;  // the SANE device name, "test:0"
  std::string Vendor;
  std::string Model;
};

// What the source remembers between scans, in $XDG_CONFIG_HOME/stereoquill/scanner.conf:
// "key=value" lines for device, source, mode, resolution and pages (0 = every page
// the feeder holds).
struct TSettings {
  std::string Device;
  std::string Source;
  std::string Mode;
  int Resolution = 0;
  int Pages = 0;

  static std::string FileName();
  void Load();
  void Save() const;
};

// The scan options a user interface offers: the values the device allows.
struct TScanChoices {
  std::vector<std::string> Sources;
  std::vector<std::string> Modes;
};

// One frame of a page as SANE delivered it: a grey or interleaved colour image, or
// one colour band of a three-pass scan.
struct TFrame {
  SANE_Parameters Parameters{};
  std::vector<uint8_t> Bytes;
};

// Largest page the source reads (1 GiB of samples).
constexpr int64_t kMaxPageBytes = int64_t(1) << 30;

// The page as a packed device-independent bitmap: 8-bit grey with a grey palette or
// 24-bit colour.  Empty, with the reason in error, when the frames make no sense.
std::vector<uint8_t> FramesToDIB(const std::vector<TFrame>& frames, int resolution, std::string& error);

// The Qt side (sane_ui.cpp); all of it does nothing without a running QApplication.
bool HaveUserInterface();
// Modal: lets the user pick a device; -1 when cancelled.
int ChooseDevice(const std::vector<TDevice>& devices, int current, void* parent);

// The source's dialog: non-modal, reports "scan" or "close" through the flags it is
// given, edits the settings in place.
class TSourceDialog {
 public:
  virtual ~TSourceDialog() = default;
  static TSourceDialog* Create(const std::string& deviceTitle, const TScanChoices& choices, TSettings& settings,
                               int& requestedMessage, void* parent);
  virtual void SetBusy(bool busy) = 0;
};

}  // namespace sq::sanedsm
