// TMDIChild: one image document window inside the main window's document area.
//
// What commands and dialogs use (the Image menu's dialogs, the 3D model hand-over):
//   Bitmap()                 the image, owned by the window; change it in place.
//   MainForm()->Project()    the shared point pairs; this window edits set ImageNumber.
//   ImageNumber              1 or 2 (0 until assigned).
//   TakeSnapshot(caption)    before changing Bitmap: an undo snapshot labelled with the
//                            command's menu caption ("&Resize"); refreshes the Edit menu.
//   DiscardSnapshot()        the command was cancelled after its snapshot.
//   Modified, AddModified()  unsaved-change count; a finished command adds 1.
//   ImageChanged()           after the size or pixel format changed: pixel kind,
//                            caption, zoom, menu states and a repaint.
//   Repaint()                redraw now (live previews while a dialog is open).
//   FitWindow()              zoom and size the window to fit the main window.
//   BusyScope                 while a long operation changes Bitmap, paint only the
//                            last picture (the progress display lets windows repaint).
#pragma once

// Qt
#include <QAbstractScrollArea>
#include <QImage>
#include <QMdiSubWindow>

// Local
#include "imaging/linear_bitmap.h"
#include "project/correspondence_project.h"

namespace sq {

class TMainForm;
class TMDIChild;

// The scrolling client area of a document window.
class TImageView : public QAbstractScrollArea {
 public:
  explicit TImageView(TMDIChild* owner);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  TMDIChild* owner_;
};

class TMDIChild : public QMdiSubWindow {
  Q_OBJECT

 public:
  // A window for fileName; with a size, it starts with a blank image (filled with
  // byte 255, grey palette for 8 bits) instead of an empty one.
  TMDIChild(TMainForm* mainForm, const QString& fileName, int width = 0, int height = 0, TPixelFormat format = pf24bit);
  ~TMDIChild() override;

  // Number of document windows alive in the process.
  static int OpenCount();

  TMainForm* MainForm() const { return MainForm_; }
  TLinearBitmap& Bitmap() { return Bitmap_; }
  const TLinearBitmap& Bitmap() const { return Bitmap_; }
  TImageView* View() const { return View_; }

  QString FileName;
  int ImageNumber = 0;
  bool HasFile = false;
  // Set once the window agreed to close; the main form then no longer counts it.
  bool Closing = false;
  int Modified = 0;
  int CursorX = 0;
  int CursorY = 0;
  int PixelKind() const { return PixelKind_; }
  QString PixelKindText() const;
  int Zoom() const { return Zoom_; }

  // Loads Bitmap from FileName through the format registry.  A load error is raised
  // and leaves the old image; an image the window cannot show (other than 8 or 24
  // bits after 16-bit grey is reduced) returns false.  Warnings of a damaged file
  // that still loaded come back in warning.
  bool LoadImage(QString* warning = nullptr);
  // The two halves of LoadImage: reading a file into a bitmap of its own (raises on
  // errors; 16-bit grey comes back as 8 bits), and taking it as this window's image
  // from FileName (false, and nothing taken, for formats the window cannot show).
  static void ReadImageFile(const QString& fileName, TLinearBitmap& bitmap, QString* warning = nullptr);
  bool SetLoadedImage(TLinearBitmap& bitmap);
  // Takes an image from outside (paste, scan); false when it cannot be shown.
  bool TakeImage(TLinearBitmap& image);
  // Saving: true when the file was written.  Errors are shown to the user.
  bool SaveImage();
  bool SaveImageAs();
  // Reloads from disk keeping an undo snapshot.
  void ReloadImage();

  void SetZoom(int zoom);
  // Left button zooms in, right out, centred on the cursor.
  void ZoomAt(Qt::MouseButton button);
  void FitWindow();
  void UpdateCaption();

  void TakeSnapshot(const QString& caption);
  void DiscardSnapshot();
  void AddModified(int delta = 1);
  void ImageChanged();
  void Repaint();
  // Re-renders the view (RedrawAll calls this on every window).
  void Redraw();

  // Screen (viewport) position of an image point.
  QPoint ScreenPosition(int x, int y) const;
  // Image position under a viewport position.
  QPoint ImagePosition(QPoint viewportPosition) const;

  // Paints only the last picture while a long operation changes the bitmap.
  class BusyScope {
   public:
    explicit BusyScope(TMDIChild* child);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    TMDIChild* child_;
  };

  QImage BackBuffer;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class TImageView;
  void DerivePixelKind();
  void UpdateScrollRanges();
  void SnapScrollPositions();
  void ViewPaint(QPaintEvent* event);
  void ViewResize();
  void ViewMousePress(QMouseEvent* event);
  void ViewMouseMove(QMouseEvent* event);
  void ViewMouseRelease(QMouseEvent* event);
  void ViewWheel(QWheelEvent* event);
  bool ViewKey(QKeyEvent* event);
  void DrawPoints(QPainter& painter, int heldOut);
  void DrawMesh(QPainter& painter);
  void UpdateMarker(int index);
  void UpdatePositionStatus();
  bool WriteFile(const QString& fileName);

  TMainForm* MainForm_;
  TImageView* View_;
  TLinearBitmap Bitmap_;
  int PixelKind_ = 2;
  int Zoom_ = 1;
  QPoint PanAnchor_;
  bool Busy_ = false;
  bool Dragging_ = false;
};

// The rectangle a marker of a point at screen position p covers, with its outline.
QRect MarkerRect(QPoint p);
// Draws one point marker: selected markers are white squares, others coloured crosses.
void DrawMarker(QPainter& painter, QPoint p, int index, bool selected);

}  // namespace sq
