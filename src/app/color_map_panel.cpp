// Self
#include "app/color_map_panel.h"

// Qt
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace sq {

TColorMapPanel::TColorMapPanel(QWidget* parent) : QWidget(parent) {
  setFixedSize(256, 256 + kRampHeight);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::CrossCursor);
}

void TColorMapPanel::SetMap(const ToneMap* map, const TControlPoints* points, int picked) {
  Map = map;
  Points = points;
  Picked = picked;
  update();
}

int TColorMapPanel::InputLevel(int x) { return std::clamp(x, 0, 255); }
int TColorMapPanel::OutputLevel(int y) { return 255 - std::clamp(y, 0, 255); }

void TColorMapPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(0, 0, 256, 256, Qt::white);
  painter.setPen(QColor(220, 220, 220));
  for (int i = 64; i < 256; i += 64) {
    painter.drawLine(i, 0, i, 255);
    painter.drawLine(0, 255 - i, 255, 255 - i);
  }
  painter.drawLine(0, 255, 255, 0);
  for (int i = 0; i < 256; ++i) {
    painter.setPen(QColor(i, i, i));
    painter.drawLine(i, 256, i, 256 + kRampHeight - 1);
  }
  if (!Map) return;
  painter.setPen(Qt::black);
  QPolygon curve(256);
  for (int i = 0; i < 256; ++i) curve.setPoint(i, i, 255 - (*Map)[size_t(i)]);
  painter.drawPolyline(curve);
  if (!Points) return;
  painter.setRenderHint(QPainter::Antialiasing);
  for (size_t i = 0; i < Points->size(); ++i) {
    const TControlPoint& point = (*Points)[i];
    painter.setPen(QPen(Qt::darkBlue, 1));
    painter.setBrush(int(i) == Picked ? QBrush(Qt::red) : QBrush(Qt::white));
    painter.drawRect(QRectF(point.X - 3, 255 - point.Y - 3, 6, 6));
  }
}

void TColorMapPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  Dragging = true;
  const QPoint p = event->position().toPoint();
  emit Pressed(InputLevel(p.x()), OutputLevel(p.y()));
}

void TColorMapPanel::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit Hovered(InputLevel(p.x()));
  if (Dragging && (event->buttons() & Qt::LeftButton)) emit Dragged(InputLevel(p.x()), OutputLevel(p.y()));
}

void TColorMapPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !Dragging) return;
  Dragging = false;
  emit Released();
}

void TColorMapPanel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete)
    emit DeletePressed();
  else
    QWidget::keyPressEvent(event);
}

}  // namespace sq
