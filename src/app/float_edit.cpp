// Self
#include "app/float_edit.h"

// Local
#include "app/field_state.h"

namespace sq {

TFloatEdit::TFloatEdit(QWidget* parent) : QLineEdit(parent) {
  setText(QString::fromStdString(field_.Text()));
  field_.OnChange = [this] {
    ShowState();
    emit Changed();
  };
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (text.toStdString() != field_.Text()) field_.SetText(text.toStdString());
  });
}

void TFloatEdit::ShowState() { ShowFieldState(*this, field_.Valid(), field_.WarningColor); }

void TFloatEdit::SetValue(long double value) {
  field_.SetValue(value);
  setText(QString::fromStdString(field_.Text()));
  ShowState();
}

void TFloatEdit::SetMin(long double min) {
  field_.SetMin(min);
  setText(QString::fromStdString(field_.Text()));
}

void TFloatEdit::SetMax(long double max) {
  field_.SetMax(max);
  setText(QString::fromStdString(field_.Text()));
}

}  // namespace sq
