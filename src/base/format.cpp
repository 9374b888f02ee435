#include "base/format.h"

#include <cmath>
#include <cstdio>

namespace sq {

std::string FormatFloat(std::string_view picture, double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";

  int minIntDigits = 0, minDecimals = 0, maxDecimals = 0;
  bool afterPoint = false;
  for (char c : picture) {
    if (c == '.') {
      afterPoint = true;
    } else if (c == '0') {
      if (afterPoint) {
        ++minDecimals;
        ++maxDecimals;
      } else {
        ++minIntDigits;
      }
    } else if (c == '#') {
      if (afterPoint) ++maxDecimals;
    }
  }

  // Values beyond 18 digits cannot be written in fixed notation sensibly.
  if (std::fabs(value) >= 1e18) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    return buffer;
  }

  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", maxDecimals, value);
  std::string text = buffer;
  if (maxDecimals > minDecimals) {
    const size_t point = text.find('.');
    size_t keep = text.size();
    while (keep > point + 1 + static_cast<size_t>(minDecimals) && text[keep - 1] == '0') --keep;
    if (keep == point + 1) keep = point;  // no decimals left: drop the point too
    text.resize(keep);
  }
  // Minimum integer digits: "0.##" writes 0.5 as "0.5", ".##" writes it as ".5".
  const bool negative = text[0] == '-';
  std::string digits = negative ? text.substr(1) : text;
  size_t intLength = digits.find('.');
  if (intLength == std::string::npos) intLength = digits.size();
  if (minIntDigits == 0 && intLength == 1 && digits[0] == '0' && digits.size() > 1)
    digits = digits.substr(1);
  else if (static_cast<int>(intLength) < minIntDigits)
    digits = std::string(static_cast<size_t>(minIntDigits) - intLength, '0') + digits;
  // A value that rounds to zero is written without a sign.
  const bool allZero = digits.find_first_not_of("0.") == std::string::npos;
  return (negative && !allZero ? "-" : "") + digits;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

}  // namespace sq
