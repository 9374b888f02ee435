// Self
#include "app/accommodate_form.h"

// Qt
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

// Local
#include "app/dialog_buttons.h"
#include "base/format.h"

namespace sq {

namespace {

QString CropText(const TCropRect& crop, int width, int height) {
  if (crop.Left == 0 && crop.Top == 0 && crop.Width == width && crop.Height == height)
    return QString("%1 x %2, kept whole").arg(width).arg(height);
  return QString("%1 x %2, keeps x %3..%4, y %5..%6")
      .arg(width)
      .arg(height)
      .arg(crop.Left)
      .arg(crop.Left + crop.Width - 1)
      .arg(crop.Top)
      .arg(crop.Top + crop.Height - 1);
}

}  // namespace

TAccommodateForm::TAccommodateForm(const TAccommodation& accommodation, int pairCount, int width1, int height1,
                                   int width2, int height2, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle("Accommodate images");

  auto* intro =
      new QLabel(QString("Image 2 is moved so that its points come as close as possible to those of image 1 "
                         "(least squares over %1 point pair%2); both images are then cropped to the area they share.")
                     .arg(pairCount)
                     .arg(pairCount == 1 ? "" : "s"),
                 this);
  intro->setWordWrap(true);
  const int dx = accommodation.ShiftX, dy = accommodation.ShiftY;
  ShiftLabel = new QLabel(QString("%1 pixels %2, %3 pixels %4")
                              .arg(std::abs(dx))
                              .arg(dx < 0 ? "left" : "right")
                              .arg(std::abs(dy))
                              .arg(dy < 0 ? "up" : "down"),
                          this);
  ResidualLabel = new QLabel(
      QString::fromStdString(FormatFloat("0.##", accommodation.Residual) + " pixels (root mean square)"), this);
  Image1Label = new QLabel(CropText(accommodation.Crop1, width1, height1), this);
  Image2Label = new QLabel(CropText(accommodation.Crop2, width2, height2), this);
  ResultLabel =
      new QLabel(QString("%1 x %2 pixels each").arg(accommodation.Crop1.Width).arg(accommodation.Crop1.Height), this);

  auto* form = new QFormLayout;
  form->addRow("Shift of image 2:", ShiftLabel);
  form->addRow("Remaining distance:", ResidualLabel);
  form->addRow("Image 1:", Image1Label);
  form->addRow("Image 2:", Image2Label);
  form->addRow("Result:", ResultLabel);

  const TDialogButtonRow buttons = MakeDialogButtonRow(*this);
  OkButton = buttons.Ok;
  CancelButton = buttons.Cancel;

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(form);
  layout->addLayout(buttons.Row);
  setMinimumWidth(420);

  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace sq
