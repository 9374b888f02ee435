// The program's side of scanning: a TWAIN application that loads the data source
// manager library, walks the TWAIN states 1 to 7 and hands every acquired image (a
// device-independent bitmap in a global memory block, see twain_types.h) to a callback.
// The state is process-wide and back at 1 after every SelectSource and Acquire.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/twain_types.h"

namespace sq {

// The parent window as acquisition sees it.  The desktop program implements it over
// its main window; without one a headless stand-in is used.
class TTwainWindow {
 public:
  virtual ~TTwainWindow() = default;
  // False for a window that no longer exists: "Window handle is invalid".
  virtual bool IsWindow() const { return true; }
  // The handle handed to the manager and the source (their dialogs' parent).
  virtual void* Handle() const { return nullptr; }
  virtual void SetBusy(bool /*busy*/) {}
  // The window is disabled while the source is enabled.
  virtual void SetEnabled(bool /*enabled*/) {}
  // Waits a little for the next user-interface event and dispatches it; false when no
  // further events will come.
  virtual bool ProcessMessage();
};

// The library file of the source manager, named in the error messages.
inline constexpr const char* kTwainManagerLibrary = "libtwaindsm.so";

struct TTwainFirstError {
  bool Recorded = false;
  int State = 0;
  twain::TW_UINT16 ReturnCode = 0;
  twain::TW_UINT16 ConditionCode = 0;
};

// Receives each transferred image; the receiver owns the block and frees it with
// twain::GlobalFreeBlock.
using TTwainImageCallback = std::function<void(twain::TW_HANDLE image)>;

class TTwainAcquisition {
 public:
  TTwainAcquisition();
  ~TTwainAcquisition();
  TTwainAcquisition(const TTwainAcquisition&) = delete;
  TTwainAcquisition& operator=(const TTwainAcquisition&) = delete;

  // Lets the user pick the default source; true when one was picked.
  bool SelectSource(TTwainWindow* window);
  // Acquires from the default source; returns the last image handle (0 when none).
  // Without a callback that image belongs to the caller.
  twain::TW_HANDLE Acquire(TTwainWindow* window, int pixelType, const twain::TW_IDENTITY* identity, bool showUI);
  // Acquire with the user interface shown, every image going to the callback.
  twain::TW_HANDLE AcquireWithCallback(TTwainWindow* window, const twain::TW_IDENTITY* identity,
                                       TTwainImageCallback callback);

  // Where the manager library is looked for: these folders in order, then (unless
  // switched off) the system's library path.  The program's folders by default.
  std::vector<std::string> ManagerFolders;
  bool SearchSystemPath = true;
  std::string ManagerLibrary = kTwainManagerLibrary;

  int State() const { return state_; }
  twain::TW_UINT16 LastReturnCode() const { return returnCode_; }
  const TTwainFirstError& FirstError() const { return firstError_; }

 private:
  bool LoadManager();
  bool OpenManager();
  bool OpenSource();
  bool SetPixelType(int pixelType);
  bool EnableSource(bool showUI);
  void EventLoop();
  void Transfer();
  void DisableSource();
  void CloseSource();
  void CloseManager();
  void UnloadManager();
  void Shutdown();
  void RecordFirstError(int state);
  bool CallManager(twain::TW_UINT32 group, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data);
  bool CallSource(twain::TW_UINT32 group, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data);

  void* library_ = nullptr;
  twain::DSMENTRYPROC entry_ = nullptr;
  int state_ = 1;
  twain::TW_IDENTITY appIdentity_{};
  twain::TW_IDENTITY sourceIdentity_{};
  void* parent_ = nullptr;
  TTwainWindow* window_ = nullptr;
  twain::TW_USERINTERFACE userInterface_{};
  twain::TW_UINT16 returnCode_ = 0;
  TTwainFirstError firstError_;
  twain::TW_HANDLE image_ = nullptr;
  TTwainImageCallback callback_;
};

// The process-wide acquisition state.
TTwainAcquisition& TwainAcquisition();

// The application identity used when the caller gives none.
twain::TW_IDENTITY DefaultTwainIdentity();

}  // namespace sq
