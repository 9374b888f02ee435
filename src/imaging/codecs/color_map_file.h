// Colour-map files (".col") of the colour mapper: exactly the 256 bytes of one tone
// map, entry 0 first, nothing else.
#pragma once

#include <string>

#include "imaging/histogram.h"

namespace sq {

class TBaseStream;

// Reads one map; anything but exactly 256 bytes raises EBadFormat and returns no
// map, so the caller's map stays as it was.
ToneMap LoadColorMap(TBaseStream& stream);
ToneMap LoadColorMapFromFile(const std::string& fileName);

// The colour mapper's loading: a file of 1 to 255 bytes fills that many entries from
// entry 0 and keeps the rest of map; returns the number of entries read.  An empty file
// and one longer than 256 bytes raise EBadFormat and leave map alone.
int LoadColorMapEntries(TBaseStream& stream, ToneMap& map);
int LoadColorMapEntriesFromFile(const std::string& fileName, ToneMap& map);

void SaveColorMap(TBaseStream& stream, const ToneMap& map);
// Writes beside the target and renames over it, so a failed save keeps the old file.
void SaveColorMapToFile(const std::string& fileName, const ToneMap& map);

// The file dialogs' filter and default extension.
inline constexpr const char* kColorMapFilter = "Color maps (*.col)|*.col|All files|*.*";
inline constexpr const char* kColorMapExtension = "col";

}  // namespace sq
