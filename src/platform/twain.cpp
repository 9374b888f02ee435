#include "platform/twain.h"

#include <dlfcn.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "base/exception.h"
#include "base/format.h"
#include "platform/program_paths.h"

namespace sq {

using namespace twain;

namespace {

void CopyName(TW_STR32& target, const char* text) {
  std::memset(target, 0, sizeof target);
  std::strncpy(target, text, sizeof target - 1);
}

// Restores the window and the cursor however an acquisition ends.
class TWindowGuard {
 public:
  explicit TWindowGuard(TTwainWindow& window) : window_(window) { window_.SetBusy(true); }
  ~TWindowGuard() {
    if (disabled_) window_.SetEnabled(true);
    if (busy_) window_.SetBusy(false);
  }
  void Idle() {
    window_.SetBusy(false);
    busy_ = false;
  }
  void Disable() {
    window_.SetEnabled(false);
    disabled_ = true;
  }

 private:
  TTwainWindow& window_;
  bool busy_ = true;
  bool disabled_ = false;
};

}  // namespace

bool TTwainWindow::ProcessMessage() {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return true;
}

TW_IDENTITY DefaultTwainIdentity() {
  TW_IDENTITY identity{};
  identity.Id = 0;
  identity.Version.MajorNum = 1;
  identity.Version.MinorNum = 0;
  identity.Version.Language = 13;
  identity.Version.Country = 1;
  CopyName(identity.Version.Info, "<?>");
  identity.ProtocolMajor = 1;
  identity.ProtocolMinor = 6;
  identity.SupportedGroups = DG_CONTROL_AND_IMAGE;
  CopyName(identity.Manufacturer, "<?>");
  CopyName(identity.ProductFamily, "<?>");
  CopyName(identity.ProductName, "<?>");
  return identity;
}

TTwainAcquisition::TTwainAcquisition() { ManagerFolders = {ProgramDirectory(), ProgramLibraryDirectory()}; }

TTwainAcquisition::~TTwainAcquisition() { Shutdown(); }

bool TTwainAcquisition::CallManager(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, void* data) {
  returnCode_ = entry_ ? entry_(&appIdentity_, nullptr, group, dat, msg, data) : TWRC_FAILURE;
  return returnCode_ == TWRC_SUCCESS;
}

bool TTwainAcquisition::CallSource(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, void* data) {
  returnCode_ = entry_ ? entry_(&appIdentity_, &sourceIdentity_, group, dat, msg, data) : TWRC_FAILURE;
  return returnCode_ == TWRC_SUCCESS;
}

void TTwainAcquisition::RecordFirstError(int state) {
  if (firstError_.Recorded) return;
  firstError_.Recorded = true;
  firstError_.State = state;
  firstError_.ReturnCode = returnCode_;
  TW_STATUS status{};
  const TW_UINT16 failed = returnCode_;
  if (state_ >= 4 ? CallSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status)
                  : CallManager(DG_CONTROL, DAT_STATUS, MSG_GET, &status))
    firstError_.ConditionCode = status.ConditionCode;
  returnCode_ = failed;
}

bool TTwainAcquisition::LoadManager() {
  if (state_ >= 2) return true;
  namespace fs = std::filesystem;
  std::vector<std::string> candidates;
  for (const std::string& folder : ManagerFolders) {
    std::error_code error;
    const fs::path file = fs::path(folder) / ManagerLibrary;
    if (!folder.empty() && fs::is_regular_file(file, error)) candidates.push_back(file.string());
  }
  if (SearchSystemPath) candidates.push_back(ManagerLibrary);  // the dynamic linker's search path
  for (const std::string& candidate : candidates) {
    library_ = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) continue;
    entry_ = reinterpret_cast<DSMENTRYPROC>(dlsym(library_, kEntryPointName));
    if (entry_ != nullptr) {
      state_ = 2;
      return true;
    }
    dlclose(library_);
    library_ = nullptr;
  }
  return false;
}

bool TTwainAcquisition::OpenManager() {
  if (state_ >= 3) return true;
  if (state_ != 2) return false;
  if (!CallManager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent_)) return false;
  state_ = 3;
  return true;
}

bool TTwainAcquisition::OpenSource() {
  if (state_ >= 4) return true;
  if (state_ != 3) return false;
  if (!CallManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceIdentity_)) {
    RecordFirstError(4);
    return false;
  }
  state_ = 4;
  return true;
}

bool TTwainAcquisition::SetPixelType(int pixelType) {
  if (state_ != 4) {
    RecordFirstError(7);
    return false;
  }
  if (pixelType != 0) throw ETWAINError("Not implemented yet");
  return true;
}

bool TTwainAcquisition::EnableSource(bool showUI) {
  if (state_ >= 5) return true;
  if (state_ != 4) return false;
  userInterface_.ShowUI = showUI;
  userInterface_.ModalUI = 1;
  userInterface_.hParent = parent_;
  CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &userInterface_);
  if (returnCode_ == TWRC_FAILURE) {
    RecordFirstError(5);
    return false;
  }
  state_ = 5;
  return true;
}

