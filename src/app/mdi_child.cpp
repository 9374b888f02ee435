// Self
#include "app/mdi_child.h"

// Qt
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

// Local
#include <cstring>

#include "app/main_form.h"
#include "app/open_picture_dialog.h"
#include "app/tool_icons.h"
#include "base/exception.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/view_render.h"

namespace sq {

namespace {

int openCount = 0;

constexpr int kHorizontalIncrement = 10;
constexpr int kVerticalIncrement = 8;

QColor MarkerColor(int index) {
  switch (index % 4) {
    case 0:
      return QColor(255, 0, 0);
    case 1:
      return QColor(128, 0, 128);
    case 2:
      return QColor(0, 0, 255);
    default:
      return QColor(128, 128, 0);
  }
}

}  // namespace

QRect MarkerRect(QPoint p) { return QRect(p.x() - 5, p.y() - 5, 11, 11); }

void DrawMarker(QPainter& painter, QPoint p, int index, bool selected) {
  const int sx = p.x(), sy = p.y();
  const QColor color = MarkerColor(index);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  if (selected) {
    // A 2-pixel outline around a white centre, 7 x 7 in all.
    painter.fillRect(QRect(sx - 3, sy - 3, 7, 7), color);
    painter.fillRect(QRect(sx - 1, sy - 1, 3, 3), Qt::white);
  } else {
    painter.setPen(QPen(color, 2));
    painter.drawLine(sx - 3, sy - 3, sx + 3, sy + 3);
    painter.drawLine(sx - 3, sy + 3, sx + 3, sy - 3);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(sx - 2, sy - 2, sx + 2, sy + 2);
    painter.drawLine(sx - 2, sy + 2, sx + 2, sy - 2);
  }
  painter.restore();
}

// --- TImageView ---

TImageView::TImageView(TMDIChild* owner) : owner_(owner) {
  setFrameShape(QFrame::NoFrame);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  horizontalScrollBar()->setSingleStep(kHorizontalIncrement);
  verticalScrollBar()->setSingleStep(kVerticalIncrement);
}

void TImageView::paintEvent(QPaintEvent* event) { owner_->ViewPaint(event); }
void TImageView::resizeEvent(QResizeEvent*) { owner_->ViewResize(); }
void TImageView::mousePressEvent(QMouseEvent* event) { owner_->ViewMousePress(event); }
void TImageView::mouseMoveEvent(QMouseEvent* event) { owner_->ViewMouseMove(event); }
void TImageView::mouseReleaseEvent(QMouseEvent* event) { owner_->ViewMouseRelease(event); }
void TImageView::wheelEvent(QWheelEvent* event) { owner_->ViewWheel(event); }
void TImageView::keyPressEvent(QKeyEvent* event) {
  if (!owner_->ViewKey(event)) QAbstractScrollArea::keyPressEvent(event);
}
void TImageView::scrollContentsBy(int dx, int dy) {
  if (owner_->Busy_) {
    viewport()->update();
    return;
  }
  viewport()->scroll(dx, dy);
}

// --- TMDIChild ---

TMDIChild::TMDIChild(TMainForm* mainForm, const QString& fileName, int width, int height, TPixelFormat format)
    : QMdiSubWindow(nullptr), FileName(fileName), MainForm_(mainForm), View_(new TImageView(this)) {
  ++openCount;
  setAttribute(Qt::WA_DeleteOnClose);
  setWidget(View_);
  setWindowIcon(ToolIcon(TToolIcon::OpenImage));
  View_->viewport()->setCursor(mainForm->ModeCursor());
  if (width > 0 && height > 0) {
    Bitmap_.New(width, height, format);
    Bitmap_.Clear(255);
    if (format == pf8bit && Bitmap_.Palette) std::memcpy(Bitmap_.Palette, GrayPalette(), 768);
    DerivePixelKind();
  }
  BackBuffer = QImage(1, 1, QImage::Format_RGB32);
  // Magnified views scroll by whole image pixels.
  for (QScrollBar* bar : {View_->horizontalScrollBar(), View_->verticalScrollBar()}) {
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
      if (Zoom_ > 1 && value % Zoom_ != 0) bar->setValue(value - value % Zoom_);
    });
  }
  UpdateCaption();
}

TMDIChild::~TMDIChild() { --openCount; }

int TMDIChild::OpenCount() { return openCount; }

