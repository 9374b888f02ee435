// Image formats from plug-in libraries: every *.so in the plug-in folder that exports
// the functions of image_plugin_api.h.  One loader stands for all of them and is
// registered after the built-in formats, so a plug-in never hides a built-in codec.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "imaging/codecs/bitmap_loader.h"
#include "imaging/codecs/image_plugin_api.h"

namespace sq {

class TImageDLLLoader : public TBitmapLoader {
 public:
  TImageDLLLoader() = default;
  // Unloads every library.
  ~TImageDLLLoader() override;
  TImageDLLLoader(const TImageDLLLoader&) = delete;
  TImageDLLLoader& operator=(const TImageDLLLoader&) = delete;

  // Loads every "*.so" of the folder, in name order, that exports LibFreeImage and
  // LibLoadImage or LibSaveImage; libraries that do not load or lack those exports
  // are skipped silently.  Returns how many libraries were kept.
  int LoadPlugins(const std::string& directory);

  // The non-empty filters of the libraries that can load (save), joined by "|".
  std::string GetLoadFilter() override;
  std::string GetSaveFilter() override;
  // The first library whose filter names the extension does the work.
  void LoadFromFile(const std::string& fileName, const std::string& extension, TLinearBitmap& bitmap) override;
  void SaveToFile(const std::string& fileName, const std::string& extension, const TLinearBitmap& bitmap) override;

  // The file names of the libraries kept, in search order.
  std::vector<std::string> LibraryNames() const;

 private:
  struct TPlugin {
    void* Handle = nullptr;
    std::string FileName;
    std::string LoadFilter;
    std::string SaveFilter;
    TLibLoadImage Load = nullptr;
    TLibSaveImage Save = nullptr;
    TLibFreeImage Free = nullptr;
  };
  std::vector<TPlugin> plugins_;
  // Plug-ins need not be reentrant, and the open dialog previews on a second thread.
  std::mutex callLock_;
};

// The process-wide plug-in loader.
TImageDLLLoader& ImageDLLLoader();

// Loads the plug-ins of the folder into the process-wide loader and, the first time,
// registers it with the format registry behind every built-in format.
int LoadPlugins(const std::string& directory);

// Turns a container filled by a plug-in into a bitmap.  Sizes and strides are checked
// before anything is read.  With more than three channels the bitmap holds the first
// three and the call raises "The image contains N color planes, only 3 were loaded".
void ContainerToBitmap(const TImageContainer& container, TLinearBitmap& bitmap);

// A container that points into the bitmap's own memory (pf8bit and pf24bit only).
TImageContainer BitmapToContainer(const TLinearBitmap& bitmap);

// The text for a plug-in result code; callerMessage (may be empty) is used, with the
// code, for codes that have no text of their own.
std::string PluginErrorMessage(int code, const std::string& callerMessage);

}  // namespace sq
