// TIntegerEdit: a line edit for a integer value that accepts arithmetic expressions.
// Every change of the text is evaluated at once; text that does not give a value
// within [Min, Max] turns the warning colour and leaves Value() at the last valid one.
#pragma once

// Qt
#include <QLineEdit>

// Local
#include <cstdint>

#include "numeric/numeric_field.h"

namespace sq {

class TIntegerEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TIntegerEdit(QWidget* parent = nullptr);

  int32_t Value() const { return field_.Value(); }
  // Clamps to [Min, Max] and shows the value.
  void SetValue(int32_t value);
  int32_t Min() const { return field_.Min(); }
  int32_t Max() const { return field_.Max(); }
  void SetMin(int32_t min);
  void SetMax(int32_t max);
  bool Valid() const { return field_.Valid(); }
  // true: only a plain number is accepted; false (default): any expression.
  void SetSimpleValue(bool simple) { field_.SimpleValue = simple; }
  // The table expressions are evaluated against; nullptr for the standard one.
  void SetSymbols(TSymbolTable* symbols) { field_.Symbols = symbols; }

 signals:
  // The value changed, or the text became invalid.
  void Changed();

 private:
  void ShowState();

  TIntegerField field_;
};

}  // namespace sq
