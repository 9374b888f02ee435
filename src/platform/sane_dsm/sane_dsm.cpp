// DSM_Entry over SANE.  One source can be open at a time; it is enabled with or
// without its dialog, signals "transfer ready" through DAT_EVENT, and hands out each
// scanned page as a device-independent bitmap in a global memory block.
#include <sane/saneopts.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "sane_source.h"

namespace sq::sanedsm {

using namespace twain;

// ---- settings ------------------------------------------------------------------

std::string TSettings::FileName() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config && *config)
    folder = config;
  else if (const char* home = std::getenv("HOME"))
    folder = std::string(home) + "/.config";
  else
    return "";
  return folder + "/stereoquill/scanner.conf";
}

void TSettings::Load() {
  std::ifstream in(FileName());
  std::string line;
  int lines = 0;
  while (lines++ < 100 && std::getline(in, line)) {
    const size_t equal = line.find('=');
    if (equal == std::string::npos || line.size() > 1000) continue;
    const std::string key = line.substr(0, equal);
    const std::string value = line.substr(equal + 1);
    if (key == "device")
      Device = value;
    else if (key == "source")
      Source = value;
    else if (key == "mode")
      Mode = value;
    else if (key == "resolution")
      Resolution = std::clamp(std::atoi(value.c_str()), 0, 100000);
    else if (key == "pages")
      Pages = std::clamp(std::atoi(value.c_str()), 0, 10000);
  }
}

void TSettings::Save() const {
  namespace fs = std::filesystem;
  const std::string file = FileName();
  if (file.empty()) return;
  std::error_code error;
  fs::create_directories(fs::path(file).parent_path(), error);
  const std::string temp = file + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "device=" << Device << "\nsource=" << Source << "\nmode=" << Mode << "\nresolution=" << Resolution
        << "\npages=" << Pages << "\n";
    if (!out) return;
  }
  fs::rename(temp, file, error);
}

// ---- the manager and its one open source ---------------------------------------

