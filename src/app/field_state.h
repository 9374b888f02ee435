// The look both numeric edits share: the ordinary colours while the text is a valid
// value, the field's warning colour for the text while it is not.
#pragma once

// Qt
#include <QLineEdit>

// Local
#include <cstdint>

namespace sq {

inline void ShowFieldState(QLineEdit& edit, bool valid, uint32_t warningColor) {
  if (valid) {
    edit.setPalette(QPalette());
    return;
  }
  QPalette colours = edit.palette();
  colours.setColor(QPalette::Text,
                   QColor((warningColor >> 16) & 0xFF, (warningColor >> 8) & 0xFF, warningColor & 0xFF));
  edit.setPalette(colours);
}

}  // namespace sq
