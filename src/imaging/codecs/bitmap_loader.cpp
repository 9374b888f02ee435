#include "imaging/codecs/bitmap_loader.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "base/exception.h"
#include "base/format.h"
#include "imaging/linear_bitmap.h"
#include "io/file_stream.h"

namespace sq {

namespace {

bool IsExtensionChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Whether text holds "*." + extension as a whole pattern: "JP" must not pass for
// "*.JPG".  Both sides are upper case already.
bool FilterHasPattern(const std::string& text, const std::string& extension) {
  if (extension.empty()) return false;
  const std::string needle = "*." + extension;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    const size_t end = at + needle.size();
    if (end == text.size() || !IsExtensionChar(text[end])) return true;
  }
  return false;
}

// A loader that overrides neither the stream pair nor the file pair would bounce
// between the two fallbacks for ever; this notices the second round.
thread_local const TBitmapLoader* tFallbackLoader = nullptr;

class TFallbackGuard {
 public:
  TFallbackGuard(const TBitmapLoader* loader, const std::string& extension) : previous_(tFallbackLoader) {
    if (tFallbackLoader == loader) throw EUnsupportedFileFormat("Unsupported file format: " + UpperCase(extension));
    tFallbackLoader = loader;
  }
  ~TFallbackGuard() { tFallbackLoader = previous_; }

 private:
  const TBitmapLoader* previous_;
};

// A temporary file in the system's temporary folder whose name ends with the
// extension, removed when the scope ends.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(const std::string& extension) {
    std::error_code error;
    std::string folder = std::filesystem::temp_directory_path(error).string();
    if (error || folder.empty()) folder = "/tmp";
    std::string suffix;
    for (const char c : extension)
      if (IsExtensionChar(c)) suffix += c;
    Name = CreateUniqueFile(folder, "sq", suffix.empty() ? "" : "." + suffix);
  }
  ~TTemporaryFile() { ::unlink(Name.c_str()); }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  std::string Name;
};

std::vector<std::string> SortedEntries(const std::vector<TBitmapLoader*>& loaders, bool save) {
  std::vector<std::string> entries;
  for (TBitmapLoader* loader : loaders) {
    const std::string filter = save ? loader->GetSaveFilter() : loader->GetLoadFilter();
    for (auto& entry : SplitFilterEntries(filter)) entries.push_back(std::move(entry));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::string& a, const std::string& b) { return LowerCase(a) < LowerCase(b); });
  return entries;
}

std::string Join(const std::vector<std::string>& entries) {
  std::string result;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) result += '|';
    result += entries[i];
  }
  return result;
}

}  // namespace

bool TBitmapLoader::CanLoad(const std::string& extension) {
  return FilterHasPattern(UpperCase(GetLoadFilter()), UpperCase(extension));
}

bool TBitmapLoader::CanSave(const std::string& extension) {
  return FilterHasPattern(UpperCase(GetSaveFilter()), UpperCase(extension));
}

std::string TBitmapLoader::GetLoadFilter() { return ""; }

std::string TBitmapLoader::GetSaveFilter() { return GetLoadFilter(); }

void TBitmapLoader::LoadFromStream(TBaseStream& stream, const std::string& extension, TLinearBitmap& bitmap) {
  TFallbackGuard guard(this, extension);
  TTemporaryFile temp(extension);
  {
    TFileStream file(temp.Name, TFileStream::fmWrite | TFileStream::fmCreate | TFileStream::fmShareRead);
    CopyStream(stream, &file, kMaxFallbackStreamBytes);
    file.Close();
  }
  LoadFromFile(temp.Name, extension, bitmap);
}

void TBitmapLoader::SaveToStream(TBaseStream& stream, const std::string& extension, const TLinearBitmap& bitmap) {
  TFallbackGuard guard(this, extension);
  TTemporaryFile temp(extension);
  SaveToFile(temp.Name, extension, bitmap);
  TFileStream file(temp.Name, TFileStream::fmOpenRead);
  stream.CopyFrom(file);
}