namespace {

void CopyName(TW_STR32& target, const std::string& text) {
  std::memset(target, 0, sizeof target);
  std::strncpy(target, text.c_str(), sizeof target - 1);
}

// Sets a SANE option by name to a string or a whole number, when the device has it.
void SetOption(SANE_Handle handle, const char* name, const std::string& text, int number) {
  for (SANE_Int i = 1;; ++i) {
    const SANE_Option_Descriptor* option = sane_get_option_descriptor(handle, i);
    if (option == nullptr) return;
    if (option->name == nullptr || std::strcmp(option->name, name) != 0) continue;
    if (!SANE_OPTION_IS_SETTABLE(option->cap) || !SANE_OPTION_IS_ACTIVE(option->cap)) return;
    SANE_Int info = 0;
    if (option->type == SANE_TYPE_STRING && !text.empty()) {
      std::vector<char> value(static_cast<size_t>(std::max<SANE_Int>(option->size, 1)), 0);
      std::strncpy(value.data(), text.c_str(), value.size() - 1);
      sane_control_option(handle, i, SANE_ACTION_SET_VALUE, value.data(), &info);
    } else if ((option->type == SANE_TYPE_INT || option->type == SANE_TYPE_FIXED) && number > 0) {
      SANE_Word value = option->type == SANE_TYPE_FIXED ? SANE_FIX(number) : number;
      sane_control_option(handle, i, SANE_ACTION_SET_VALUE, &value, &info);
    }
    return;
  }
}

// The values a string option allows.
std::vector<std::string> OptionChoices(SANE_Handle handle, const char* name) {
  std::vector<std::string> choices;
  for (SANE_Int i = 1;; ++i) {
    const SANE_Option_Descriptor* option = sane_get_option_descriptor(handle, i);
    if (option == nullptr) break;
    if (option->name == nullptr || std::strcmp(option->name, name) != 0) continue;
    if (option->constraint_type == SANE_CONSTRAINT_STRING_LIST)
      for (const SANE_String_Const* s = option->constraint.string_list; s && *s; ++s) choices.emplace_back(*s);
    break;
  }
  return choices;
}

struct TSource {
  TDevice Device;
  TW_UINT32 Id = 0;
  SANE_Handle Handle = nullptr;
  TSettings Settings;
  bool Enabled = false;
  bool ShowUI = false;
  bool PageStarted = false;
  int PagesDone = 0;
  int Message = MSG_NULL;  // what the next DAT_EVENT reports
  std::unique_ptr<TSourceDialog> Dialog;
};

struct TManager {
  bool Open = false;
  void* Parent = nullptr;  // the application's window, parent of our dialogs
  std::vector<TDevice> Devices;
  std::unique_ptr<TSource> Source;
  TW_UINT16 Condition = TWCC_SUCCESS;
};

TManager& Manager() {
  static TManager manager;
  return manager;
}

TW_UINT16 Fail(TW_UINT16 condition) {
  Manager().Condition = condition;
  return TWRC_FAILURE;
}

void FillIdentity(TW_IDENTITY& identity, size_t index) {
  const TDevice& device = Manager().Devices[index];
  identity = TW_IDENTITY{};
  identity.Id = static_cast<TW_UINT32>(index + 1);
  identity.Version.MajorNum = 1;
  CopyName(identity.Version.Info, "SANE");
  identity.ProtocolMajor = 1;
  identity.ProtocolMinor = 9;
  identity.SupportedGroups = DG_CONTROL_AND_IMAGE;
  CopyName(identity.Manufacturer, device.Vendor);
  CopyName(identity.ProductFamily, device.Model);
  CopyName(identity.ProductName, device.Name);
}

// The device a zero identity means: the remembered one, else the first.
int DefaultDevice() {
  TSettings settings;
  settings.Load();
  const auto& devices = Manager().Devices;
  for (size_t i = 0; i < devices.size(); ++i)
    if (devices[i].Name == settings.Device) return static_cast<int>(i);
  return devices.empty() ? -1 : 0;
}

TW_UINT16 OpenManager() {
  TManager& m = Manager();
  if (m.Open) return Fail(TWCC_SEQERROR);
  SANE_Int version = 0;
  if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) return Fail(TWCC_BUMMER);
  m.Open = true;
  m.Devices.clear();
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) == SANE_STATUS_GOOD && list)
    for (; *list; ++list)
      m.Devices.push_back({(*list)->name ? (*list)->name : "", (*list)->vendor ? (*list)->vendor : "",
                           (*list)->model ? (*list)->model : ""});
  return TWRC_SUCCESS;
}

void CloseSource() {
  TManager& m = Manager();
  if (!m.Source) return;
  m.Source->Dialog.reset();
  if (m.Source->Handle) {
    sane_cancel(m.Source->Handle);
    sane_close(m.Source->Handle);
  }
  m.Source.reset();
}

TW_UINT16 CloseManager() {
  TManager& m = Manager();
  if (!m.Open) return Fail(TWCC_SEQERROR);
  CloseSource();
  sane_exit();
  m.Open = false;
  return TWRC_SUCCESS;
}

TW_UINT16 OpenSource(TW_IDENTITY& identity) {
  TManager& m = Manager();
  if (!m.Open || m.Source) return Fail(TWCC_SEQERROR);
  int index = -1;
  if (identity.Id == 0 && identity.ProductName[0] == 0) {
    index = DefaultDevice();
  } else {
    for (size_t i = 0; i < m.Devices.size(); ++i)
      if (identity.Id == i + 1 || std::strncmp(identity.ProductName, m.Devices[i].Name.c_str(), 33) == 0)
        index = static_cast<int>(i);
  }
  if (index < 0) return Fail(TWCC_NODS);
  auto source = std::make_unique<TSource>();
  source->Device = m.Devices[static_cast<size_t>(index)];
  source->Id = static_cast<TW_UINT32>(index + 1);
  if (sane_open(source->Device.Name.c_str(), &source->Handle) != SANE_STATUS_GOOD) return Fail(TWCC_NODS);
  source->Settings.Load();
  if (!source->Settings.Device.empty() && source->Settings.Device != source->Device.Name) {
    // Another device's settings do not apply here; keep only how many pages to take.
    const int pages = source->Settings.Pages;
    source->Settings = TSettings{};
    source->Settings.Pages = pages;
    source->Settings.Device = source->Device.Name;
  }
  FillIdentity(identity, static_cast<size_t>(index));
  m.Source = std::move(source);
  return TWRC_SUCCESS;
}

