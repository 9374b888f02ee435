// The "Adaptive noise reduction" dialog: strength, window size and the double-size
// option, with a preview on the document that Cancel takes back.
#pragma once

// Qt
#include <QDialog>

// Local
#include <functional>

#include "imaging/linear_bitmap.h"
#include "imaging/ops/adaptive_smooth.h"

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace sq {

class TIntegerEdit;

class TNoiseReductionForm : public QDialog {
  Q_OBJECT

 public:
  // repaint redraws the document that shows bitmap; without it there is no preview.
  TNoiseReductionForm(TLinearBitmap& bitmap, std::function<void()> repaint, QWidget* parent = nullptr);

  // Shows the dialog; true when the bitmap holds the filtered image, false when it
  // holds its pixels as they were.
  bool Execute();

  // The settings the dialog starts from, until the program ends.
  static TNoiseReductionSettings& Remembered();

  TIntegerEdit* StrengthEdit;
  QRadioButton* SizeButtons[3];
  QCheckBox* DoubleSizeCheckBox;
  QPushButton* PreviewButton;
  QPushButton* OkButton;
  QPushButton* CancelButton;

 protected:
  void reject() override;

 private:
  // Filters a fresh copy of the original pixels into the bitmap; false (after the
  // error box) when the strength is invalid or the filter fails.
  bool RunPreview();
  void MarkStale();
  void OkButtonClick();

  TLinearBitmap& Bitmap;
  std::function<void()> Repaint;
  TLinearBitmap Original;  // the document's pixels before the first preview
  bool Previewed = false;  // the bitmap shows a filtered image
  bool Stale = true;       // the controls changed since
};

}  // namespace sq
