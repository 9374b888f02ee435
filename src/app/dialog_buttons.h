// The bottom row our small dialogs share: whatever the dialog puts at its left, then
// OK as the default button (so Enter confirms) and Cancel, which rejects as Esc does.
#pragma once

#include <initializer_list>

// Qt
#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace sq {

struct TDialogButtonRow {
  QHBoxLayout* Row;
  QPushButton* Ok;
  QPushButton* Cancel;
};

inline TDialogButtonRow MakeDialogButtonRow(QDialog& dialog, std::initializer_list<QWidget*> leading = {},
                                            const char* okCaption = "&OK") {
  const TDialogButtonRow buttons{new QHBoxLayout, new QPushButton(okCaption, &dialog),
                                 new QPushButton("&Cancel", &dialog)};
  buttons.Ok->setDefault(true);
  for (QWidget* widget : leading) buttons.Row->addWidget(widget);
  buttons.Row->addStretch();
  buttons.Row->addWidget(buttons.Ok);
  buttons.Row->addWidget(buttons.Cancel);
  QObject::connect(buttons.Cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  return buttons;
}

}  // namespace sq
