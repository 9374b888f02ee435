#include "imaging/codecs/image_dll_loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/exception.h"
#include "base/format.h"
#include "imaging/linear_bitmap.h"

namespace sq {

namespace {

// Whether the upper-cased filter names "*." + extension as a whole pattern.
bool FilterNames(const std::string& filter, const std::string& extension) {
  if (extension.empty()) return false;
  const std::string text = UpperCase(filter);
  const std::string needle = "*." + UpperCase(extension);
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    const size_t end = at + needle.size();
    if (end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) return true;
  }
  return false;
}

std::string JoinFilters(const std::vector<std::string>& filters) {
  std::string result;
  for (const std::string& filter : filters) {
    if (filter.empty()) continue;
    if (!result.empty()) result += '|';
    result += filter;
  }
  return result;
}

// What a container's options describe, once they are known to make sense.
struct TContainerLayout {
  int Channels = 0;
  bool Planar = false;
  bool Gray16 = false;
  int64_t RowBytes = 0;  // packed bytes of one row of one plane (or of the interleaved row)
  int Planes = 1;        // planes the data holds
};

// Checks the container before a byte of its data is read: the options must name a
// layout the program knows, and sizes and stride must describe a plausible block.
TContainerLayout CheckContainer(const TImageContainer& c) {
  TContainerLayout layout;
  layout.Channels = c.Options & SQ_CONTAINER_CHANNEL_MASK;
  if (layout.Channels == 0) throw ELinearBitmap("Unsupported bitmap format");
  const int layoutBits = c.Options & 0xF0;
  if (layout.Channels == 1) {
    layout.Gray16 = c.Options == (SQ_CONTAINER_GRAY16 | 1);
    layout.RowBytes = static_cast<int64_t>(c.Width) * (layout.Gray16 ? 2 : 1);
  } else if (layoutBits == SQ_CONTAINER_PLANAR) {
    layout.Planar = true;
    layout.Planes = layout.Channels;
    layout.RowBytes = c.Width;
  } else if (layoutBits == 0 && (layout.Channels == 3 || layout.Channels == 4)) {
    layout.RowBytes = static_cast<int64_t>(c.Width) * layout.Channels;
  } else {
    throw ELinearBitmap("Unsupported pixel format");
  }
  const bool sane = c.Width > 0 && c.Height > 0 && c.Data != nullptr && c.BytesPerLine >= layout.RowBytes &&
                    c.BytesPerLine <= 4 * kMaxImageBytes / c.Height / layout.Planes;
  if (!sane)
    throw ELinearBitmap(Format("The image plug-in returned an invalid image (%d x %d pixels, %d bytes per line)",
                               c.Width, c.Height, c.BytesPerLine));
  CheckImageSize(c.Width, c.Height, layout.Channels == 1 ? (layout.Gray16 ? 2 : 1) : 3);
  return layout;
}

}  // namespace