void ApplySettings(TSource& s) {
  SetOption(s.Handle, SANE_NAME_SCAN_SOURCE, s.Settings.Source, 0);
  SetOption(s.Handle, SANE_NAME_SCAN_MODE, s.Settings.Mode, 0);
  SetOption(s.Handle, SANE_NAME_SCAN_RESOLUTION, "", s.Settings.Resolution);
}

TW_UINT16 Enable(TSource& s, const TW_USERINTERFACE& ui) {
  if (s.Enabled) return Fail(TWCC_SEQERROR);
  s.Enabled = true;
  s.PagesDone = 0;
  s.ShowUI = ui.ShowUI && HaveUserInterface();
  if (s.ShowUI) {
    TScanChoices choices{OptionChoices(s.Handle, SANE_NAME_SCAN_SOURCE), OptionChoices(s.Handle, SANE_NAME_SCAN_MODE)};
    const std::string title = s.Device.Vendor + " " + s.Device.Model + " (" + s.Device.Name + ")";
    s.Dialog.reset(TSourceDialog::Create(title, choices, s.Settings, s.Message, ui.hParent));
  } else {
    s.Message = MSG_XFERREADY;
  }
  return TWRC_SUCCESS;
}

TW_UINT16 Disable(TSource& s) {
  if (!s.Enabled) return Fail(TWCC_SEQERROR);
  s.Dialog.reset();
  if (s.PageStarted) sane_cancel(s.Handle);
  s.PageStarted = false;
  s.Enabled = false;
  s.Message = MSG_NULL;
  return TWRC_SUCCESS;
}

// Reads one whole page; TWRC_XFERDONE with the block, TWRC_CANCEL when the device
// has no page or the user cancelled, TWRC_FAILURE otherwise.
TW_UINT16 ReadPage(TSource& s, TW_HANDLE& handle) {
  std::vector<TFrame> frames;
  for (;;) {
    if (!s.PageStarted) {
      const SANE_Status started = sane_start(s.Handle);
      if (started == SANE_STATUS_NO_DOCS || started == SANE_STATUS_CANCELLED) return TWRC_CANCEL;
      if (started != SANE_STATUS_GOOD) return Fail(TWCC_OPERATIONERROR);
      s.PageStarted = true;
    }
    TFrame frame;
    if (sane_get_parameters(s.Handle, &frame.Parameters) != SANE_STATUS_GOOD) return Fail(TWCC_OPERATIONERROR);
    const SANE_Parameters& p = frame.Parameters;
    const int64_t expected = p.lines > 0 && p.bytes_per_line > 0 ? int64_t(p.lines) * p.bytes_per_line : -1;
    if (expected > kMaxPageBytes) return Fail(TWCC_LOWMEMORY);
    if (expected > 0) frame.Bytes.reserve(static_cast<size_t>(expected));
    uint8_t buffer[65536];
    for (;;) {
      SANE_Int got = 0;
      const SANE_Status status = sane_read(s.Handle, buffer, sizeof buffer, &got);
      if (status == SANE_STATUS_EOF) break;
      if (status == SANE_STATUS_CANCELLED) {
        s.PageStarted = false;
        return TWRC_CANCEL;
      }
      if (status != SANE_STATUS_GOOD) return Fail(TWCC_OPERATIONERROR);
      if (static_cast<int64_t>(frame.Bytes.size()) + got > kMaxPageBytes) return Fail(TWCC_LOWMEMORY);
      frame.Bytes.insert(frame.Bytes.end(), buffer, buffer + got);
    }
    const bool last = p.last_frame;
    frames.push_back(std::move(frame));
    s.PageStarted = false;
    if (last || frames.size() >= 3) break;
  }
  std::string error;
  const std::vector<uint8_t> dib = FramesToDIB(frames, s.Settings.Resolution > 0 ? s.Settings.Resolution : 0, error);
  if (dib.empty()) return Fail(TWCC_OPERATIONERROR);
  handle = GlobalAllocBlock(dib.size());
  if (handle == nullptr) return Fail(TWCC_LOWMEMORY);
  std::memcpy(GlobalBlockData(handle), dib.data(), dib.size());
  return TWRC_XFERDONE;
}

