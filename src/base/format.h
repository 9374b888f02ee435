// Text formatting helpers shared by every layer.
#pragma once

#include <fmt/printf.h>

#include <string>
#include <string_view>

namespace sq {

// Picture formats such as "0.##", "0.0###" or "0.#####": the digits before the point
// give the minimum integer digits, each "0" after it a decimal always written and
// each "#" one written only when it is not a trailing zero.  The value is rounded to
// the last decimal place the picture allows.
std::string FormatFloat(std::string_view picture, double value);

// printf-style formatting ("%d", "%s", "%.2f", ...).
template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
  return fmt::sprintf(format, args...);
}

// Upper-cases ASCII letters only; file extensions and names are byte strings.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

}  // namespace sq
