// The logic of the numeric edit fields, without any widget: the desktop program's
// integer and float edits are thin shells that pass every text change to SetText, show
// Text(), colour the text with WarningColor while Valid() is false, and read Value().
//
// Every text change is evaluated at once: a plain number when SimpleValue is set,
// otherwise an expression against the field's symbol table.  Text that converts to a
// value within [Min, Max] (for integer fields: within 0.0001 of a whole number) becomes
// Value; other text leaves Value at its last valid value and marks the field invalid.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "numeric/symbol_table.h"

namespace sq {

class TValueField {
 public:
  TValueField() = default;
  virtual ~TValueField() = default;
  TValueField(const TValueField&) = delete;
  TValueField& operator=(const TValueField&) = delete;

  // The user changed the text.  Valid text sets Value and fires OnChange; invalid text
  // fires OnChange only when the field was valid until now.
  void SetText(std::string_view text);
  const std::string& Text() const { return text_; }
  bool Valid() const { return valid_; }

  // true: the text must be a plain number; false: it may be an expression.
  bool SimpleValue = false;
  // Table for expressions; nullptr means StandardSymbols().
  TSymbolTable* Symbols = nullptr;
  // Text colour while invalid, 0x00RRGGBB (dark red).
  uint32_t WarningColor = 0x800000;
  std::function<void()> OnChange;

 protected:
  // Converts the text and stores it as Value when it is accepted.
  virtual bool Accept(const std::string& text) = 0;
  // Converts text to a number as SimpleValue asks; false when it does not convert.
  bool Convert(const std::string& text, bool decimalComma, long double& value) const;
  // The program writes the text: the field becomes valid, nothing is evaluated and
  // OnChange does not fire.
  void Rewrite(std::string text);

 private:
  std::string text_;
  bool valid_ = true;
};

class TIntegerField : public TValueField {
 public:
  TIntegerField() { SetValue(0); }

  int32_t Value() const { return value_; }
  // Clamps to [Min, Max] and writes the value as decimal digits.
  void SetValue(int32_t value);
  int32_t Min() const { return min_; }
  int32_t Max() const { return max_; }
  // A bound that excludes Value moves Value onto it.
  void SetMin(int32_t min);
  void SetMax(int32_t max);

 protected:
  bool Accept(const std::string& text) override;

 private:
  int32_t value_ = 0;
  int32_t min_ = 0;
  int32_t max_ = 100;
};

class TFloatField : public TValueField {
 public:
  TFloatField() { SetValue(0); }

  long double Value() const { return value_; }
  // Clamps to [Min, Max] and writes the value with FormatString.
  void SetValue(long double value);
  long double Min() const { return min_; }
  long double Max() const { return max_; }
  void SetMin(long double min);
  void SetMax(long double max);

  // Picture used when the program writes Value into the text (see FormatFloat).
  std::string FormatString = "0.##";

 protected:
  bool Accept(const std::string& text) override;

 private:
  long double value_ = 0;
  long double min_ = 0;
  long double max_ = 100;
};

}  // namespace sq