void TTwainAcquisition::Transfer() {
  while (state_ == 6) {
    TW_HANDLE handle = nullptr;
    CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (returnCode_ == TWRC_XFERDONE) {
      state_ = 7;
      image_ = handle;
      if (callback_) callback_(handle);
    } else if (returnCode_ == TWRC_CANCEL) {
      state_ = 7;
    } else {
      // A source that keeps failing would keep the loop here for ever: drop what is
      // pending and go back to waiting for the source.
      RecordFirstError(6);
      TW_PENDINGXFERS pending{};
      if (CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending)) state_ = 5;
      return;
    }
    TW_PENDINGXFERS pending{};
    if (!CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending)) return;  // stays in state 7
    if (pending.Count == 0) {
      state_ = 5;
    } else {
      state_ = 6;
      if (!callback_) {
        if (CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending)) state_ = 5;
      }
    }
  }
}

void TTwainAcquisition::EventLoop() {
  while (state_ >= 5 && image_ == nullptr && window_->ProcessMessage()) {
    TW_EVENT event{nullptr, MSG_NULL};
    CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    switch (event.TWMessage) {
      case MSG_XFERREADY:
        state_ = 6;
        Transfer();
        break;
      case MSG_CLOSEDSREQ:
        DisableSource();
        break;
      default:
        break;
    }
    // A transfer whose end was refused leaves nothing more to wait for.
    if (state_ == 7) break;
  }
}

void TTwainAcquisition::DisableSource() {
  if (state_ != 5) return;
  if (CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &userInterface_)) state_ = 4;
}

void TTwainAcquisition::CloseSource() {
  if (state_ == 7 || state_ == 6) {
    TW_PENDINGXFERS pending{};
    CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    state_ = 5;
  }
  DisableSource();
  if (state_ == 5) state_ = 4;  // the source refused: close it regardless
  if (state_ == 4 && CallManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceIdentity_)) state_ = 3;
  if (state_ == 4) state_ = 3;
}

void TTwainAcquisition::CloseManager() {
  CloseSource();
  if (state_ == 3) {
    CallManager(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_);
    state_ = 2;
  }
}

void TTwainAcquisition::UnloadManager() {
  if (state_ != 2) return;
  dlclose(library_);
  library_ = nullptr;
  entry_ = nullptr;
  state_ = 1;
}

void TTwainAcquisition::Shutdown() {
  CloseManager();
  UnloadManager();
  window_ = nullptr;
}

TW_HANDLE TTwainAcquisition::Acquire(TTwainWindow* window, int pixelType, const TW_IDENTITY* identity, bool showUI) {
  TTwainWindow headless;
  if (window != nullptr && !window->IsWindow()) throw ETWAINError("Window handle is invalid");
  window_ = window ? window : &headless;
  parent_ = window_->Handle();
  appIdentity_ = identity ? *identity : DefaultTwainIdentity();
  sourceIdentity_ = TW_IDENTITY{};
  firstError_ = TTwainFirstError{};
  image_ = nullptr;
  struct TEnd {
    TTwainAcquisition& Self;
    ~TEnd() { Self.Shutdown(); }
  } end{*this};
  TWindowGuard guard(*window_);
  if (!LoadManager()) throw ETWAINError(Format("Unable to load Source Manager (%s)", ManagerLibrary));
  if (!OpenManager()) throw ETWAINError(Format("Unable to open Source Manager (%s)", ManagerLibrary));
  if (!OpenSource()) throw ETWAINError("Unable to open Data Source");
  if (!SetPixelType(pixelType)) throw ETWAINError("Failed to negotiate Pixel Type");
  if (!EnableSource(showUI)) throw ETWAINError("Failed to enable Data Source");
  guard.Disable();
  guard.Idle();
  EventLoop();
  return image_;
}

TW_HANDLE TTwainAcquisition::AcquireWithCallback(TTwainWindow* window, const TW_IDENTITY* identity,
                                                 TTwainImageCallback callback) {
  if (!callback) return nullptr;
  callback_ = std::move(callback);
  struct TClear {
    TTwainImageCallback& Callback;
    ~TClear() { Callback = nullptr; }
  } clear{callback_};
  return Acquire(window, 0, identity, true);
}

bool TTwainAcquisition::SelectSource(TTwainWindow* window) {
  TTwainWindow headless;
  if (window != nullptr && !window->IsWindow()) throw ETWAINError("Window handle is invalid");
  window_ = window ? window : &headless;
  parent_ = window_->Handle();
  appIdentity_ = DefaultTwainIdentity();
  struct TEnd {
    TTwainAcquisition& Self;
    ~TEnd() { Self.Shutdown(); }
  } end{*this};
  if (!LoadManager()) throw ETWAINError(Format("Unable to load Source Manager (%s)", ManagerLibrary));
  if (!OpenManager()) throw ETWAINError(Format("Unable to open Source Manager (%s)", ManagerLibrary));
  TW_IDENTITY chosen{};
  return CallManager(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen);
}

TTwainAcquisition& TwainAcquisition() {
  static TTwainAcquisition acquisition;
  return acquisition;
}

}  // namespace sq
