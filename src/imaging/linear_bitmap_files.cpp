// File dispatch of TLinearBitmap through the format registry.
#include "base/exception.h"
#include "base/format.h"
#include "imaging/linear_bitmap.h"

namespace sq {

// Placeholder until the format registry lands.
TBitmapLoader& TLinearBitmap::LoadFromFile(const std::string& fileName) {
  throw EUnsupportedFileFormat("Unsupported file format: " + UpperCase(ExtractFileExtNoDot(fileName)));
}

void TLinearBitmap::SaveToFile(const std::string& fileName) const {
  throw EUnsupportedFileFormat("Unsupported file format: " + UpperCase(ExtractFileExtNoDot(fileName)));
}

void TLinearBitmap::LoadFromStream(TBaseStream&, const std::string& extension) {
  throw EUnsupportedFileFormat("Unsupported file format: " + UpperCase(extension));
}

void TLinearBitmap::SaveToStream(TBaseStream&, const std::string& extension) const {
  throw EUnsupportedFileFormat("Unsupported file format: " + UpperCase(extension));
}

void TLinearBitmap::GetFromDIB(std::span<const uint8_t>) { throw ELinearBitmap("Error in bitmap data"); }

}  // namespace sq
