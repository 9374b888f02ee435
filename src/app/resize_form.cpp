// Self
#include "app/resize_form.h"

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

// Local
#include "app/dialog_buttons.h"
#include "app/error_box.h"
#include "app/float_edit.h"
#include "app/integer_edit.h"
#include "app/main_form.h"
#include "base/format.h"
#include "base/rounding.h"
#include "imaging/ops/resample_command.h"
#include "numeric/library.h"

namespace sq {

namespace {

TResizeMethod rememberedMethod = TResizeMethod::Bilinear;

constexpr int kMaxSide = 32767;

}  // namespace

TResizeMethod TResizeForm::RememberedMethod() { return rememberedMethod; }
void TResizeForm::SetRememberedMethod(TResizeMethod method) { rememberedMethod = method; }

TResizeForm::TResizeForm(TLinearBitmap& bitmap, QWidget* parent)
    : QDialog(parent),
      Bitmap(bitmap),
      OldWidth(std::max(bitmap.Width, 1)),
      OldHeight(std::max(bitmap.Height, 1)),
      Ratio(double(OldWidth) / OldHeight),
      SymbolW(StandardSymbols(), "w", OldWidth),
      SymbolH(StandardSymbols(), "h", OldHeight),
      SymbolR(StandardSymbols(), "r", Ratio) {
  setWindowTitle("Resize");

  auto makePixelEdit = [this](int value) {
    auto* edit = new TIntegerEdit(this);
    edit->SetMin(1);
    edit->SetMax(kMaxSide);
    edit->SetValue(value);
    return edit;
  };
  auto makePercentEdit = [this]() {
    auto* edit = new TFloatEdit(this);
    edit->SetFormatString("0.##");
    edit->SetMin(0);
    edit->SetMax(1000000000);
    edit->SetValue(100);
    return edit;
  };
  WidthEdit = makePixelEdit(OldWidth);
  HeightEdit = makePixelEdit(OldHeight);
  WidthPercentEdit = makePercentEdit();
  HeightPercentEdit = makePercentEdit();

  auto* grid = new QGridLayout;
  auto* widthLabel = new QLabel("&Width:", this);
  widthLabel->setBuddy(WidthEdit);
  auto* heightLabel = new QLabel("&Height", this);
  heightLabel->setBuddy(HeightEdit);
  grid->addWidget(widthLabel, 0, 0);
  grid->addWidget(WidthEdit, 0, 1);
  grid->addWidget(new QLabel("pixels", this), 0, 2);
  grid->addWidget(WidthPercentEdit, 0, 3);
  grid->addWidget(new QLabel("%", this), 0, 4);
  grid->addWidget(heightLabel, 1, 0);
  grid->addWidget(HeightEdit, 1, 1);
  grid->addWidget(new QLabel("pixels", this), 1, 2);
  grid->addWidget(HeightPercentEdit, 1, 3);
  grid->addWidget(new QLabel("%", this), 1, 4);

  RatioCheckBox =
      new QCheckBox(QString::fromStdString("Maintain aspect &ratio r=" + FormatFloat("0.#####", Ratio)), this);
  RatioCheckBox->setChecked(true);

  MethodBox = new QComboBox(this);
  const std::vector<TResizeMethod> methods = Bitmap.Width == 1 && Bitmap.Height == 1
                                                 ? std::vector<TResizeMethod>{TResizeMethod::Pixel}
                                                 : ResizeMethods(Bitmap);
  for (TResizeMethod method : methods) MethodBox->addItem(ResizeMethodName(method), static_cast<int>(method));
  const int remembered = MethodBox->findData(static_cast<int>(rememberedMethod));
  MethodBox->setCurrentIndex(remembered >= 0 ? remembered : 0);
  auto* methodLabel = new QLabel("Resampling method:", this);
  methodLabel->setBuddy(MethodBox);

  const TDialogButtonRow buttons = MakeDialogButtonRow(*this, {}, "&Ok");
  OkButton = buttons.Ok;
  CancelButton = buttons.Cancel;

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(RatioCheckBox);
  layout->addWidget(methodLabel);
  layout->addWidget(MethodBox);
  layout->addStretch();
  layout->addLayout(buttons.Row);
  setLayout(layout);

  // Typing replaces the width at once.
  WidthEdit->setFocus();
  WidthEdit->selectAll();

  connect(WidthEdit, &TIntegerEdit::Changed, this, &TResizeForm::WidthEditChange);
  connect(HeightEdit, &TIntegerEdit::Changed, this, &TResizeForm::HeightEditChange);
  connect(WidthPercentEdit, &TFloatEdit::Changed, this, &TResizeForm::WidthPercentEditChange);
  connect(HeightPercentEdit, &TFloatEdit::Changed, this, &TResizeForm::HeightPercentEditChange);
  connect(OkButton, &QPushButton::clicked, this, &TResizeForm::OkButtonClick);
}

TResizeForm::~TResizeForm() = default;

bool TResizeForm::Execute() {
  FactorX = FactorY = 1;
  return exec() == QDialog::Accepted && (FactorX != 1 || FactorY != 1);
}

// Each handler writes the fields it derives with Updating set, so that their own change
// signals do not start another round.
void TResizeForm::WidthEditChange() {
  if (Updating) return;
  Updating = true;
  WidthPercentEdit->SetValue(100.0L * WidthEdit->Value() / OldWidth);
  if (RatioCheckBox->isChecked()) SetHeightFromRatio(100.0 * WidthEdit->Value() / OldWidth);
  Updating = false;
}

void TResizeForm::HeightEditChange() {
  if (Updating) return;
  Updating = true;
  HeightPercentEdit->SetValue(100.0L * HeightEdit->Value() / OldHeight);
  if (RatioCheckBox->isChecked()) SetWidthFromRatio(100.0 * HeightEdit->Value() / OldHeight);
  Updating = false;
}

void TResizeForm::WidthPercentEditChange() {
  if (Updating) return;
  Updating = true;
  const double percent = double(WidthPercentEdit->Value());
  WidthEdit->SetValue(std::clamp(RoundInt(std::min(OldWidth * percent / 100, 1e9)), 1, kMaxSide));
  if (RatioCheckBox->isChecked()) SetHeightFromRatio(percent);
  Updating = false;
}

void TResizeForm::HeightPercentEditChange() {
  if (Updating) return;
  Updating = true;
  const double percent = double(HeightPercentEdit->Value());
  HeightEdit->SetValue(std::clamp(RoundInt(std::min(OldHeight * percent / 100, 1e9)), 1, kMaxSide));
  if (RatioCheckBox->isChecked()) SetWidthFromRatio(percent);
  Updating = false;
}

void TResizeForm::SetHeightFromRatio(double percent) {
  HeightPercentEdit->SetValue(percent);
  HeightEdit->SetValue(std::clamp(RoundInt(std::min(OldHeight * percent / 100, 1e9)), 1, kMaxSide));
}

void TResizeForm::SetWidthFromRatio(double percent) {
  WidthPercentEdit->SetValue(percent);
  WidthEdit->SetValue(std::clamp(RoundInt(std::min(OldWidth * percent / 100, 1e9)), 1, kMaxSide));
}

void TResizeForm::OkButtonClick() {
  const int width = WidthEdit->Value(), height = HeightEdit->Value();
  if (!Bitmap.Present || (width == Bitmap.Width && height == Bitmap.Height)) {
    accept();
    return;
  }
  const auto method = static_cast<TResizeMethod>(MethodBox->currentData().toInt());
  rememberedMethod = method;
  try {
    TBusyCursor busy;
    ApplyResizeMethod(Bitmap, width, height, method);
  } catch (const std::exception& error) {
    ShowError(this, error);
    return;
  }
  FactorX = double(width) / OldWidth;
  FactorY = double(height) / OldHeight;
  accept();
}

}  // namespace sq
