// The tool-bar icons and the zoom cursor, drawn in code so they stay sharp at any
// scale and need no image files.
#pragma once

// Qt
#include <QCursor>
#include <QIcon>

namespace sq {

enum class TToolIcon {
  OpenProject,
  SaveProject,
  OpenImage,
  Scan,
  Accommodate,
  PointMode,
  ZoomMode,
  ConnectPoints,
  Model3D
};

QIcon ToolIcon(TToolIcon icon);
// The magnifier of zoom mode (hot spot in the lens centre).
QCursor ZoomCursor();

}  // namespace sq
