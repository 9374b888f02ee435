// Point pairs as text: one pair per line as "x1 y1 x2 y2" (whole numbers separated
// by blanks), "#" starts a comment that runs to the end of the line, blank lines are
// skipped.  The command line takes pairs in this form.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "project/correspondence_project.h"

namespace sq {

// Largest pairs file read (far beyond 800 pairs with generous comments).
constexpr size_t kMaxPointPairsFileBytes = size_t(16) << 20;

// Raises EBadFormat naming sourceName and the line for a malformed line or for more
// than kMaxPointPairs pairs.
std::vector<PointPair> ParsePointPairs(std::string_view text, const std::string& sourceName);
std::vector<PointPair> ReadPointPairsFile(const std::string& fileName);

// One "x1 y1 x2 y2" line per pair, each ending in a newline.
std::string FormatPointPairs(std::span<const PointPair> pairs);

}  // namespace sq