TW_UINT16 NativeTransfer(TSource& s, TW_HANDLE* handle) {
  if (!s.Enabled || handle == nullptr) return Fail(TWCC_SEQERROR);
  if (s.PagesDone == 0) ApplySettings(s);
  if (s.Dialog) s.Dialog->SetBusy(true);
  const TW_UINT16 result = ReadPage(s, *handle);
  if (s.Dialog) s.Dialog->SetBusy(false);
  if (result == TWRC_XFERDONE) ++s.PagesDone;
  return result;
}

// The batch is over, by the last page or by a reset: the scanner stops, and without
// a dialog the source has nothing more to offer, so it asks to be closed.
void EndBatch(TSource& s) {
  if (s.PageStarted) sane_cancel(s.Handle);
  s.PageStarted = false;
  s.PagesDone = 0;
  if (!s.ShowUI) s.Message = MSG_CLOSEDSREQ;
}

// After a page: starts the next one when more are wanted, so that the count of
// pending transfers is known.
TW_UINT16 EndTransfer(TSource& s, TW_PENDINGXFERS& pending) {
  pending.Count = 0;
  const bool feeder =
      s.Settings.Source.find("Feeder") != std::string::npos || s.Settings.Source.find("ADF") != std::string::npos;
  const bool wantMore = feeder && (s.Settings.Pages == 0 || s.PagesDone < s.Settings.Pages);
  if (wantMore && s.PagesDone > 0) {
    const SANE_Status started = sane_start(s.Handle);
    if (started == SANE_STATUS_GOOD) {
      s.PageStarted = true;
      pending.Count = s.Settings.Pages == 0 ? 0xFFFF : static_cast<TW_UINT16>(s.Settings.Pages - s.PagesDone);
    }
  }
  if (pending.Count == 0) EndBatch(s);
  return TWRC_SUCCESS;
}

TW_UINT16 ResetTransfers(TSource& s, TW_PENDINGXFERS& pending) {
  pending.Count = 0;
  EndBatch(s);
  return TWRC_SUCCESS;
}

TW_UINT16 ProcessEvent(TSource& s, TW_EVENT& event) {
  event.TWMessage = MSG_NULL;
  if (s.Message == MSG_NULL) return TWRC_NOTDSEVENT;
  event.TWMessage = static_cast<TW_UINT16>(s.Message);
  s.Message = MSG_NULL;
  return TWRC_DSEVENT;
}

