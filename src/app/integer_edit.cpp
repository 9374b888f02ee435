// Self
#include "app/integer_edit.h"

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

void TIntegerEdit::ShowState() {
  if (field_.Valid()) {
    setPalette(QPalette());
    return;
  }
  QPalette colours = palette();
  const uint32_t warning = field_.WarningColor;
  colours.setColor(QPalette::Text, QColor((warning >> 16) & 0xFF, (warning >> 8) & 0xFF, warning & 0xFF));
  setPalette(colours);
}

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
