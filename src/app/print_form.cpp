// Self
#include "app/print_form.h"

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QColorSpace>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

// Local
#include "app/error_box.h"
#include "app/integer_edit.h"
#include "app/main_form.h"
#include "app/open_picture_dialog.h"
#include "base/exception.h"
#include "base/format.h"
#include "base/rounding.h"
#include "imaging/ops/resample.h"

namespace sq {

namespace {

constexpr int kPageMargin = 8;

}  // namespace

TPrintForm::TPrintForm(QWidget* parent)
    : QDialog(parent), PrinterDevice(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  setWindowTitle("Print");
  setSizeGripEnabled(true);

  PrintButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "Print", this);
  PrintButton->setToolTip("Print");
  PrinterSetupButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogDetailedView), "Setup", this);
  PrinterSetupButton->setToolTip("Printer setup");
  CloseButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Abort", this);
  CloseButton->setToolTip("Abort");

  SizeEdit = new TIntegerEdit(this);
  SizeEdit->SetMin(1);
  SizeEdit->SetMax(100000);
  SizeEdit->SetValue(100);
  SizeEdit->setMaximumWidth(80);
  auto* sizeLabel = new QLabel("Size:", this);
  sizeLabel->setBuddy(SizeEdit);
  FitButton = new QPushButton("Fit", this);
  FitButton->setToolTip("Fit to page");
  CenterCheckBox = new QCheckBox("Center image", this);
  CenterCheckBox->setChecked(true);
  HighQualityResizeCheckBox = new QCheckBox("High quality resize", this);
  CheckBoxColorMatching = new QCheckBox("Use color profile", this);

  PreviewArea = new QWidget(this);
  PreviewArea->setMinimumSize(240, 300);
  PreviewArea->installEventFilter(this);
  PagePanel = new QFrame(PreviewArea);
  PagePanel->setFrameStyle(QFrame::Box | QFrame::Plain);
  PagePanel->setAutoFillBackground(true);
  PagePanel->setPalette(QPalette(Qt::white));
  PagePanel->setToolTip("Drag to scale image");
  PagePanel->setCursor(Qt::SizeFDiagCursor);
  PagePanel->installEventFilter(this);
  ImageShape = new QFrame(PagePanel);
  ImageShape->setAutoFillBackground(true);
  QPalette navy;
  navy.setColor(QPalette::Window, QColor(0, 0, 128));
  navy.setColor(QPalette::WindowText, Qt::white);
  ImageShape->setPalette(navy);
  ImageShape->setCursor(Qt::PointingHandCursor);
  ImageShape->setToolTip("Drag to move image");
  ImageShape->installEventFilter(this);
  // Over the rectangle, or beside it while the rectangle is too small to hold it.
  SizeLabel = new QLabel(PagePanel);
  SizeLabel->setAlignment(Qt::AlignCenter);
  SizeLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(PrintButton);
  buttons->addWidget(PrinterSetupButton);
  buttons->addWidget(CloseButton);
  buttons->addStretch();
  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(sizeLabel);
  sizeRow->addWidget(SizeEdit);
  sizeRow->addWidget(new QLabel("%", this));
  sizeRow->addWidget(FitButton);
  sizeRow->addStretch();
  auto* options = new QHBoxLayout;
  options->addWidget(CenterCheckBox);
  options->addWidget(HighQualityResizeCheckBox);
  options->addWidget(CheckBoxColorMatching);
  options->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addLayout(sizeRow);
  layout->addLayout(options);
  layout->addWidget(PreviewArea, 1);
  resize(460, 600);

  connect(SizeEdit, &TIntegerEdit::Changed, this, &TPrintForm::SizeEditChange);
  connect(FitButton, &QPushButton::clicked, this, &TPrintForm::FitButtonClick);
  connect(CenterCheckBox, &QCheckBox::toggled, this, [this](bool on) {
    if (on) CenterImage();
  });
  connect(PrintButton, &QPushButton::clicked, this, &TPrintForm::PrintButtonClick);
  connect(PrinterSetupButton, &QPushButton::clicked, this, &TPrintForm::PrinterSetupButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
}

