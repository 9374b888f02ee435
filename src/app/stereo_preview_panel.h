// One of the two 400 x 400 previews of the "Create 3D model" dialog: the image of
// the current stage, scaled to fit, with guide lines.  Before a dispersion map exists
// dotted horizontal lines let the user check that matching features share rows;
// once it exists, panel 1 shows twenty columns and panel 2 where the map moves them.
#pragma once

// Qt
#include <QImage>
#include <QWidget>

namespace sq {

class TFloatMap;
class TLinearBitmap;

class TStereoPreviewPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSize = 400;

  // panelNumber 1 draws the columns as straight lines, 2 as curves through the map.
  explicit TStereoPreviewPanel(int panelNumber, QWidget* parent = nullptr);

  // The image shown (not owned; null shows nothing).  Call again after the image's
  // pixels change.
  void SetImage(const TLinearBitmap* image);
  // The dispersion map whose guide lines are drawn (not owned); null for none.
  void SetMap(const TFloatMap* map) { map_ = map; }

  QSize sizeHint() const override { return {kSize, kSize}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void DrawMapGuides(class QPainter& painter, double scale) const;
  void DrawRowGuides(class QPainter& painter) const;

  int panelNumber_;
  const TLinearBitmap* image_ = nullptr;
  const TFloatMap* map_ = nullptr;
  QImage picture_;  // the image, converted once for drawing
};

}  // namespace sq
