// The "Accommodate images" dialog: shows the shift that brings image 2's points closest
// to image 1's and the area both images keep; the main window moves and crops them
// when the user confirms.
#pragma once

// Qt
#include <QDialog>

// Local
#include "project/accommodation.h"

class QLabel;
class QPushButton;

namespace sq {

class TAccommodateForm : public QDialog {
  Q_OBJECT

 public:
  TAccommodateForm(const TAccommodation& accommodation, int pairCount, int width1, int height1, int width2, int height2,
                   QWidget* parent = nullptr);

  QLabel* ShiftLabel;
  QLabel* ResidualLabel;
  QLabel* Image1Label;
  QLabel* Image2Label;
  QLabel* ResultLabel;
  QPushButton* OkButton;
  QPushButton* CancelButton;
};

}  // namespace sq