void ContainerToBitmap(const TImageContainer& c, TLinearBitmap& bitmap) {
  const TContainerLayout layout = CheckContainer(c);
  const auto* data = static_cast<const uint8_t*>(c.Data);
  const int64_t planeBytes = static_cast<int64_t>(c.BytesPerLine) * c.Height;
  auto sourceRow = [&](int plane, int y) {
    return data + plane * planeBytes + static_cast<int64_t>(y) * c.BytesPerLine;
  };

  if (layout.Channels == 1) {
    bitmap.New(c.Width, c.Height, layout.Gray16 ? pf16bit : pf8bit);
    for (int y = 0; y < c.Height; ++y)
      std::memcpy(bitmap.ScanLine(y), sourceRow(0, y), static_cast<size_t>(layout.RowBytes));
    if (!layout.Gray16) std::memcpy(bitmap.Palette, c.Palette ? c.Palette : GrayPalette(), 768);
  } else if (!layout.Planar) {
    // Interleaved blue, green, red (and a fourth byte that is dropped).
    bitmap.New(c.Width, c.Height, pf24bit);
    for (int y = 0; y < c.Height; ++y) {
      const uint8_t* s = sourceRow(0, y);
      uint8_t* d = bitmap.ScanLine(y);
      if (layout.Channels == 3) {
        std::memcpy(d, s, static_cast<size_t>(layout.RowBytes));
      } else {
        for (int x = 0; x < c.Width; ++x, s += 4, d += 3) std::memcpy(d, s, 3);
      }
    }
  } else {
    // Planes 0, 1, 2 become bytes 0, 1, 2 of each pixel; a missing third plane stays 0.
    bitmap.New(c.Width, c.Height, pf24bit);
    bitmap.Clear(0);
    const int planes = std::min(layout.Channels, 3);
    for (int p = 0; p < planes; ++p)
      for (int y = 0; y < c.Height; ++y) {
        const uint8_t* s = sourceRow(p, y);
        uint8_t* d = bitmap.ScanLine(y) + p;
        for (int x = 0; x < c.Width; ++x, d += 3) *d = s[x];
      }
  }
  if (layout.Channels > 3)
    throw Exception(Format("The image contains %d color planes, only 3 were loaded", layout.Channels));
}

TImageContainer BitmapToContainer(const TLinearBitmap& bitmap) {
  TImageContainer c;
  std::memset(&c, 0, sizeof c);
  if (!bitmap.Present || (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf24bit))
    throw ELinearBitmap("Unsupported pixel format");
  c.Options = bitmap.PixelFormat == pf8bit ? 1 : 3;
  c.Width = bitmap.Width;
  c.Height = bitmap.Height;
  c.BytesPerLine = bitmap.BytesPerLine;
  // The library only reads the bitmap during the call; the record has no const.
  c.Data = const_cast<uint8_t*>(bitmap.Map);
  c.Palette = bitmap.PixelFormat == pf8bit ? const_cast<uint8_t*>(bitmap.Palette) : nullptr;
  return c;
}

std::string PluginErrorMessage(int code, const std::string& callerMessage) {
  switch (code) {
    case SQ_PLUGIN_OPEN_FAILED:
      return "Unable to open file";
    case SQ_PLUGIN_BAD_DATA:
      return "Error in bitmap data";
    case SQ_PLUGIN_UNSUPPORTED_PIXEL_FORMAT:
      return "Unsupported pixel format";
    case SQ_PLUGIN_CLOSE_FAILED:
      return "Unable to close file";
    default:
      return callerMessage.empty() ? Format("Process failed: %d", code) : Format("%s: %d", callerMessage, code);
  }
}

TImageDLLLoader::~TImageDLLLoader() {
  for (TPlugin& plugin : plugins_) dlclose(plugin.Handle);
}

int TImageDLLLoader::LoadPlugins(const std::string& directory) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(fs::path(directory), error), end; !error && it != end; it.increment(error))
    if (it->path().extension() == ".so" && it->is_regular_file(error)) files.push_back(it->path());
  std::sort(files.begin(), files.end());

  int kept = 0;
  for (const fs::path& file : files) {
    const std::string canonical = fs::weakly_canonical(file, error).string();
    if (std::any_of(plugins_.begin(), plugins_.end(), [&](const TPlugin& p) { return p.FileName == canonical; }))
      continue;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) continue;
    TPlugin plugin;
    plugin.Handle = handle;
    plugin.FileName = canonical;
    plugin.Load = reinterpret_cast<TLibLoadImage>(dlsym(handle, "LibLoadImage"));
    plugin.Save = reinterpret_cast<TLibSaveImage>(dlsym(handle, "LibSaveImage"));
    plugin.Free = reinterpret_cast<TLibFreeImage>(dlsym(handle, "LibFreeImage"));
    if (plugin.Free == nullptr || (plugin.Load == nullptr && plugin.Save == nullptr)) {
      dlclose(handle);
      continue;
    }
    auto filter = [handle](const char* name) {
      const auto get = reinterpret_cast<TLibGetFilter>(dlsym(handle, name));
      const char* text = get ? get() : nullptr;
      return std::string(text ? text : "");
    };
    plugin.LoadFilter = filter("LibGetLoadFilter");
    plugin.SaveFilter = filter("LibGetSaveFilter");
    plugins_.push_back(std::move(plugin));
    ++kept;
  }
  return kept;
}

