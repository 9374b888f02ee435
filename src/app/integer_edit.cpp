// Self
#include "app/integer_edit.h"

// Local
#include "app/field_state.h"

namespace sq {

TIntegerEdit::TIntegerEdit(QWidget* parent) : QLineEdit(parent) {
  setText(QString::fromStdString(field_.Text()));
  field_.OnChange = [this] {
    ShowState();
    emit Changed();
  };
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (text.toStdString() != field_.Text()) field_.SetText(text.toStdString());
  });
}

void TIntegerEdit::ShowState() { ShowFieldState(*this, field_.Valid(), field_.WarningColor); }

void TIntegerEdit::SetValue(int32_t value) {
  field_.SetValue(value);
  setText(QString::fromStdString(field_.Text()));
  ShowState();
}

void TIntegerEdit::SetMin(int32_t min) {
  field_.SetMin(min);
  setText(QString::fromStdString(field_.Text()));
}

void TIntegerEdit::SetMax(int32_t max) {
  field_.SetMax(max);
  setText(QString::fromStdString(field_.Text()));
}

}  // namespace sq
