// The "Rotate" dialog: direction, a quarter-turn preset or a free angle, and the colour
// that fills the corners a free rotation uncovers.
#pragma once

// Qt
#include <QDialog>

class QFrame;
class QPushButton;
class QRadioButton;

namespace sq {

class TLinearBitmap;
class TFloatEdit;

class TRotateForm : public QDialog {
  Q_OBJECT

 public:
  explicit TRotateForm(QWidget* parent = nullptr);

  // Shows the dialog for the bitmap; true when it was rotated.
  bool Execute(TLinearBitmap& bitmap);

  // The signed angle in degrees (positive = left) chosen last, until the program ends.
  static double RememberedAngle();
  static void SetRememberedAngle(double degrees);

  // The angle the controls describe, signed: positive = left.
  double SignedAngle() const;
  uint32_t BackgroundColor() const { return Background; }  // 0x00BBGGRR
  void SetBackgroundColor(uint32_t color);

  QRadioButton* LeftButton;
  QRadioButton* RightButton;
  QRadioButton* AngleButtons[4];  // 90, 180, 270, free
  TFloatEdit* FreeAngleEdit;
  QPushButton* ColorPanel;
  QPushButton* OkButton;
  QPushButton* CancelButton;

 private:
  void ColorPanelClick();
  void OkButtonClick();

  TLinearBitmap* Bitmap = nullptr;
  uint32_t Background = 0;
};

}  // namespace sq