TW_UINT16 ToSource(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  TManager& m = Manager();
  if (!m.Source) return Fail(TWCC_SEQERROR);
  TSource& s = *m.Source;
  if (group == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET)
    return NativeTransfer(s, static_cast<TW_HANDLE*>(data));
  if (group != DG_CONTROL || (data == nullptr && dat != DAT_USERINTERFACE)) return Fail(TWCC_BADPROTOCOL);
  switch (dat) {
    case DAT_USERINTERFACE:
      if (msg == MSG_ENABLEDS && data) return Enable(s, *static_cast<TW_USERINTERFACE*>(data));
      if (msg == MSG_DISABLEDS) return Disable(s);
      break;
    case DAT_EVENT:
      if (msg == MSG_PROCESSEVENT) return ProcessEvent(s, *static_cast<TW_EVENT*>(data));
      break;
    case DAT_PENDINGXFERS:
      if (msg == MSG_ENDXFER) return EndTransfer(s, *static_cast<TW_PENDINGXFERS*>(data));
      if (msg == MSG_RESET) return ResetTransfers(s, *static_cast<TW_PENDINGXFERS*>(data));
      break;
    case DAT_STATUS:
      if (msg == MSG_GET) {
        static_cast<TW_STATUS*>(data)->ConditionCode = m.Condition;
        m.Condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
      }
      break;
    case DAT_CAPABILITY:
      return Fail(TWCC_BADCAP);
    default:
      break;
  }
  return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 UserSelect(TW_IDENTITY& identity, TW_MEMREF parent) {
  TManager& m = Manager();
  if (m.Devices.empty()) return Fail(TWCC_NODS);
  int index = DefaultDevice();
  if (HaveUserInterface()) {
    index = ChooseDevice(m.Devices, index, parent);
    if (index < 0) return TWRC_CANCEL;
    TSettings settings;
    settings.Load();
    if (settings.Device != m.Devices[static_cast<size_t>(index)].Name) {
      settings = TSettings{};
      settings.Device = m.Devices[static_cast<size_t>(index)].Name;
      settings.Save();
    }
  }
  FillIdentity(identity, static_cast<size_t>(index));
  return TWRC_SUCCESS;
}

TW_UINT16 ToManager(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  TManager& m = Manager();
  if (group != DG_CONTROL) return Fail(TWCC_BADPROTOCOL);
  if (dat == DAT_PARENT) {
    if (msg == MSG_OPENDSM) {
      m.Parent = data ? *static_cast<void**>(data) : nullptr;
      return OpenManager();
    }
    if (msg == MSG_CLOSEDSM) return CloseManager();
  }
  if (dat == DAT_STATUS && msg == MSG_GET && data) {
    static_cast<TW_STATUS*>(data)->ConditionCode = m.Condition;
    m.Condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (!m.Open) return Fail(TWCC_SEQERROR);
  if (dat == DAT_IDENTITY && data) {
    auto& identity = *static_cast<TW_IDENTITY*>(data);
    static size_t next = 0;
    switch (msg) {
      case MSG_OPENDS:
        return OpenSource(identity);
      case MSG_CLOSEDS:
        if (!m.Source) return Fail(TWCC_SEQERROR);
        CloseSource();
        return TWRC_SUCCESS;
      case MSG_USERSELECT:
        return UserSelect(identity, m.Parent);
      case MSG_GETDEFAULT: {
        const int index = DefaultDevice();
        if (index < 0) return Fail(TWCC_NODS);
        FillIdentity(identity, static_cast<size_t>(index));
        return TWRC_SUCCESS;
      }
      case MSG_GETFIRST:
        next = 0;
        [[fallthrough]];
      case MSG_GETNEXT:
        if (next >= m.Devices.size()) return TWRC_ENDOFLIST;
        FillIdentity(identity, next++);
        return TWRC_SUCCESS;
      default:
        break;
    }
  }
  return Fail(TWCC_BADPROTOCOL);
}

}  // namespace

}  // namespace sq::sanedsm

extern "C" __attribute__((visibility("default"))) sq::twain::TW_UINT16 DSM_Entry(
    sq::twain::TW_IDENTITY* origin, sq::twain::TW_IDENTITY* destination, sq::twain::TW_UINT32 group,
    sq::twain::TW_UINT16 argumentType, sq::twain::TW_UINT16 message, sq::twain::TW_MEMREF data) {
  using namespace sq::sanedsm;
  if (origin == nullptr) return sq::twain::TWRC_FAILURE;
  try {
    return destination ? ToSource(group, argumentType, message, data) : ToManager(group, argumentType, message, data);
  } catch (...) {  // nothing may unwind into the caller
    return Fail(sq::twain::TWCC_LOWMEMORY);
  }
}
