// File dispatch of TLinearBitmap through the format registry.
#include <optional>

#include "base/exception.h"
#include "base/format.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/file_stream.h"

namespace sq {

namespace {

// The extension of the name's last part, upper-cased: folders may hold dots, and
// both "/" and "\" separate folders.
std::string FileExtension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  return UpperCase(ExtractFileExtNoDot(slash == std::string::npos ? fileName : fileName.substr(slash + 1)));
}

// A failed load leaves the bitmap as it was: the loader fills a fresh bitmap that
// replaces this one only when it is complete.
template <class Load>
void LoadReplacing(TLinearBitmap& bitmap, TLoadReport* report, Load&& load) {
  std::optional<TLoadReportScope> scope;
  if (report) {
    *report = TLoadReport{};
    scope.emplace(*report);
  }
  TLinearBitmap loaded;
  load(loaded);
  bitmap.TakeOver(loaded);
}

}  // namespace

TBitmapLoader& TLinearBitmap::LoadFromFile(const std::string& fileName, TLoadReport* report) {
  const std::string extension = FileExtension(fileName);
  TBitmapLoader& loader = BitmapLoaders().FindLoader(extension);
  LoadReplacing(*this, report, [&](TLinearBitmap& loaded) { loader.LoadFromFile(fileName, extension, loaded); });
  return loader;
}

// The image goes to a temporary file beside the target that replaces it only when
// complete, so a failed save never destroys the old file.
void TLinearBitmap::SaveToFile(const std::string& fileName) const {
  const std::string extension = FileExtension(fileName);
  TBitmapLoader& loader = BitmapLoaders().FindSaver(extension);
  TAtomicFileSave save(fileName);
  loader.SaveToFile(save.TempName(), extension, *this);
  save.Commit();
}

void TLinearBitmap::LoadFromStream(TBaseStream& stream, const std::string& extension, TLoadReport* report) {
  const std::string upper = UpperCase(extension);
  TBitmapLoader& loader = BitmapLoaders().FindLoader(upper);
  LoadReplacing(*this, report, [&](TLinearBitmap& loaded) { loader.LoadFromStream(stream, upper, loaded); });
}

void TLinearBitmap::SaveToStream(TBaseStream& stream, const std::string& extension) const {
  const std::string upper = UpperCase(extension);
  BitmapLoaders().FindSaver(upper).SaveToStream(stream, upper, *this);
}

}  // namespace sq
