#include "project/point_pairs_file.h"

#include <charconv>
#include <cstdint>

#include "base/exception.h"
#include "base/format.h"
#include "io/file_stream.h"

namespace sq {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// Parses the numbers of one line (comment already cut off) into values; returns how
// many there were, or -1 when something is not a whole number in 32-bit range.
int ParseNumbers(std::string_view line, int32_t (&values)[4]) {
  int count = 0;
  size_t pos = 0;
  for (;;) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size()) return count;
    size_t end = pos;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    std::string_view word = line.substr(pos, end - pos);
    if (word.size() > 1 && word[0] == '+') word.remove_prefix(1);
    int32_t value;
    const auto [ptr, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || ptr != word.data() + word.size()) return -1;
    if (count == 4) return 5;
    values[count++] = value;
    pos = end;
  }
}

}  // namespace

std::vector<PointPair> ParsePointPairs(std::string_view text, const std::string& sourceName) {
  std::vector<PointPair> pairs;
  int lineNumber = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    int32_t v[4];
    const int count = ParseNumbers(line, v);
    if (count == 0) continue;
    if (count != 4)
      throw EBadFormat(Format("%s, line %d: expected four whole numbers \"x1 y1 x2 y2\"", sourceName, lineNumber));
    if (pairs.size() == static_cast<size_t>(kMaxPointPairs))
      throw EBadFormat(Format("%s, line %d: more than %d point pairs", sourceName, lineNumber, kMaxPointPairs));
    pairs.push_back({v[0], v[1], v[2], v[3]});
  }
  return pairs;
}

std::vector<PointPair> ReadPointPairsFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::fmOpenRead);
  std::string text;
  char block[4096];
  for (;;) {
    const size_t got = file.Read(block, sizeof block);
    if (got == 0) break;
    if (text.size() + got > kMaxPointPairsFileBytes) throw EBadFormat(Format("%s: file too large", fileName));
    text.append(block, got);
  }
  return ParsePointPairs(text, fileName);
}

std::string FormatPointPairs(std::span<const PointPair> pairs) {
  std::string text;
  for (const PointPair& p : pairs) text += Format("%d %d %d %d\n", p.x1, p.y1, p.x2, p.y2);
  return text;
}

}  // namespace sq
