// The "Print" dialog (TPrintForm): a scaled picture of the printer page with the image
// as a rectangle to move and to scale, the size in percent, and the print itself.
#pragma once

// Qt
#include <QDialog>

// Local
#include <memory>

class QCheckBox;
class QFrame;
class QLabel;
class QPrinter;
class QPushButton;

namespace sq {

class TLinearBitmap;
class TIntegerEdit;

class TPrintForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPrintForm(QWidget* parent = nullptr);
  ~TPrintForm() override;

  // Shows the dialog for the image; true when it was printed.  Nothing for an image
  // without pixels.
  bool Execute(const TLinearBitmap& image);

  // Reads the printer's page and resolution and places the image at 100 %, centred:
  // what Execute does before showing the dialog.
  void Prepare(const TLinearBitmap& image);
  // Prints at once, without the platform dialog; raises on printer errors.
  void PrintNow();

  QPrinter& Printer() { return *PrinterDevice; }

  // The printed rectangle in printer dots.
  int ImageX = 0, ImageY = 0, ImageW = 0, ImageH = 0;
  int PageWidth = 0, PageHeight = 0;  // printable area in dots
  int DpiX = 0, DpiY = 0;

  QPushButton* PrintButton;
  QPushButton* PrinterSetupButton;
  QPushButton* CloseButton;
  TIntegerEdit* SizeEdit;
  QPushButton* FitButton;
  QCheckBox* CenterCheckBox;
  QCheckBox* HighQualityResizeCheckBox;
  QCheckBox* CheckBoxColorMatching;
  QWidget* PreviewArea;
  QFrame* PagePanel;
  QFrame* ImageShape;
  QLabel* SizeLabel;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ReadPrinter();
  void LayoutPage();
  void PlaceSizeLabel();
  void SizeEditChange();
  void CenterImage();
  void FitButtonClick();
  void PrintButtonClick();
  void PrinterSetupButtonClick();

  std::unique_ptr<QPrinter> PrinterDevice;
  const TLinearBitmap* Image = nullptr;
  QPoint DragAnchor;
  QPoint ShapeAtPress;
  int SizeAtPress = 100;
};

// Prints the image through a print dialog made for the call; true when printed.
bool PrintImage(const TLinearBitmap& image, QWidget* parent);

}  // namespace sq