std::string TImageDLLLoader::GetLoadFilter() {
  std::vector<std::string> filters;
  for (const TPlugin& plugin : plugins_)
    if (plugin.Load) filters.push_back(plugin.LoadFilter);
  return JoinFilters(filters);
}

std::string TImageDLLLoader::GetSaveFilter() {
  std::vector<std::string> filters;
  for (const TPlugin& plugin : plugins_)
    if (plugin.Save) filters.push_back(plugin.SaveFilter);
  return JoinFilters(filters);
}

namespace {

// The extension argument: upper case, no dot, in a 260-byte buffer.
struct TExtensionBuffer {
  explicit TExtensionBuffer(const std::string& extension) {
    const std::string upper = UpperCase(extension);
    std::strncpy(Text, upper.c_str(), sizeof Text - 1);
  }
  char Text[260] = {};
};

}  // namespace

void TImageDLLLoader::LoadFromFile(const std::string& fileName, const std::string& extension, TLinearBitmap& bitmap) {
  const auto plugin = std::find_if(plugins_.begin(), plugins_.end(),
                                   [&](const TPlugin& p) { return p.Load && FilterNames(p.LoadFilter, extension); });
  if (plugin == plugins_.end()) throw ELinearBitmap("Unsupported file format");

  std::lock_guard lock(callLock_);
  TImageContainer container;
  std::memset(&container, 0, sizeof container);
  const TExtensionBuffer ext(extension);
  const int code = plugin->Load(fileName.c_str(), ext.Text, &container);
  if (code != SQ_PLUGIN_OK) throw Exception(PluginErrorMessage(code, "Error in bitmap data"));

  // The library's memory goes back to it whatever the conversion makes of it.
  struct TRelease {
    TLibFreeImage Free;
    TImageContainer* Container;
    ~TRelease() { Free(Container); }
  } release{plugin->Free, &container};
  try {
    ContainerToBitmap(container, bitmap);
  } catch (const ELinearBitmap& e) {
    throw ELinearBitmap(std::string(e.what()) + " (" + std::filesystem::path(plugin->FileName).filename().string() +
                        ")");
  }
}

void TImageDLLLoader::SaveToFile(const std::string& fileName, const std::string& extension,
                                 const TLinearBitmap& bitmap) {
  const auto plugin = std::find_if(plugins_.begin(), plugins_.end(),
                                   [&](const TPlugin& p) { return p.Save && FilterNames(p.SaveFilter, extension); });
  if (plugin == plugins_.end()) throw ELinearBitmap("Unsupported file format");

  TImageContainer container = BitmapToContainer(bitmap);
  std::lock_guard lock(callLock_);
  const TExtensionBuffer ext(extension);
  const int code = plugin->Save(fileName.c_str(), ext.Text, &container);
  if (code != SQ_PLUGIN_OK) throw Exception(PluginErrorMessage(code, "Error writing image file"));
}

std::vector<std::string> TImageDLLLoader::LibraryNames() const {
  std::vector<std::string> names;
  for (const TPlugin& plugin : plugins_) names.push_back(plugin.FileName);
  return names;
}

TImageDLLLoader& ImageDLLLoader() {
  static TImageDLLLoader loader;
  return loader;
}

int LoadPlugins(const std::string& directory) {
  static std::once_flag registered;
  TImageDLLLoader& loader = ImageDLLLoader();
  std::call_once(registered, [&loader] { RegisterLoader(loader); });
  return loader.LoadPlugins(directory);
}

}  // namespace sq
