// TFloatEdit: a line edit for a float value that accepts arithmetic expressions.
// Every change of the text is evaluated at once; text that does not give a value
// within [Min, Max] turns the warning colour and leaves Value() at the last valid one.
#pragma once

// Qt
#include <QLineEdit>

// Local
#include <cstdint>

#include "numeric/numeric_field.h"

namespace sq {

class TFloatEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TFloatEdit(QWidget* parent = nullptr);

  long double Value() const { return field_.Value(); }
  // Clamps to [Min, Max] and shows the value.
  void SetValue(long double value);
  long double Min() const { return field_.Min(); }
  long double Max() const { return field_.Max(); }
  void SetMin(long double min);
  void SetMax(long double max);
  bool Valid() const { return field_.Valid(); }
  // true: only a plain number is accepted; false (default): any expression.
  void SetSimpleValue(bool simple) { field_.SimpleValue = simple; }
  // The table expressions are evaluated against; nullptr for the standard one.
  void SetSymbols(TSymbolTable* symbols) { field_.Symbols = symbols; }
  // Picture used when the program writes the value ("0.##").
  void SetFormatString(const std::string& format) { field_.FormatString = format; }

 signals:
  // The value changed, or the text became invalid.
  void Changed();

 private:
  void ShowState();

  TFloatField field_;
};

}  // namespace sq