void TBitmapLoader::LoadFromFile(const std::string& fileName, const std::string& extension, TLinearBitmap& bitmap) {
  TFileStream file(fileName, TFileStream::fmOpenRead);
  LoadFromStream(file, extension, bitmap);
}

void TBitmapLoader::SaveToFile(const std::string& fileName, const std::string& extension, const TLinearBitmap& bitmap) {
  TFileStream file(fileName, TFileStream::fmCreateWrite);
  SaveToStream(file, extension, bitmap);
  file.Close();
}

bool TBitmapLoader::ExtensionInList(const std::string& extension, std::initializer_list<const char*> list) {
  const std::string upper = UpperCase(extension);
  return std::any_of(list.begin(), list.end(), [&](const char* item) { return upper == item; });
}

std::vector<std::string> SplitFilterEntries(const std::string& filter) {
  std::vector<std::string> entries;
  if (filter.empty()) return entries;
  size_t start = 0;
  int bars = 0;
  for (size_t i = 0; i < filter.size(); ++i) {
    if (filter[i] != '|') continue;
    if (++bars % 2 == 0) {
      entries.push_back(filter.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < filter.size() || bars % 2 == 1) entries.push_back(filter.substr(start));
  return entries;
}

void TBitmapLoaders::RegisterLoader(TBitmapLoader& loader) { items_.push_back(&loader); }

TBitmapLoader& TBitmapLoaders::FindLoader(const std::string& extension) const {
  const std::string upper = UpperCase(extension);
  for (TBitmapLoader* loader : items_)
    if (loader->CanLoad(upper)) return *loader;
  throw EUnsupportedFileFormat("Unsupported file format: " + upper);
}

TBitmapLoader& TBitmapLoaders::FindSaver(const std::string& extension) const {
  const std::string upper = UpperCase(extension);
  for (TBitmapLoader* loader : items_)
    if (loader->CanSave(upper)) return *loader;
  throw EUnsupportedFileFormat("Unsupported file format: " + upper);
}

std::string TBitmapLoaders::GetLoadFilter() const {
  const std::string list = Join(SortedEntries(items_, false));
  if (list.empty()) return "";
  // The first dialog entry lists every readable extension once, as its own description.
  std::string all;
  for (size_t at = list.find("*."); at != std::string::npos; at = list.find("*.", at + 2)) {
    size_t end = at + 2;
    while (end < list.size() && IsExtensionChar(list[end])) ++end;
    if (end == at + 2) continue;  // "*.*" names no extension
    const std::string piece = "*." + LowerCase(list.substr(at + 2, end - at - 2)) + ";";
    if (all.find(piece) == std::string::npos) all += piece;
  }
  if (!all.empty()) all.pop_back();
  return all + "|" + all + "|" + list;
}

std::string TBitmapLoaders::GetSaveFilter() const { return Join(SortedEntries(items_, true)); }

TBitmapLoaders& BitmapLoaders() {
  static TBitmapLoaders registry = [] {
    TBitmapLoaders builtin;
    RegisterBuiltinLoaders(builtin);
    return builtin;
  }();
  return registry;
}

void RegisterLoader(TBitmapLoader& loader) { BitmapLoaders().RegisterLoader(loader); }

namespace {
thread_local TLoadReport* gLoadReport = nullptr;
}

TLoadReportScope::TLoadReportScope(TLoadReport& report) : previous_(gLoadReport) { gLoadReport = &report; }

TLoadReportScope::~TLoadReportScope() { gLoadReport = previous_; }

TLoadReport* CurrentLoadReport() { return gLoadReport; }

void ReportLoadWarning(const std::string& text, bool damaged) {
  if (!gLoadReport) return;
  gLoadReport->Damaged = gLoadReport->Damaged || damaged;
  auto& warnings = gLoadReport->Warnings;
  if (std::find(warnings.begin(), warnings.end(), text) == warnings.end()) warnings.push_back(text);
}

}  // namespace sq