QString TMDIChild::PixelKindText() const {
  if (!Bitmap_.Present) return {};
  switch (PixelKind_) {
    case 0:
      return "Gray";
    case 1:
      return "256 colors";
    case 2:
      return "24 bit";
    default:
      return {};
  }
}

void TMDIChild::DerivePixelKind() {
  if (Bitmap_.PixelFormat == pf24bit)
    PixelKind_ = 2;
  else if (Bitmap_.PixelFormat == pf8bit)
    PixelKind_ = Bitmap_.IsGrayScale() ? 0 : 1;
  else
    PixelKind_ = 3;
}

void TMDIChild::ReadImageFile(const QString& fileName, TLinearBitmap& bitmap, QString* warning) {
  Q_UNUSED(warning);
  TBusyCursor busy;
  bitmap.LoadFromFile(NativeName(fileName));
  if (bitmap.PixelFormat == pf16bit) bitmap.SetPixelFormat(pf8bit);
}

bool TMDIChild::SetLoadedImage(TLinearBitmap& bitmap) {
  if (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf24bit) return false;
  Bitmap_.TakeOver(bitmap);
  HasFile = true;
  Modified = 0;
  ImageChanged();
  FitWindow();
  return true;
}

bool TMDIChild::LoadImage(QString* warning) {
  TLinearBitmap loaded;
  ReadImageFile(FileName, loaded, warning);
  return SetLoadedImage(loaded);
}

bool TMDIChild::TakeImage(TLinearBitmap& image) {
  if (image.PixelFormat == pf16bit) image.SetPixelFormat(pf8bit);
  if (image.PixelFormat == pf32bit) image.SetPixelFormat(pf24bit);
  if (!image.Present || (image.PixelFormat != pf8bit && image.PixelFormat != pf24bit)) return false;
  Bitmap_.TakeOver(image);
  ImageChanged();
  FitWindow();
  return true;
}

bool TMDIChild::WriteFile(const QString& fileName) {
  MainForm_->SetStatusText(0, "Saving...");
  try {
    TBusyCursor busy;
    Bitmap_.SaveToFile(NativeName(fileName));
  } catch (const std::exception& error) {
    MainForm_->SetStatusText(0, {});
    QMessageBox::critical(this, QApplication::applicationName(), QString::fromLocal8Bit(error.what()));
    return false;
  }
  MainForm_->SetStatusText(0, {});
  if (!QFileInfo::exists(fileName)) {
    QMessageBox::critical(this, QApplication::applicationName(), "Write error");
    return false;
  }
  return true;
}

bool TMDIChild::SaveImage() {
  if (!HasFile) return SaveImageAs();
  if (!WriteFile(FileName)) return false;
  Modified = 0;
  return true;
}

