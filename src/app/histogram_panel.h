// The colour mapper's histogram panel: one black bar per level on white, linear or by
// square root, over a grey ramp of the levels.
#pragma once

// Qt
#include <QWidget>

// Local
#include "imaging/histogram.h"

namespace sq {

class THistogramPanel : public QWidget {
  Q_OBJECT

 public:
  explicit THistogramPanel(QWidget* parent = nullptr);

  void SetHistogram(const LevelHistogram& histogram);
  const LevelHistogram& Histogram() const { return Counts; }
  void SetSquareRoot(bool squareRoot);

  static constexpr int kBarsHeight = 128;
  static constexpr int kRampHeight = 12;

 signals:
  void Hovered(int level);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  LevelHistogram Counts;
  bool SquareRoot = false;
};

}  // namespace sq
