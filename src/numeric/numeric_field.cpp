#include "numeric/numeric_field.h"

#include <cmath>
#include <exception>

#include "base/format.h"
#include "numeric/expression.h"

namespace sq {

void TValueField::SetText(std::string_view text) {
  text_ = text;
  if (Accept(text_)) {
    valid_ = true;
    if (OnChange) OnChange();
  } else if (valid_) {
    valid_ = false;
    if (OnChange) OnChange();
  }
}

bool TValueField::Convert(const std::string& text, bool decimalComma, long double& value) const {
  if (!SimpleValue) {
    try {
      value = EvaluateExpression(text, Symbols, true);
      return true;
    } catch (const std::exception&) {
      return false;  // the field shows the text as invalid; the message is not needed
    }
  }
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  std::string number = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (decimalComma) {
    const size_t comma = number.find(',');
    if (comma != std::string::npos) number[comma] = '.';
  }
  return ParseDecimalNumber(number, value);
}

void TValueField::Rewrite(std::string text) {
  text_ = std::move(text);
  valid_ = true;
}

void TIntegerField::SetValue(int32_t value) {
  if (value < min_) value = min_;
  if (value > max_) value = max_;
  value_ = value;
  Rewrite(std::to_string(value));
}

void TIntegerField::SetMin(int32_t min) {
  min_ = min;
  if (value_ < min_) SetValue(min_);
}

void TIntegerField::SetMax(int32_t max) {
  max_ = max;
  if (value_ > max_) SetValue(max_);
}

bool TIntegerField::Accept(const std::string& text) {
  long double value;
  if (!Convert(text, false, value)) return false;
  const long double whole = std::nearbyint(value);
  if (!(std::fabs(value - whole) <= 0.0001L)) return false;
  if (!(whole >= min_ && whole <= max_)) return false;
  value_ = static_cast<int32_t>(whole);
  return true;
}

void TFloatField::SetValue(long double value) {
  if (value < min_) value = min_;
  if (value > max_) value = max_;
  value_ = value;
  Rewrite(FormatFloat(FormatString, static_cast<double>(value)));
}

void TFloatField::SetMin(long double min) {
  min_ = min;
  if (value_ < min_) SetValue(min_);
}

void TFloatField::SetMax(long double max) {
  max_ = max;
  if (value_ > max_) SetValue(max_);
}

bool TFloatField::Accept(const std::string& text) {
  long double value;
  if (!Convert(text, true, value)) return false;
  if (!(value >= min_ && value <= max_)) return false;
  value_ = value;
  return true;
}

}  // namespace sq
