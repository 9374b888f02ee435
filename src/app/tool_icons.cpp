// Self
#include "app/tool_icons.h"

// Qt
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace sq {

namespace {

constexpr int kSize = 48;  // drawn at twice the tool-bar size, scaled down smoothly

const QColor kInk(40, 44, 52);
const QColor kPaper(250, 250, 246);
const QColor kAccent(28, 110, 200);
const QColor kWarm(222, 120, 40);
const QColor kGreen(60, 150, 80);

void Outline(QPainter& p, qreal width = 3) { p.setPen(QPen(kInk, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)); }

void Picture(QPainter& p, QRectF r) {
  Outline(p);
  p.setBrush(QColor(214, 232, 250));
  p.drawRoundedRect(r, 3, 3);
  QPainterPath hills;
  hills.moveTo(r.left() + 2, r.bottom() - 2);
  hills.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.45);
  hills.lineTo(r.left() + r.width() * 0.6, r.top() + r.height() * 0.7);
  hills.lineTo(r.left() + r.width() * 0.75, r.top() + r.height() * 0.55);
  hills.lineTo(r.right() - 2, r.bottom() - 2);
  hills.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  p.drawPath(hills);
  p.setBrush(kWarm);
  p.drawEllipse(QPointF(r.right() - r.width() * 0.25, r.top() + r.height() * 0.28), r.width() * 0.1, r.width() * 0.1);
}

void Folder(QPainter& p) {
  Outline(p);
  p.setBrush(QColor(246, 200, 90));
  QPainterPath path;
  path.moveTo(4, 40);
  path.lineTo(4, 10);
  path.lineTo(17, 10);
  path.lineTo(21, 15);
  path.lineTo(42, 15);
  path.lineTo(42, 40);
  path.closeSubpath();
  p.drawPath(path);
}

void Cross(QPainter& p, QPointF c, const QColor& color) {
  p.setPen(QPen(color, 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(c + QPointF(-7, -7), c + QPointF(7, 7));
  p.drawLine(c + QPointF(-7, 7), c + QPointF(7, -7));
  p.setPen(QPen(Qt::white, 1.5));
  p.drawLine(c + QPointF(-5, -5), c + QPointF(5, 5));
  p.drawLine(c + QPointF(-5, 5), c + QPointF(5, -5));
}

void Magnifier(QPainter& p, QPointF c, qreal radius) {
  p.setPen(QPen(kInk, 6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(c + QPointF(radius * 0.7, radius * 0.7), c + QPointF(radius * 1.8, radius * 1.8));
  Outline(p, 3.5);
  p.setBrush(QColor(225, 240, 255, 220));
  p.drawEllipse(c, radius, radius);
}

void Draw(QPainter& p, TToolIcon icon) {
  switch (icon) {
    case TToolIcon::OpenProject: {
      Folder(p);
      // Two linked points: a project of point pairs.
      Cross(p, QPointF(16, 28), QColor(200, 30, 30));
      Cross(p, QPointF(32, 28), kAccent);
      break;
    }
    case TToolIcon::SaveProject: {
      Outline(p);
      p.setBrush(kAccent);
      p.drawRoundedRect(QRectF(6, 6, 36, 36), 4, 4);
      p.setBrush(kPaper);
      p.drawRect(QRectF(13, 6, 22, 14));
      p.setBrush(QColor(200, 210, 225));
      p.drawRect(QRectF(12, 27, 24, 15));
      p.setPen(QPen(kInk, 2.5));
      p.drawLine(QPointF(29, 9), QPointF(29, 17));
      break;
    }
    case TToolIcon::OpenImage: {
      Picture(p, QRectF(4, 8, 40, 32));
      break;
    }
    case TToolIcon::Scan: {
      Outline(p);
      p.setBrush(QColor(190, 196, 206));
      p.drawRoundedRect(QRectF(4, 22, 40, 18), 4, 4);
      p.setBrush(kPaper);
      p.drawRect(QRectF(12, 6, 24, 18));
      p.setPen(QPen(QColor(60, 220, 120), 3));
      p.drawLine(QPointF(8, 30), QPointF(40, 30));
      break;
    }
    case TToolIcon::Accommodate: {
      p.setOpacity(0.9);
      Picture(p, QRectF(3, 3, 28, 22));
      Picture(p, QRectF(17, 23, 28, 22));
      p.setOpacity(1);
      p.setPen(QPen(kWarm, 4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(12, 34), QPointF(12, 42));
      p.drawLine(QPointF(36, 6), QPointF(36, 14));
      break;
    }
    case TToolIcon::PointMode: {
      Cross(p, QPointF(18, 18), QColor(200, 30, 30));
      // A pointer arrow moving the point.
      QPainterPath arrow;
      arrow.moveTo(24, 22);
      arrow.lineTo(42, 34);
      arrow.lineTo(33, 35);
      arrow.lineTo(38, 45);
      arrow.lineTo(34, 46);
      arrow.lineTo(29, 37);
      arrow.lineTo(24, 42);
      arrow.closeSubpath();
      Outline(p, 2.5);
      p.setBrush(Qt::white);
      p.drawPath(arrow);
      break;
    }
    case TToolIcon::ZoomMode: {
      Magnifier(p, QPointF(19, 19), 13);
      p.setPen(QPen(kInk, 3.5, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(13, 19), QPointF(25, 19));
      p.drawLine(QPointF(19, 13), QPointF(19, 25));
      break;
    }
    case TToolIcon::ConnectPoints: {
      const QPointF a(8, 38), b(24, 8), c(40, 34), d(26, 26);
      p.setPen(QPen(kAccent, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(QColor(28, 110, 200, 50));
      const QPointF t1[3] = {a, b, d}, t2[3] = {b, c, d}, t3[3] = {a, d, c};
      p.drawPolygon(t1, 3);
      p.drawPolygon(t2, 3);
      p.drawPolygon(t3, 3);
      for (QPointF q : {a, b, c, d}) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 30, 30));
        p.drawEllipse(q, 4, 4);
      }
      break;
    }
    case TToolIcon::Model3D: {
      // A cube in three shades.
      const QPointF top[4] = {{24, 4}, {43, 14}, {24, 24}, {5, 14}};
      const QPointF left[4] = {{5, 14}, {24, 24}, {24, 45}, {5, 34}};
      const QPointF right[4] = {{24, 24}, {43, 14}, {43, 34}, {24, 45}};
      Outline(p, 2.5);
      p.setBrush(QColor(120, 190, 250));
      p.drawPolygon(top, 4);
      p.setBrush(kAccent);
      p.drawPolygon(left, 4);
      p.setBrush(QColor(18, 70, 140));
      p.drawPolygon(right, 4);
      break;
    }
  }
}

}  // namespace

QIcon ToolIcon(TToolIcon icon) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    Draw(painter, icon);
  }
  QIcon result;
  result.addPixmap(pixmap);
  result.addPixmap(pixmap.scaled(24, 24, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  return result;
}

QCursor ZoomCursor() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  {
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 18), QPointF(29, 29));
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawEllipse(QPointF(11, 11), 9.5, 9.5);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(11, 11), 8, 8);
    p.drawLine(QPointF(7, 11), QPointF(15, 11));
    p.drawLine(QPointF(11, 7), QPointF(11, 15));
  }
  return QCursor(pixmap, 11, 11);
}

}  // namespace sq
