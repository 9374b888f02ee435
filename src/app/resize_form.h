// The "Resize" dialog: new size in pixels or percent, kept in proportion on request,
// and the resampling method.  OK resizes the bitmap in place and reports the factors
// by which the document's points must be scaled.
#pragma once

// Qt
#include <QDialog>

// Local
#include "imaging/ops/resample_command.h"
#include "numeric/symbol_table.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace sq {

class TLinearBitmap;
class TIntegerEdit;
class TFloatEdit;

class TResizeForm : public QDialog {
  Q_OBJECT

 public:
  TResizeForm(TLinearBitmap& bitmap, QWidget* parent = nullptr);
  ~TResizeForm() override;

  // Shows the dialog; true when the bitmap was resized.  FactorX and FactorY stay 1
  // otherwise.
  bool Execute();

  // The method chosen last, as an index of the full method list, until the program ends.
  static TResizeMethod RememberedMethod();
  static void SetRememberedMethod(TResizeMethod method);

  double FactorX = 1;
  double FactorY = 1;

  TIntegerEdit* WidthEdit;
  TIntegerEdit* HeightEdit;
  TFloatEdit* WidthPercentEdit;
  TFloatEdit* HeightPercentEdit;
  QCheckBox* RatioCheckBox;
  QComboBox* MethodBox;
  QPushButton* OkButton;
  QPushButton* CancelButton;

 private:
  void WidthEditChange();
  void HeightEditChange();
  void WidthPercentEditChange();
  void HeightPercentEditChange();
  void OkButtonClick();
  void SetHeightFromRatio(double percent);
  void SetWidthFromRatio(double percent);

  TLinearBitmap& Bitmap;
  int OldWidth, OldHeight;
  double Ratio;
  bool Updating = false;
  // "w", "h" and "r" for the expressions of the fields, while the dialog exists.
  TScopedSymbolValue SymbolW, SymbolH, SymbolR;
};

}  // namespace sq
