// Self
#include "app/model_render_panel.h"

// Qt
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

namespace sq {

TModelRenderPanel::TModelRenderPanel(QWidget* parent) : QWidget(parent), picture_(1, 1, QImage::Format_RGB32) {
  picture_.fill(Qt::black);
  // The picture covers the whole panel: nothing to erase, no flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(false);
  setFocusPolicy(Qt::NoFocus);
}

Frame32 TModelRenderPanel::Frame() {
  Frame32 frame;
  frame.Width = picture_.width();
  frame.Height = picture_.height();
  frame.BytesPerLine = static_cast<int>(picture_.bytesPerLine());
  frame.Bits = picture_.bits();
  return frame;
}

void TModelRenderPanel::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  // The renderer leaves the fourth byte 0; the raster engine treats RGB32 as opaque,
  // so the picture is copied without blending.
  painter.drawImage(event->rect(), picture_, event->rect());
}

void TModelRenderPanel::resizeEvent(QResizeEvent* event) {
  const QSize size = event->size();
  picture_ = QImage(std::max(1, size.width()), std::max(1, size.height()), QImage::Format_RGB32);
  picture_.fill(Qt::black);
  emit Resized();
}

}  // namespace sq
