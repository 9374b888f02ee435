// Self
#include "app/stereo_preview_panel.h"

#include <cmath>

// Qt
#include <QPainter>
#include <QPolygon>

// Local
#include "app/open_picture_dialog.h"
#include "imaging/float_map.h"
#include "imaging/linear_bitmap.h"

namespace sq {

namespace {

int RoundToInt(double value) { return static_cast<int>(std::nearbyint(value)); }

QImage PictureOf(const TLinearBitmap& image) {
  if (!image.Present || image.PixelFormat == pf8bit || image.PixelFormat == pf24bit) return ToQImage(image);
  TLinearBitmap converted(image);
  converted.SetPixelFormat(pf24bit);
  return ToQImage(converted);
}

}  // namespace

TStereoPreviewPanel::TStereoPreviewPanel(int panelNumber, QWidget* parent)
    : QWidget(parent), panelNumber_(panelNumber) {
  setFixedSize(kSize, kSize);
}

void TStereoPreviewPanel::SetImage(const TLinearBitmap* image) {
  image_ = image;
  picture_ = image ? PictureOf(*image) : QImage();
}

void TStereoPreviewPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor background = palette().color(QPalette::Window);
  if (picture_.isNull()) {
    painter.fillRect(rect(), background);
    return;
  }
  const int w = picture_.width(), h = picture_.height();
  const double scale = std::min(double(width()) / w, double(height()) / h);
  const int right = RoundToInt(w * scale), bottom = RoundToInt(h * scale);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1);
  painter.drawImage(QRect(0, 0, right, bottom), picture_);
  if (map_)
    DrawMapGuides(painter, scale);
  else
    DrawRowGuides(painter);
  // Beside and below the image; this also takes the guides outside it away.
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.fillRect(QRect(right, 0, width() - right, height()), background);
  painter.fillRect(QRect(0, bottom, right, height() - bottom), background);
}

void TStereoPreviewPanel::DrawMapGuides(QPainter& painter, double scale) const {
  const int w = picture_.width(), h = picture_.height();
  for (int k = 1; k <= 20; ++k) {
    painter.setPen(QPen(k % 4 == 0 ? Qt::red : Qt::blue, 0, Qt::SolidLine));
    const int x = RoundToInt(k / 21.0 * w - 1);
    if (panelNumber_ == 1) {
      const int column = RoundToInt(x * scale);
      painter.drawLine(column, 0, column, height() - 1);
      continue;
    }
    // Column x of image 1 as it lies in image 2, row by row.  Rows without a match
    // (no image data there) break the curve.
    QPolygon curve;
    const int rows = std::min(h, map_->Height);
    for (int y = 0; y < rows && x >= 0 && x < map_->Width; ++y) {
      const double d = *map_->PixelAddress(x, y);
      if (!std::isfinite(d) || std::abs(d) > 1e6) {
        if (curve.size() > 1) painter.drawPolyline(curve);
        curve.clear();
        continue;
      }
      curve << QPoint(RoundToInt((d + x) * scale), RoundToInt(y * scale));
    }
    if (curve.size() > 1) painter.drawPolyline(curve);
  }
}

void TStereoPreviewPanel::DrawRowGuides(QPainter& painter) const {
  // Dotted, and ANDed with the picture so they show on light and dark parts alike.
  painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
  for (int k = 1; k <= 15; ++k) {
    painter.setPen(QPen(k % 4 == 0 ? Qt::red : Qt::black, 0, Qt::DotLine));
    painter.drawLine(0, 25 * k, width() - 1, 25 * k);
  }
}

}  // namespace sq
