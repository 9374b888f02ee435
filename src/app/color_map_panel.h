// The colour mapper's map panel: a 256 x 256 plot of a tone map (input level across,
// output level up) with its control points, over a grey ramp of the input levels.  It
// reports mouse presses and drags in levels; the form edits the map and redraws.
#pragma once

// Qt
#include <QWidget>

// Local
#include "imaging/ops/tone_map.h"

namespace sq {

class TColorMapPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TColorMapPanel(QWidget* parent = nullptr);

  // Not owned; they must outlive the panel or be replaced.
  void SetMap(const ToneMap* map, const TControlPoints* points, int picked);

  static constexpr int kRampHeight = 12;

  // The level under a panel position: x is the input level, 255 - y the output level,
  // both clamped to 0..255.
  static int InputLevel(int x);
  static int OutputLevel(int y);

 signals:
  void Pressed(int input, int output);
  void Dragged(int input, int output);
  void Released();
  void Hovered(int input);
  void DeletePressed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  const ToneMap* Map = nullptr;
  const TControlPoints* Points = nullptr;
  int Picked = -1;
  bool Dragging = false;
};

}  // namespace sq