TPrintForm::~TPrintForm() = default;

bool TPrintForm::Execute(const TLinearBitmap& image) {
  if (!image.Present || image.Width < 1 || image.Height < 1) return false;
  Prepare(image);
  const bool printed = exec() == QDialog::Accepted;
  Image = nullptr;
  return printed;
}

void TPrintForm::Prepare(const TLinearBitmap& image) {
  Image = &image;
  ReadPrinter();
  ImageW = image.Width;
  ImageH = image.Height;
  ImageX = (PageWidth - ImageW) / 2;
  ImageY = (PageHeight - ImageH) / 2;
  SizeLabel->clear();
  SizeEdit->SetValue(100);
  SizeEditChange();
}

void TPrintForm::ReadPrinter() {
  const QRect page = PrinterDevice->pageRect(QPrinter::DevicePixel).toRect();
  PageWidth = std::max(page.width(), 1);
  PageHeight = std::max(page.height(), 1);
  DpiX = PrinterDevice->logicalDpiX();
  DpiY = PrinterDevice->logicalDpiY();
}

void TPrintForm::LayoutPage() {
  if (PageWidth < 1 || PageHeight < 1) return;
  const double ratio = double(PageWidth) / PageHeight;
  int w = PreviewArea->width() - 2 * kPageMargin;
  const int h = PreviewArea->height() - 2 * kPageMargin;
  if (h < w / ratio) w = RoundInt(h * ratio);
  w = std::max(w, 1);
  const int panelW = w, panelH = std::max(RoundInt(w / ratio), 1);
  PagePanel->setGeometry(kPageMargin, kPageMargin, panelW, panelH);
  ImageShape->setGeometry(int(int64_t(panelW) * ImageX / PageWidth), int(int64_t(panelH) * ImageY / PageHeight),
                          int(int64_t(panelW) * ImageW / PageWidth), int(int64_t(panelH) * ImageH / PageHeight));
  PlaceSizeLabel();
}

void TPrintForm::PlaceSizeLabel() {
  const QSize text = SizeLabel->sizeHint();
  const QRect shape = ImageShape->geometry();
  QPalette palette = SizeLabel->palette();
  QRect place(QPoint(0, 0), text);
  if (shape.width() >= text.width() && shape.height() >= text.height()) {
    palette.setColor(QPalette::WindowText, Qt::white);
    place.moveCenter(shape.center());
  } else {
    palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    place.moveCenter(shape.center());
    place.moveTop(shape.bottom() + 2);
    if (place.bottom() >= PagePanel->height()) place.moveBottom(shape.top() - 2);
  }
  SizeLabel->setPalette(palette);
  SizeLabel->setGeometry(place);
  SizeLabel->raise();
}

void TPrintForm::SizeEditChange() {
  if (!Image) return;
  const int64_t size = SizeEdit->Value();
  ImageW = int(std::min<int64_t>(size * Image->Width / 100, INT32_MAX));
  ImageH = int(std::min<int64_t>(size * Image->Height / 100, INT32_MAX));
  if (DpiX > 0 && DpiY > 0)
    SizeLabel->setText(QString::fromStdString(Format("%.1f cm x %.1f cm", 2.54 * ImageW / DpiX, 2.54 * ImageH / DpiY)));
  if (CenterCheckBox->isChecked()) {
    ImageX = (PageWidth - ImageW) / 2;
    ImageY = (PageHeight - ImageH) / 2;
  }
  LayoutPage();
}

void TPrintForm::CenterImage() {
  ImageX = (PageWidth - ImageW) / 2;
  ImageY = (PageHeight - ImageH) / 2;
  LayoutPage();
}

