// Self
#include "app/noise_reduction_form.h"

// Qt
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

// Local
#include "app/dialog_buttons.h"
#include "app/error_box.h"
#include "app/integer_edit.h"
#include "app/main_form.h"
#include "base/exception.h"

namespace sq {

TNoiseReductionSettings& TNoiseReductionForm::Remembered() {
  static TNoiseReductionSettings settings;
  return settings;
}

TNoiseReductionForm::TNoiseReductionForm(TLinearBitmap& bitmap, std::function<void()> repaint, QWidget* parent)
    : QDialog(parent), Bitmap(bitmap), Repaint(std::move(repaint)) {
  setWindowTitle("Adaptive noise reduction");
  const TNoiseReductionSettings& settings = Remembered();

  StrengthEdit = new TIntegerEdit(this);
  StrengthEdit->SetMin(1);
  StrengthEdit->SetMax(100000);
  StrengthEdit->setMaxLength(5);
  StrengthEdit->SetValue(settings.Strength);
  StrengthEdit->setToolTip("Use higher values for more noise reduction");
  auto* strengthLabel = new QLabel("&Filter strengh:", this);
  strengthLabel->setBuddy(StrengthEdit);

  auto* sizeBox = new QGroupBox("Filter &size", this);
  sizeBox->setToolTip("Use larger filters fore more noisy images");
  auto* sizeLayout = new QVBoxLayout(sizeBox);
  auto* sizeGroup = new QButtonGroup(this);
  const char* sizes[3] = {"3 x 3", "5 x 5", "7 x 7"};
  for (int i = 0; i < 3; ++i) {
    SizeButtons[i] = new QRadioButton(sizes[i], sizeBox);
    sizeGroup->addButton(SizeButtons[i], i);
    sizeLayout->addWidget(SizeButtons[i]);
  }
  SizeButtons[std::clamp(settings.SizeIndex, 0, 2)]->setChecked(true);

  DoubleSizeCheckBox = new QCheckBox("Filter &double size image", this);
  DoubleSizeCheckBox->setChecked(settings.DoubleSize);

  PreviewButton = new QPushButton("&Preview", this);
  PreviewButton->setVisible(bool(Repaint));
  const TDialogButtonRow buttons = MakeDialogButtonRow(*this, {PreviewButton});
  OkButton = buttons.Ok;
  CancelButton = buttons.Cancel;

  auto* strengthRow = new QHBoxLayout;
  strengthRow->addWidget(strengthLabel);
  strengthRow->addWidget(StrengthEdit);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(strengthRow);
  layout->addWidget(sizeBox);
  layout->addWidget(DoubleSizeCheckBox);
  layout->addLayout(buttons.Row);

  StrengthEdit->setFocus();
  StrengthEdit->selectAll();

  connect(StrengthEdit, &TIntegerEdit::textChanged, this, &TNoiseReductionForm::MarkStale);
  connect(sizeGroup, &QButtonGroup::idClicked, this, &TNoiseReductionForm::MarkStale);
  connect(DoubleSizeCheckBox, &QCheckBox::toggled, this, &TNoiseReductionForm::MarkStale);
  connect(PreviewButton, &QPushButton::clicked, this, [this] { RunPreview(); });
  connect(OkButton, &QPushButton::clicked, this, &TNoiseReductionForm::OkButtonClick);
}

bool TNoiseReductionForm::Execute() { return exec() == QDialog::Accepted; }

void TNoiseReductionForm::MarkStale() {
  Stale = true;
  PreviewButton->setEnabled(true);
}

bool TNoiseReductionForm::RunPreview() {
  try {
    if (!StrengthEdit->Valid()) throw Exception("Invalid filter strength");
    const int size = 3 + 2 * (SizeButtons[1]->isChecked() ? 1 : SizeButtons[2]->isChecked() ? 2 : 0);
    TBusyCursor busy;
    if (!Previewed) Original.Assign(Bitmap);
    TLinearBitmap filtered(Original);
    AdaptiveSmooth(filtered, StrengthEdit->Value(), size, DoubleSizeCheckBox->isChecked());
    Bitmap.TakeOver(filtered);
    Previewed = true;
  } catch (const std::exception& error) {
    ShowError(this, error);
    return false;
  }
  Stale = false;
  PreviewButton->setEnabled(false);
  if (Repaint) Repaint();
  return true;
}

void TNoiseReductionForm::OkButtonClick() {
  if ((Stale || !Previewed) && !RunPreview()) return;
  TNoiseReductionSettings& settings = Remembered();
  settings.Strength = StrengthEdit->Value();
  settings.SizeIndex = SizeButtons[1]->isChecked() ? 1 : SizeButtons[2]->isChecked() ? 2 : 0;
  settings.DoubleSize = DoubleSizeCheckBox->isChecked();
  accept();
}

void TNoiseReductionForm::reject() {
  if (Previewed) {
    Bitmap.TakeOver(Original);
    Previewed = false;
    if (Repaint) Repaint();
  }
  QDialog::reject();
}

}  // namespace sq
