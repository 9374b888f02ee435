// TFormatAssociateForm: lets the user make the program the desktop's opener of the
// file formats of a dialog filter, or take that back.  One check box per extension;
// the work is the core's Associate / IsAssociated.
#pragma once

// Qt
#include <QDialog>
#include <QList>

#include <string>

class QCheckBox;
class QPushButton;
class QScrollArea;
class QWidget;

namespace sq {

class TFormatAssociateForm : public QDialog {
  Q_OBJECT

 public:
  // filter: "Description (*.ext)|*.ext|..."; every box starts checked with checkAll,
  // else as the extension is associated now.
  TFormatAssociateForm(const std::string& filter, int iconIndex, bool checkAll, QWidget* parent = nullptr);

  const QList<QCheckBox*>& CheckBoxes() const { return checkBoxes_; }

  QPushButton* AssociateButton = nullptr;
  QPushButton* CloseButton = nullptr;
  QPushButton* AllButton = nullptr;
  QCheckBox* DescriptionBox = nullptr;

 public slots:
  void AssociateButtonClick();
  void AllButtonClick();

 private:
  QList<QCheckBox*> checkBoxes_;
  QList<std::string> extensions_;
  int iconIndex_;
};

// Builds the dialog, shows it modally and frees it.
void ShowFormatAssociation(const std::string& filter, int iconIndex, bool checkAll, QWidget* parent = nullptr);

}  // namespace sq