void TPrintForm::FitButtonClick() {
  if (!Image) return;
  CenterCheckBox->setChecked(true);
  const double fit = std::min(double(PageWidth) / Image->Width, double(PageHeight) / Image->Height);
  SizeEdit->SetValue(int(std::clamp(Trunc(100 * fit), int64_t(1), int64_t(100000))));
  SizeEditChange();
}

bool TPrintForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PreviewArea && event->type() == QEvent::Resize) {
    LayoutPage();
    return false;
  }
  if (watched != ImageShape && watched != PagePanel) return false;
  auto* mouse = dynamic_cast<QMouseEvent*>(event);
  if (!mouse) return false;
  const QPoint global = mouse->globalPosition().toPoint();
  if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
    DragAnchor = global;
    ShapeAtPress = ImageShape->pos();
    SizeAtPress = SizeEdit->Value();
    return true;
  }
  if (event->type() == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton)) {
    const QPoint delta = global - DragAnchor;
    if (watched == ImageShape) {
      // Moving the image: the page position follows the rectangle.
      const QPoint shape = ShapeAtPress + delta;
      ImageShape->move(shape);
      PlaceSizeLabel();
      ImageX = int(int64_t(PageWidth) * shape.x() / std::max(PagePanel->width(), 1));
      ImageY = int(int64_t(PageHeight) * shape.y() / std::max(PagePanel->height(), 1));
      CenterCheckBox->blockSignals(true);
      CenterCheckBox->setChecked(false);
      CenterCheckBox->blockSignals(false);
    } else {
      // Scaling: one percent per pixel of the drag, across and down.
      SizeEdit->SetValue(std::clamp(SizeAtPress + delta.x() + delta.y(), 1, 100000));
      SizeEditChange();
    }
    return true;
  }
  return false;
}

void TPrintForm::PrinterSetupButtonClick() {
  QPageSetupDialog dialog(PrinterDevice.get(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  ReadPrinter();
  SizeEditChange();
}

void TPrintForm::PrintButtonClick() {
  if (!Image) return;
  QPrintDialog dialog(PrinterDevice.get(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  // The platform dialog may have changed the printer, its page or its resolution.
  const int oldWidth = PageWidth, oldHeight = PageHeight;
  ReadPrinter();
  if (oldWidth != PageWidth || oldHeight != PageHeight) SizeEditChange();
  try {
    PrintNow();
  } catch (const std::exception& error) {
    ShowError(this, error);
    return;
  }
  accept();
}

void TPrintForm::PrintNow() {
  if (!Image) return;
  struct TRestore {
    TPrintForm* Form;
    ~TRestore() { Form->setWindowTitle("Print"); }
  } restore{this};
  TBusyCursor busy;
  setWindowTitle("Preparing image...");
  repaint();

  QImage picture;
  if (HighQualityResizeCheckBox->isChecked()) {
    TLinearBitmap source(*Image);
    if (source.PixelFormat == pf8bit && !source.IsGrayScale()) source.SetPixelFormat(pf24bit);
    TLinearBitmap resized;
    SmartResize(source, resized, ImageW, ImageH);
    picture = ToQImage(resized);
  } else {
    picture = ToQImage(*Image);
  }
  if (picture.isNull()) return;
  // Tagged, the picture is converted from sRGB to the printer's colour space where
  // the print path manages colour; untagged, its values go to the printer as they are.
  if (CheckBoxColorMatching->isChecked()) picture.setColorSpace(QColorSpace::SRgb);

  setWindowTitle("Printing image...");
  repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  PrinterDevice->setDocName(QApplication::applicationName() + " Picture");
  QPainter painter;
  if (!painter.begin(PrinterDevice.get())) throw Exception("The printer could not start the print job");
  painter.drawImage(QRect(ImageX, ImageY, ImageW, ImageH), picture);
  if (!painter.end()) {
    PrinterDevice->abort();
    throw Exception("The printer could not finish the print job");
  }
}

bool PrintImage(const TLinearBitmap& image, QWidget* parent) {
  if (!image.Present) return false;
  TPrintForm form(parent);
  return form.Execute(image);
}

}  // namespace sq