bool TMDIChild::SaveImageAs() {
  const std::string saveFilter = BitmapLoaders().GetSaveFilter();
  QFileDialog dialog(this, "Save image as...", MainForm_->ImagePath);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("png");
  const QStringList filters = ToDialogFilters(saveFilter);
  dialog.setNameFilters(filters);
  const int entry = FilterIndexForExtension(saveFilter, QFileInfo(FileName).suffix());
  if (entry >= 1 && entry <= filters.size()) dialog.selectNameFilter(filters[entry - 1]);
  dialog.selectFile(QFileInfo(FileName).fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  const QString chosen = dialog.selectedFiles().first();
  MainForm_->ImagePath = QFileInfo(chosen).absolutePath();
  // The document takes the new name only once the file holds its image.
  if (!WriteFile(chosen)) return false;
  FileName = chosen;
  HasFile = true;
  Modified = 0;
  UpdateCaption();
  MainForm_->UpdateMenuStates();
  return true;
}

void TMDIChild::ReloadImage() {
  if (!HasFile) return;
  TakeSnapshot(MainForm_->ReloadImageAction()->text());
  MainForm_->SetStatusText(0, "Loading...");
  try {
    if (!LoadImage()) QMessageBox::warning(this, QApplication::applicationName(), "Unsupported pixel format");
  } catch (const std::exception& error) {
    MainForm_->SetStatusText(0, {});
    DiscardSnapshot();
    QMessageBox::critical(this, QApplication::applicationName(), QString::fromLocal8Bit(error.what()));
    return;
  }
  MainForm_->SetStatusText(0, {});
}

void TMDIChild::SetZoom(int zoom) {
  if (zoom == 0 || zoom == -1) zoom = 1;
  zoom = std::clamp(zoom, -16, 16);
  Zoom_ = zoom;
  UpdateScrollRanges();
  UpdateCaption();
  View_->viewport()->update();
}

void TMDIChild::UpdateScrollRanges() {
  const QSize client = View_->viewport()->size();
  const int displayWidth = ZoomedExtent(Bitmap_.Width, Zoom_);
  const int displayHeight = ZoomedExtent(Bitmap_.Height, Zoom_);
  const int rangeX = Zoom_ < 2 ? displayWidth : displayWidth - 1 + Zoom_;
  const int rangeY = Zoom_ < 2 ? displayHeight : displayHeight - 1 + Zoom_;
  QScrollBar* h = View_->horizontalScrollBar();
  QScrollBar* v = View_->verticalScrollBar();
  h->setRange(0, std::max(0, rangeX - client.width()));
  h->setPageStep(std::max(1, client.width()));
  v->setRange(0, std::max(0, rangeY - client.height()));
  v->setPageStep(std::max(1, client.height()));
}

void TMDIChild::ZoomAt(Qt::MouseButton button) {
  if (button == Qt::LeftButton)
    SetZoom(Zoom_ + 1);
  else if (button == Qt::RightButton)
    SetZoom(Zoom_ == 1 ? -2 : Zoom_ - 1);
  const QSize client = View_->viewport()->size();
  int h, v;
  if (Zoom_ >= 1) {
    h = ((CursorX * Zoom_ - client.width() / 2) / Zoom_) * Zoom_;
    v = ((CursorY * Zoom_ - client.height() / 2) / Zoom_) * Zoom_;
  } else {
    h = CursorX / -Zoom_ - client.width() / 2;
    v = CursorY / -Zoom_ - client.height() / 2;
  }
  View_->horizontalScrollBar()->setValue(h);
  View_->verticalScrollBar()->setValue(v);
}

void TMDIChild::FitWindow() {
  QScrollBar* h = View_->horizontalScrollBar();
  QScrollBar* v = View_->verticalScrollBar();
  h->setRange(0, 0);
  v->setRange(0, 0);
  // The view without its scroll bars is the client area: the bars must not count as
  // border, or every fitted window would open with bars it does not need.
  const int bw = width() - View_->width() + 1;
  const int bh = height() - View_->height() + 1;
  const QSize available = MainForm_->AvailableSize();
  if (Bitmap_.Width + bw < available.width() && available.height() > Bitmap_.Height + bh) {
    SetZoom(1);
  } else {
    const int r = std::max((Bitmap_.Width + bw) / std::max(1, available.width()),
                           (Bitmap_.Height + bh) / std::max(1, available.height()));
    SetZoom(-(r + 1));
  }
  int w = ZoomedExtent(Bitmap_.Width, Zoom_) + bw;
  int ht = ZoomedExtent(Bitmap_.Height, Zoom_) + bh;
  w = std::min(w, available.width() - std::max(0, x()));
  ht = std::min(ht, available.height() - std::max(0, y()));
  resize(std::max(w, minimumSizeHint().width()), std::max(ht, minimumSizeHint().height()));
  UpdateScrollRanges();
}

void TMDIChild::UpdateCaption() {
  QString caption;
  if (ImageNumber == 0) {
    caption = FileName;
  } else {
    const QString name = QFileInfo(FileName).fileName();
    if (Zoom_ >= 1)
      caption = QString("(%1) %2 [%3:1] %4").arg(ImageNumber).arg(name).arg(Zoom_).arg(PixelKindText());
    else
      caption = QString("(%1) %2 [1:%3] %4").arg(ImageNumber).arg(name).arg(-Zoom_).arg(PixelKindText());
  }
  setWindowTitle(caption);
}

void TMDIChild::TakeSnapshot(const QString& caption) { MainForm_->TakeSnapshot(this, caption); }

void TMDIChild::DiscardSnapshot() {
  MainForm_->UndoList().DiscardLast();
  MainForm_->UpdateEditMenu();
}

void TMDIChild::AddModified(int delta) {
  Modified += delta;
  if (Modified < 0) Modified = 10000;
}

void TMDIChild::ImageChanged() {
  DerivePixelKind();
  SetZoom(Zoom_);
  UpdateCaption();
  UpdatePositionStatus();
  MainForm_->UpdateMenuStates();
  View_->viewport()->update();
}

void TMDIChild::Repaint() { View_->viewport()->repaint(); }

void TMDIChild::Redraw() { View_->viewport()->update(); }

QPoint TMDIChild::ScreenPosition(int x, int y) const {
  const int h = View_->horizontalScrollBar()->value();
  const int v = View_->verticalScrollBar()->value();
  if (Zoom_ >= 1) return QPoint(Zoom_ * x - h + Zoom_ / 2, Zoom_ * y - v + Zoom_ / 2);
  return QPoint(x / -Zoom_ - h, y / -Zoom_ - v);
}

QPoint TMDIChild::ImagePosition(QPoint p) const {
  const int h = View_->horizontalScrollBar()->value();
  const int v = View_->verticalScrollBar()->value();
  if (Zoom_ >= 1) return QPoint((h + p.x()) / Zoom_, (v + p.y()) / Zoom_);
  return QPoint((h + p.x()) * -Zoom_, (v + p.y()) * -Zoom_);
}

TMDIChild::BusyScope::BusyScope(TMDIChild* child) : child_(child) { child_->Busy_ = true; }
TMDIChild::BusyScope::~BusyScope() {
  child_->Busy_ = false;
  child_->View_->viewport()->update();
}

void TMDIChild::ViewResize() {
  const QSize size = View_->viewport()->size().expandedTo(QSize(1, 1));
  if (BackBuffer.size() != size) BackBuffer = QImage(size, QImage::Format_RGB32);
  UpdateScrollRanges();
}

void TMDIChild::ViewPaint(QPaintEvent* event) {
  const QRegion region = event->region();
  if (BackBuffer.size() != View_->viewport()->size().expandedTo(QSize(1, 1))) ViewResize();
  if (!Busy_) {
    const int h = View_->horizontalScrollBar()->value();
    const int v = View_->verticalScrollBar()->value();
    const QRect bounds = BackBuffer.rect();
    const ptrdiff_t stride = BackBuffer.bytesPerLine() / 4;
    for (const QRect& exposed : region) {
      const QRect r = exposed.intersected(bounds);
      if (r.isEmpty()) continue;
      auto* pixels = reinterpret_cast<uint32_t*>(BackBuffer.scanLine(r.y())) + r.x();
      RenderImage(Bitmap_, Zoom_, h + r.x(), v + r.y(), pixels, r.width(), r.height(), stride);
    }
    QPainter painter(&BackBuffer);
    painter.setClipRegion(region);
    if (MainForm_->EditMode() == TriangleMode)
      DrawMesh(painter);
    else
      DrawPoints(painter, 0);
  }
  QPainter screen(View_->viewport());
  for (const QRect& exposed : region) screen.drawImage(exposed.topLeft(), BackBuffer, exposed);
}

void TMDIChild::DrawPoints(QPainter& painter, int heldOut) {
  if (ImageNumber != 1 && ImageNumber != 2) return;
  const CorrespondenceProject& project = MainForm_->Project();
  const QRect clip = painter.hasClipping() ? painter.clipBoundingRect().toAlignedRect() : BackBuffer.rect();
  for (int i = 1; i <= project.PointCount; ++i) {
    if (i == heldOut) continue;
    const PointPair& pair = project.Points[static_cast<size_t>(i - 1)];
    const QPoint p = ImageNumber == 1 ? ScreenPosition(pair.x1, pair.y1) : ScreenPosition(pair.x2, pair.y2);
    if (!clip.intersects(MarkerRect(p))) continue;
    DrawMarker(painter, p, i, i == MainForm_->SelectedPoint);
  }
}

void TMDIChild::DrawMesh(QPainter& painter) {
  if (ImageNumber != 1 && ImageNumber != 2) return;
  const CorrespondenceProject& project = MainForm_->Project();
  painter.setPen(QPen(Qt::blue, 1));
  painter.setBrush(QBrush(QColor(0, 128, 127), Qt::DiagCrossPattern));
  const auto corner = [&](int index) {
    if (index < 1 || index > kMaxPointPairs) return QPoint();
    const PointPair& pair = project.Points[static_cast<size_t>(index - 1)];
    return ImageNumber == 1 ? ScreenPosition(pair.x1, pair.y1) : ScreenPosition(pair.x2, pair.y2);
  };
  for (const MeshTriangle& triangle : project.ValidTriangles()) {
    const QPoint points[3] = {corner(triangle.p1), corner(triangle.p2), corner(triangle.p3)};
    painter.drawPolygon(points, 3);
  }
}

void TMDIChild::UpdateMarker(int index) {
  const CorrespondenceProject& project = MainForm_->Project();
  if (index < 1 || index > project.PointCount) return;
  const PointPair& pair = project.Points[static_cast<size_t>(index - 1)];
  const QPoint p = ImageNumber == 1 ? ScreenPosition(pair.x1, pair.y1) : ScreenPosition(pair.x2, pair.y2);
  View_->viewport()->update(MarkerRect(p));
}

void TMDIChild::UpdatePositionStatus() {
  const bool inside = CursorX >= 0 && CursorY >= 0 && CursorX < Bitmap_.Width && CursorY < Bitmap_.Height;
  MainForm_->SetStatusText(1, inside ? QString("%1,%2").arg(CursorX).arg(CursorY) : QString());
  MainForm_->SetStatusText(2, QString("%1 x %2 %3").arg(Bitmap_.Width).arg(Bitmap_.Height).arg(PixelKindText()));
}

void TMDIChild::ViewMousePress(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const QPoint cursor = ImagePosition(pos);
  CursorX = cursor.x();
  CursorY = cursor.y();
  if (MainForm_->EditMode() != PointMode) {
    ZoomAt(event->button());
    return;
  }
  if (event->button() == Qt::RightButton) {
    PanAnchor_ = QPoint(View_->horizontalScrollBar()->value() + pos.x(), View_->verticalScrollBar()->value() + pos.y());
  } else if (event->button() == Qt::LeftButton && CursorX < Bitmap_.Width && CursorY < Bitmap_.Height && CursorX >= 0 &&
             CursorY >= 0) {
    const int tolerance = Zoom_ < 1 ? -Zoom_ * 5 : 5 / Zoom_;
    CorrespondenceProject& project = MainForm_->Project();
    int selected = project.FindPoint(ImageNumber, CursorX, CursorY, tolerance);
    if (selected == 0) selected = project.AddPointPair(CursorX, CursorY);
    MainForm_->SelectedPoint = selected;
    if (selected != 0) {
      Dragging_ = true;
      MainForm_->RedrawAll();
    } else {
      QMessageBox::warning(this, QApplication::applicationName(),
                           QString("Point limit exceeded (%1)").arg(kMaxPointPairs));
    }
  }
}

void TMDIChild::ViewMouseMove(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const QPoint cursor = ImagePosition(pos);
  CursorX = cursor.x();
  CursorY = cursor.y();
  UpdatePositionStatus();
  if (MainForm_->EditMode() != PointMode) return;
  const int selected = MainForm_->SelectedPoint;
  if ((event->buttons() & Qt::LeftButton) && Dragging_ && selected != 0 && Bitmap_.Present) {
    UpdateMarker(selected);
    MainForm_->Project().MovePoint(selected, ImageNumber, std::clamp(CursorX, 0, Bitmap_.Width - 1),
                                   std::clamp(CursorY, 0, Bitmap_.Height - 1));
    UpdateMarker(selected);
  } else if ((event->buttons() & Qt::RightButton) && !(event->buttons() & Qt::LeftButton)) {
    View_->horizontalScrollBar()->setValue(PanAnchor_.x() - pos.x());
    View_->verticalScrollBar()->setValue(PanAnchor_.y() - pos.y());
  }
}

void TMDIChild::ViewMouseRelease(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Dragging_ = false;
}

void TMDIChild::ViewWheel(QWheelEvent* event) {
  QScrollBar* v = View_->verticalScrollBar();
  v->setValue(v->value() - event->angleDelta().y());
  event->accept();
}

bool TMDIChild::ViewKey(QKeyEvent* event) {
  QScrollBar* h = View_->horizontalScrollBar();
  QScrollBar* v = View_->verticalScrollBar();
  switch (event->key()) {
    case Qt::Key_Left:
      h->setValue(h->value() - h->singleStep());
      return true;
    case Qt::Key_Right:
      h->setValue(h->value() + h->singleStep());
      return true;
    case Qt::Key_Up:
      v->setValue(v->value() - v->singleStep());
      return true;
    case Qt::Key_Down:
      v->setValue(v->value() + v->singleStep());
      return true;
    default:
      return false;
  }
}

void TMDIChild::closeEvent(QCloseEvent* event) {
  if (Modified != 0) {
    const auto answer =
        QMessageBox::question(this, QApplication::applicationName(), FileName + " not saved. Save now?",
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::Cancel || (answer == QMessageBox::Yes && (!SaveImage() || Modified != 0))) {
      event->ignore();
      return;
    }
  }
  MainForm_->ChildClosed(this);
  QMdiSubWindow::closeEvent(event);
}

}  // namespace sq
