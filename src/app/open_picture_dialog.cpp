// Self
#include "app/open_picture_dialog.h"

// Qt
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMutexLocker>
#include <QVBoxLayout>

// Local
#include <cmath>

#include "app/main_form.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"
#include "imaging/ops/resample.h"
#include "platform/program_setup.h"

namespace sq {

QStringList ToDialogFilters(const std::string& filter) {
  QStringList result;
  for (const std::string& entry : SplitFilterEntries(filter)) {
    const size_t bar = entry.find('|');
    const QString description = QString::fromLocal8Bit(entry.substr(0, bar));
    QString patterns = bar == std::string::npos ? QString("*") : QString::fromLocal8Bit(entry.substr(bar + 1));
    patterns.replace(';', ' ');
    // Descriptions often carry their patterns already: "Portable Network Graphics (*.png)".
    const int open = description.lastIndexOf(" (");
    const QString name = open > 0 && description.endsWith(')') ? description.left(open) : description;
    result << QString("%1 (%2)").arg(name, patterns);
  }
  return result;
}

int FilterIndexForExtension(const std::string& filter, const QString& extension) {
  if (extension.isEmpty()) return 0;
  const QString upper = QString::fromLocal8Bit(filter).toUpper();
  const int at = upper.indexOf("*." + extension.toUpper());
  if (at < 0) return 0;
  return static_cast<int>(upper.left(at).count('|')) / 2 + 1;
}

QImage ToQImage(const TLinearBitmap& bitmap) {
  if (!bitmap.Present || (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf24bit)) return {};
  QImage image(bitmap.Width, bitmap.Height, QImage::Format_RGB32);
  for (int y = 0; y < bitmap.Height; ++y) {
    const uint8_t* source = bitmap.ScanLine(y);
    auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width; ++x) {
      const uint8_t* p = bitmap.PixelFormat == pf24bit ? source + 3 * x : bitmap.Palette + 3 * source[x];
      target[x] = qRgb(p[2], p[1], p[0]);
    }
  }
  return image;
}

// --- TImageLoader ---

TImageLoader::TImageLoader(QSize areaSize, QObject* parent) : QThread(parent), areaSize_(areaSize) {}

TImageLoader::~TImageLoader() {
  {
    QMutexLocker lock(&mutex_);
    stop_ = true;
    wake_.wakeAll();
  }
  wait();
}

void TImageLoader::Request(const QString& fileName) {
  QMutexLocker lock(&mutex_);
  requested_ = fileName;
  pending_ = true;
  wake_.wakeAll();
}

void TImageLoader::run() {
  for (;;) {
    QString fileName;
    {
      QMutexLocker lock(&mutex_);
      while (!pending_ && !stop_) wake_.wait(&mutex_);
      if (stop_) return;
      fileName = requested_;
      pending_ = false;
    }
    if (fileName.isEmpty()) continue;
    TLinearBitmap bitmap;
    int width = 0, height = 0;
    QImage preview;
    try {
      bitmap.LoadFromFile(NativeName(fileName));
      if (bitmap.PixelFormat == pf16bit) bitmap.SetPixelFormat(pf8bit);
      if (bitmap.PixelFormat == pf32bit) bitmap.SetPixelFormat(pf24bit);
      width = bitmap.Width;
      height = bitmap.Height;
      if (width > areaSize_.width() || height > areaSize_.height()) {
        const double f = std::min(double(areaSize_.height()) / height, double(areaSize_.width()) / width);
        Resize(bitmap, std::max(1, int(std::nearbyint(width * f))), std::max(1, int(std::nearbyint(height * f))));
      }
      preview = ToQImage(bitmap);
    } catch (const std::exception&) {
      preview = QImage();
    }
    {
      // A newer request makes this result stale.
      QMutexLocker lock(&mutex_);
      if (pending_ || stop_) continue;
    }
    emit Loaded(fileName, preview, width, height);
  }
}

// --- TOpenPictureDialog ---

namespace {
constexpr int kPreviewSize = 200;
}

TOpenPictureDialog::TOpenPictureDialog(QWidget* parent, const QString& caption, const QString& directory,
                                       const QString& filter)
    : QFileDialog(parent, caption, directory, filter) {
  // The preview needs the dialog's own widgets.
  setOption(QFileDialog::DontUseNativeDialog, true);
  auto* panel = new QWidget(this);
  auto* column = new QVBoxLayout(panel);
  image_ = new QLabel(panel);
  image_->setFixedSize(kPreviewSize, kPreviewSize);
  image_->setAlignment(Qt::AlignCenter);
  image_->setFrameShape(QFrame::StyledPanel);
  caption_ = new QLabel(panel);
  caption_->setAlignment(Qt::AlignCenter);
  showPreview_ = new QCheckBox("Show p&review", panel);
  showPreview_->setChecked(ProgramSetup().ReadBool("ShowPreview", true));
  column->addWidget(image_);
  column->addWidget(caption_);
  column->addWidget(showPreview_);
  column->addStretch();
  if (auto* grid = qobject_cast<QGridLayout*>(layout()))
    grid->addWidget(panel, 0, grid->columnCount(), grid->rowCount(), 1);

  loader_ = new TImageLoader(QSize(kPreviewSize - 4, kPreviewSize - 4), this);
  connect(loader_, &TImageLoader::Loaded, this, &TOpenPictureDialog::PreviewLoaded, Qt::QueuedConnection);
  loader_->start(QThread::LowPriority);
  connect(this, &QFileDialog::currentChanged, this, &TOpenPictureDialog::PreviewFile);
  connect(showPreview_, &QCheckBox::toggled, this, [this](bool on) {
    ProgramSetup().WriteBool("ShowPreview", on);
    image_->setVisible(on);
    caption_->setVisible(on);
    PreviewFile(on ? current_ : QString());
  });
  image_->setVisible(showPreview_->isChecked());
  caption_->setVisible(showPreview_->isChecked());
}

TOpenPictureDialog::~TOpenPictureDialog() = default;

QString TOpenPictureDialog::PreviewCaption() const { return caption_->text(); }
bool TOpenPictureDialog::PreviewShown() const { return image_->pixmap().isNull() == false; }

void TOpenPictureDialog::PreviewFile(const QString& fileName) {
  if (!fileName.isEmpty()) current_ = fileName;
  const bool file = !fileName.isEmpty() && QFileInfo(fileName).isFile();
  if (!file || !showPreview_->isChecked()) {
    loader_->Request({});
    image_->clear();
    caption_->clear();
    return;
  }
  caption_->setText("Loading...");
  loader_->Request(fileName);
}

void TOpenPictureDialog::PreviewLoaded(const QString& fileName, const QImage& preview, int width, int height) {
  if (fileName != current_) return;
  if (preview.isNull()) {
    caption_->setText("Preview not available");
    image_->clear();
    return;
  }
  caption_->setText(QString("%1 x %2").arg(width).arg(height));
  image_->setPixmap(QPixmap::fromImage(preview));
}

}  // namespace sq
