// The 3D viewer's display: a 32-bit picture the size of the panel, which the
// renderer draws into directly and the panel shows as it is.
#pragma once

// Qt
#include <QImage>
#include <QWidget>

// Local
#include "model3d/frame32.h"

namespace sq {

class TModelRenderPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TModelRenderPanel(QWidget* parent = nullptr);

  // The picture as the renderer's frame; valid until the next resize.
  Frame32 Frame();
  const QImage& Picture() const { return picture_; }

 signals:
  // The picture has the new size and must be drawn again.
  void Resized();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace sq
