// Self
#include "app/rotate_form.h"

// Qt
#include <QButtonGroup>
#include <QColorDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

// Local
#include "app/dialog_buttons.h"
#include "app/error_box.h"
#include "app/float_edit.h"
#include "app/main_form.h"
#include "imaging/ops/rotate_command.h"

namespace sq {

namespace {

double rememberedAngle = 0;

constexpr double kPresetAngles[3] = {90, 180, 270};

}  // namespace

double TRotateForm::RememberedAngle() { return rememberedAngle; }
void TRotateForm::SetRememberedAngle(double degrees) { rememberedAngle = degrees; }

TRotateForm::TRotateForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Rotate");

  auto* directionBox = new QGroupBox("Direction", this);
  LeftButton = new QRadioButton("Left", directionBox);
  RightButton = new QRadioButton("Right", directionBox);
  auto* directionLayout = new QVBoxLayout(directionBox);
  directionLayout->addWidget(LeftButton);
  directionLayout->addWidget(RightButton);
  directionLayout->addStretch();

  auto* angleBox = new QGroupBox("Angle", this);
  auto* angleLayout = new QVBoxLayout(angleBox);
  const char* captions[4] = {"90°", "180°", "270°", "Free:"};
  auto* angleGroup = new QButtonGroup(this);
  for (int i = 0; i < 4; ++i) {
    AngleButtons[i] = new QRadioButton(QString::fromUtf8(captions[i]), angleBox);
    angleGroup->addButton(AngleButtons[i], i);
  }
  FreeAngleEdit = new TFloatEdit(angleBox);
  FreeAngleEdit->SetFormatString("0.##");
  FreeAngleEdit->SetMin(0);
  FreeAngleEdit->SetMax(360);
  for (int i = 0; i < 3; ++i) angleLayout->addWidget(AngleButtons[i]);
  auto* freeRow = new QHBoxLayout;
  freeRow->addWidget(AngleButtons[3]);
  freeRow->addWidget(FreeAngleEdit);
  angleLayout->addLayout(freeRow);

  ColorPanel = new QPushButton(this);
  ColorPanel->setToolTip("Background color");
  ColorPanel->setFixedSize(48, 32);

  const TDialogButtonRow buttons = MakeDialogButtonRow(*this, {ColorPanel});
  OkButton = buttons.Ok;
  CancelButton = buttons.Cancel;

  auto* groups = new QHBoxLayout;
  groups->addWidget(directionBox);
  groups->addWidget(angleBox);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groups);
  layout->addLayout(buttons.Row);

  // Typing a free angle chooses it.
  connect(FreeAngleEdit, &TFloatEdit::Changed, this, [this] { AngleButtons[3]->setChecked(true); });
  connect(ColorPanel, &QPushButton::clicked, this, &TRotateForm::ColorPanelClick);
  connect(OkButton, &QPushButton::clicked, this, &TRotateForm::OkButtonClick);
}

void TRotateForm::SetBackgroundColor(uint32_t color) {
  Background = color & 0xFFFFFF;
  const QColor qcolor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
  ColorPanel->setStyleSheet(QString("background-color: %1; border: 1px solid gray;").arg(qcolor.name()));
}

double TRotateForm::SignedAngle() const {
  double degrees = double(FreeAngleEdit->Value());
  for (int i = 0; i < 3; ++i)
    if (AngleButtons[i]->isChecked()) degrees = kPresetAngles[i];
  return RightButton->isChecked() ? -degrees : degrees;
}

bool TRotateForm::Execute(TLinearBitmap& bitmap) {
  Bitmap = &bitmap;
  bool right = false;
  int choice = 0;
  double freeAngle = 0;
  RotateDialogStart(rememberedAngle, right, choice, freeAngle);
  (right ? RightButton : LeftButton)->setChecked(true);
  FreeAngleEdit->SetValue(choice == 3 ? freeAngle : 0);
  AngleButtons[choice]->setChecked(true);
  SetBackgroundColor(RotateStartColor(bitmap));
  const bool done = exec() == QDialog::Accepted;
  Bitmap = nullptr;
  return done;
}

void TRotateForm::ColorPanelClick() {
  const QColor start(int(Background & 0xFF), int((Background >> 8) & 0xFF), int((Background >> 16) & 0xFF));
  const QColor chosen = QColorDialog::getColor(start, this, "Background color");
  if (chosen.isValid())
    SetBackgroundColor(uint32_t(chosen.red()) | uint32_t(chosen.green()) << 8 | uint32_t(chosen.blue()) << 16);
}

void TRotateForm::OkButtonClick() {
  if (!Bitmap) return;
  const double angle = SignedAngle();
  try {
    TBusyCursor busy;
    rememberedAngle = RotateDegrees(*Bitmap, std::abs(angle), angle < 0, Background);
  } catch (const std::exception& error) {
    ShowError(this, error);
    return;
  }
  accept();
}

}  // namespace sq
