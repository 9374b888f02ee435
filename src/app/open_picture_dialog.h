// TOpenPictureDialog: the image open dialog with a preview of the selected file.  The
// preview is loaded by TImageLoader, a worker thread with its own bitmap, so a large
// or slow file never blocks the dialog; only the newest request is shown.
#pragma once

// Qt
#include <QFileDialog>
#include <QImage>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

// Local
#include <string>

class QCheckBox;
class QLabel;

namespace sq {

class TLinearBitmap;

// Registry filter text ("desc|*.a;*.b|desc2|*.c") as file dialog filters.
QStringList ToDialogFilters(const std::string& filter);
// The 1-based filter entry whose patterns hold "*." + extension (any case); 0 if none.
int FilterIndexForExtension(const std::string& filter, const QString& extension);
// A bitmap as a screen image (8-bit through its palette, 24-bit); null for others.
QImage ToQImage(const TLinearBitmap& bitmap);

class TImageLoader : public QThread {
  Q_OBJECT

 public:
  // areaSize: the preview area; larger images are scaled down to fit it.
  explicit TImageLoader(QSize areaSize, QObject* parent = nullptr);
  ~TImageLoader() override;

  // Asks for a preview of fileName; an empty name cancels.  Thread-safe.
  void Request(const QString& fileName);

 signals:
  // Delivered in the dialog's thread.  A null image means the load failed.
  void Loaded(const QString& fileName, const QImage& preview, int width, int height);

 protected:
  void run() override;

 private:
  QMutex mutex_;
  QWaitCondition wake_;
  QString requested_;
  bool pending_ = false;
  bool stop_ = false;
  QSize areaSize_;
};

class TOpenPictureDialog : public QFileDialog {
  Q_OBJECT

 public:
  TOpenPictureDialog(QWidget* parent, const QString& caption, const QString& directory, const QString& filter);
  ~TOpenPictureDialog() override;

  // The caption line: "W x H", "Preview not available" or empty.
  QString PreviewCaption() const;
  bool PreviewShown() const;
  // Shows the preview of a file (the dialog calls it for every new selection).
  void PreviewFile(const QString& fileName);

 private:
  void PreviewLoaded(const QString& fileName, const QImage& preview, int width, int height);

  TImageLoader* loader_ = nullptr;
  QLabel* image_ = nullptr;
  QLabel* caption_ = nullptr;
  QCheckBox* showPreview_ = nullptr;
  QString current_;
};

}  // namespace sq
