// The image format registry.  A caller never names a format: it hands a file name or
// a stream plus an extension, and the registry picks the first loader whose
// extension list holds it.  The same loaders build the open and save dialog filters.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace sq {

class TBaseStream;
class TLinearBitmap;

// One file format.  A concrete loader overrides either the stream pair or the file
// pair (or both); the base turns each into the other through a temporary file.
class TBitmapLoader {
 public:
  virtual ~TBitmapLoader() = default;

  // Slot 0: whether the loader reads files with this extension (no dot, any case).
  // The base looks for "*." + extension as a whole pattern in GetLoadFilter.
  virtual bool CanLoad(const std::string& extension);
  // Slot 1: the same test against GetSaveFilter.
  virtual bool CanSave(const std::string& extension);
  // Slot 2: "description|pattern;pattern" pairs joined by "|"; empty in the base.
  virtual std::string GetLoadFilter();
  // Slot 3: GetLoadFilter in the base.
  virtual std::string GetSaveFilter();
  // Slot 4: copies the stream (at most 100 MiB) into a temporary file and calls slot 6.
  virtual void LoadFromStream(TBaseStream& stream, const std::string& extension, TLinearBitmap& bitmap);
  // Slot 5: lets slot 7 write a temporary file and copies it into the stream.
  virtual void SaveToStream(TBaseStream& stream, const std::string& extension, const TLinearBitmap& bitmap);
  // Slot 6: opens the file for reading and calls slot 4.
  virtual void LoadFromFile(const std::string& fileName, const std::string& extension, TLinearBitmap& bitmap);
  // Slot 7: creates the file and calls slot 5.
  virtual void SaveToFile(const std::string& fileName, const std::string& extension, const TLinearBitmap& bitmap);

 protected:
  // For loaders that decide by a fixed list of upper-case extensions.
  static bool ExtensionInList(const std::string& extension, std::initializer_list<const char*> list);
};

// Largest stream the temporary-file fallback copies (100 MiB).
constexpr int64_t kMaxFallbackStreamBytes = 104857600;

class TBitmapLoaders {
 public:
  // Appends; the registry does not own its loaders.
  void RegisterLoader(TBitmapLoader& loader);

  int Count() const { return static_cast<int>(items_.size()); }
  TBitmapLoader& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }

  // The first loader that reads (writes) the extension; EUnsupportedFileFormat
  // "Unsupported file format: EXT" when none does.
  TBitmapLoader& FindLoader(const std::string& extension) const;
  TBitmapLoader& FindSaver(const std::string& extension) const;

  // Open dialog filter: a first entry offering every readable extension, then every
  // loader's entries sorted by description.
  std::string GetLoadFilter() const;
  // Save dialog filter: the sorted entries alone.
  std::string GetSaveFilter() const;

 private:
  std::vector<TBitmapLoader*> items_;
};

// The process-wide registry.  On first use it registers the built-in loaders (PCX,
// JPEG, BMP, PNG, GIF, in that search order); plug-ins register after them.
TBitmapLoaders& BitmapLoaders();

// Appends a loader to the process-wide registry.
void RegisterLoader(TBitmapLoader& loader);

// Registers the formats compiled into the program (builtin_loaders.cpp).
void RegisterBuiltinLoaders(TBitmapLoaders& registry);

// What a reader noticed in a file that it still loaded.  The image is kept; the
// user is told.  Readers add to the report of the load running on their thread.
struct TLoadReport {
  // Sentences for the user, e.g. "JPEG data ends early; the rest is grey".
  std::vector<std::string> Warnings;
  // Part of the image could not be decoded and was filled in.
  bool Damaged = false;
  // How the stored pixels were turned to show the picture upright, from the file's
  // orientation tag: "rotated 90°", "mirrored", ...; empty when they were not.
  std::string Orientation;
};

// Routes the warnings of every load on this thread into report while it lives.
class TLoadReportScope {
 public:
  explicit TLoadReportScope(TLoadReport& report);
  ~TLoadReportScope();
  TLoadReportScope(const TLoadReportScope&) = delete;
  TLoadReportScope& operator=(const TLoadReportScope&) = delete;

 private:
  TLoadReport* previous_;
};

// The report of the load running on this thread, or none.
TLoadReport* CurrentLoadReport();

// Adds a warning (once) to the current report, if there is one.
void ReportLoadWarning(const std::string& text, bool damaged);

// Cuts a filter text into "description|patterns" entries (a text with an odd
// number of parts ends with an entry that has no pattern).
std::vector<std::string> SplitFilterEntries(const std::string& filter);

}  // namespace sq
