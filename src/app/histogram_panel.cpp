// Self
#include "app/histogram_panel.h"

// Qt
#include <QMouseEvent>
#include <QPainter>

// Local
#include <algorithm>

#include "imaging/ops/tone_map_mapper.h"

namespace sq {

THistogramPanel::THistogramPanel(QWidget* parent) : QWidget(parent) {
  setFixedSize(256, kBarsHeight + kRampHeight);
  setMouseTracking(true);
}

void THistogramPanel::SetHistogram(const LevelHistogram& histogram) {
  Counts = histogram;
  update();
}

void THistogramPanel::SetSquareRoot(bool squareRoot) {
  SquareRoot = squareRoot;
  update();
}

void THistogramPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(0, 0, 256, kBarsHeight, Qt::white);
  const uint32_t largest = *std::max_element(Counts.Counts.begin(), Counts.Counts.end());
  painter.setPen(Qt::black);
  for (int i = 0; i < 256; ++i) {
    const int bar = HistogramBarHeight(Counts.Counts[size_t(i)], largest, kBarsHeight, SquareRoot);
    if (bar > 0) painter.drawLine(i, kBarsHeight - 1, i, kBarsHeight - bar);
  }
  for (int i = 0; i < 256; ++i) {
    painter.setPen(QColor(i, i, i));
    painter.drawLine(i, kBarsHeight, i, kBarsHeight + kRampHeight - 1);
  }
}

void THistogramPanel::mouseMoveEvent(QMouseEvent* event) {
  emit Hovered(std::clamp(event->position().toPoint().x(), 0, 255));
}

}  // namespace sq
