// The desktop program's main window driven as a user would: images opened, points
// placed and dragged, zoom, "Connect points", projects saved and reopened, undo and
// redo, menu states, clipboard and the settings written at exit.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QtTest>

#include <cstring>

#include "app/main_form.h"
#include "app/mdi_child.h"
#include "imaging/linear_bitmap.h"
#include "platform/program_setup.h"
#include "platform/registry.h"
#include "support/main_form_session.h"
#include "support/modal_answer.h"
#include "support/temp_dir.h"

using namespace sq;

namespace {

// A 24-bit test picture with a gradient, so that every pixel is distinct enough to
// notice a wrong copy.
QString WriteImage(const test::TTempDir& dir, const std::string& name, int width, int height,
                   TPixelFormat format = pf24bit) {
  TLinearBitmap image(width, height, format);
  for (int y = 0; y < height; ++y)
    for (int i = 0; i < image.BytesPerLine; ++i) image.ScanLine(y)[i] = static_cast<uint8_t>(i * 3 + y * 5);
  if (format == pf8bit)
    for (int i = 0; i < 768; ++i) image.Palette[i] = static_cast<uint8_t>(i % 3 == 0 ? i / 3 : 255 - i / 3);
  image.SaveToFile(dir / name);
  return QString::fromStdString(dir / name);
}

void Click(TMDIChild* child, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mouseClick(child->View()->viewport(), button, Qt::NoModifier, at);
}

}  // namespace

class TMainFormTest : public QObject {
  Q_OBJECT

 private:
  test::TMainFormSession session_;

  TMDIChild* Open(const QString& fileName) {
    TMDIChild* child = session_.Form->OpenImageFile(fileName);
    QCoreApplication::processEvents();
    return child;
  }

 private slots:
  void init() { session_.Start(); }
  void cleanup() { session_.Finish(); }

  void OpensImagesAsOneAndTwoWithMenuStates() {
    QVERIFY(!session_.Form->SaveImageAction()->isEnabled());
    TMDIChild* a = Open(WriteImage(*session_.Files, "a.png", 200, 100));
    QVERIFY(a);
    QCOMPARE(a->windowTitle(), QString("(1) a.png [1:1] 24 bit"));
    QVERIFY(session_.Form->SaveImageAction()->isEnabled());
    QVERIFY(!session_.Form->SwapImagesAction()->isEnabled());
    QVERIFY(!session_.Form->ConnectPointsAction()->isEnabled());
    QVERIFY(session_.Form->ReloadImageAction()->isEnabled());
    TMDIChild* b = Open(WriteImage(*session_.Files, "b.png", 120, 90, pf8bit));
    QCOMPARE(b->windowTitle(), QString("(2) b.png [1:1] 256 colors"));
    QVERIFY(session_.Form->SwapImagesAction()->isEnabled());
    QVERIFY(session_.Form->ConnectPointsAction()->isEnabled());
    // No filters on palette images; "24 bit color" is offered instead.
    QVERIFY(!session_.Form->SmoothAction()->isEnabled());
    QVERIFY(session_.Form->To24BitAction()->isEnabled());
    session_.Form->MdiArea()->setActiveSubWindow(a);
    QVERIFY(session_.Form->SmoothAction()->isEnabled());
    QVERIFY(!session_.Form->To24BitAction()->isEnabled());

    // A third image replaces the active window and takes its number.
    TMDIChild* c = Open(WriteImage(*session_.Files, "c.png", 50, 40));
    QCOMPARE(session_.Form->Children().size(), 2);
    QCOMPARE(c->ImageNumber, 1);

    // A damaged file shows its error and leaves the open windows alone.
    QFile junk(QString::fromStdString(*session_.Files / "junk.png"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("\x89PNG\r\n\x1a\n-not-really");
    junk.close();
    auto answer = test::AnswerNextModal("OK");
    QVERIFY(!session_.Form->OpenImageFile(junk.fileName()));
    QVERIFY(answer->Seen);
    QVERIFY(answer->Text.startsWith(junk.fileName()));
    QCOMPARE(session_.Form->Children().size(), 2);

    // A truncated JPEG still opens, and says what it lacks.
    const QString cut = WriteImage(*session_.Files, "cut.jpg", 256, 256);
    QVERIFY(QFile::resize(cut, QFileInfo(cut).size() / 2));
    answer = test::AnswerNextModal("OK");
    TMDIChild* damaged = session_.Form->OpenImageFile(cut);
    QVERIFY(damaged);
    QVERIFY(answer->Seen);
    QVERIFY(answer->Text.startsWith(cut + "\n"));
    QCOMPARE(damaged->Bitmap().Width, 256);
  }

  void PlacesSelectsAndDragsPointsInPointMode() {
    TMDIChild* a = Open(WriteImage(*session_.Files, "a.png", 200, 100));
    TMDIChild* b = Open(WriteImage(*session_.Files, "b.png", 200, 100));
    session_.Form->PointModeAction()->trigger();
    QVERIFY(session_.Form->PointModeAction()->isChecked());
    Click(a, QPoint(10, 10));
    CorrespondenceProject& project = session_.Form->Project();
    QCOMPARE(project.PointCount, 1);
    QCOMPARE(project.Points[0], (PointPair{10, 10, 10, 10}));
    // Within 5 pixels at 1:1 the existing point is selected, not a new one added.
    Click(b, QPoint(14, 13));
    QCOMPARE(project.PointCount, 1);
    QCOMPARE(session_.Form->SelectedPoint, 1);
    // Dragging moves only this window's half and stops at the image edge.
    QWidget* viewport = b->View()->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(150, 60), viewport->mapToGlobal(QPointF(150, 60)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QCOMPARE(project.Points[0], (PointPair{10, 10, 150, 60}));
    QMouseEvent beyond(QEvent::MouseMove, QPointF(260, 70), viewport->mapToGlobal(QPointF(260, 70)), Qt::NoButton,
                       Qt::LeftButton, Qt::NoModifier);
    if (viewport->width() > 260) {
      QApplication::sendEvent(viewport, &beyond);
      QCOMPARE(project.Points[0].x2, 199);
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(150, 60));
    QCOMPARE(session_.Form->StatusText(2), QString("200 x 100 24 bit"));

    session_.Form->RemovePointAction()->trigger();
    QCOMPARE(project.PointCount, 0);
    QCOMPARE(session_.Form->SelectedPoint, 0);
  }

  void ZoomsWithCaptionsAndClamps() {
    TMDIChild* a = Open(WriteImage(*session_.Files, "b.png", 64, 48));
    QCOMPARE(a->Zoom(), 1);
    session_.Form->ZoomOutAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) b.png [1:2] 24 bit"));
    session_.Form->ZoomOutAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) b.png [1:3] 24 bit"));
    session_.Form->ZoomInAction()->trigger();
    session_.Form->ZoomInAction()->trigger();
    QCOMPARE(a->Zoom(), 1);
    for (int i = 0; i < 20; ++i) session_.Form->ZoomInAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) b.png [16:1] 24 bit"));
    // In zoom mode a click zooms; the magnified view scrolls by whole image pixels.
    a->SetZoom(3);
    a->View()->horizontalScrollBar()->setValue(10);
    QCOMPARE(a->View()->horizontalScrollBar()->value() % 3, 0);
    Click(a, QPoint(5, 5), Qt::RightButton);
    QCOMPARE(a->Zoom(), 2);
  }

  void ConnectPointsBuildsTheMeshOrSelectsTheCulprit() {
    TMDIChild* a = Open(WriteImage(*session_.Files, "a.png", 100, 100));
    Open(WriteImage(*session_.Files, "b.png", 100, 100));
    CorrespondenceProject& project = session_.Form->Project();
    project.AddPointPair(10, 10);
    project.AddPointPair(80, 10);
    project.AddPointPair(40, 70);
    session_.Form->ConnectPointsAction()->trigger();
    QCOMPARE(session_.Form->EditMode(), TriangleMode);
    QCOMPARE(project.TriangleCount, 1);

    session_.Form->ZoomModeAction()->trigger();
    project.AddPointPair(10, 10);  // a duplicate of point 1
    auto answer = test::AnswerNextModal("OK");
    session_.Form->ConnectPointsAction()->trigger();
    QCOMPARE(answer->Text, QString("Can't avoid crossing lines"));
    QCOMPARE(session_.Form->SelectedPoint, 1);
    QCOMPARE(session_.Form->EditMode(), ZoomMode);

    // Points outside an image: the question, and on Yes they go.
    project.PointCount = 3;
    project.AddPointPair(60, 40);
    project.MovePoint(3, 1, 150, 50);
    answer = test::AnswerNextModal("Yes");
    session_.Form->ConnectPointsAction()->trigger();
    QCOMPARE(answer->Text, QString("Point defined outside image. Remove all invalid remove points?"));
    QCOMPARE(project.PointCount, 3);
    QCOMPARE(session_.Form->EditMode(), TriangleMode);
    Q_UNUSED(a);
  }

  void SavesAndReopensAProject() {
    const QString aName = WriteImage(*session_.Files, "left.png", 80, 60);
    const QString bName = WriteImage(*session_.Files, "right.png", 80, 60);
    Open(aName);
    Open(bName);
    session_.Form->Project().AddPointPair(5, 6);
    session_.Form->Project().MovePoint(1, 2, 7, 8);
    const QString project = QString::fromStdString(*session_.Files / "pair.kst");
    session_.Form->SaveProject(project);
    session_.Form->Project().PointCount = 0;
    session_.Form->OpenProjectFile(project);
    QCOMPARE(session_.Form->windowTitle(), project + " - Stereoquill");
    QCOMPARE(session_.Form->Project().PointCount, 1);
    QCOMPARE(session_.Form->Project().Points[0], (PointPair{5, 6, 7, 8}));
    const auto children = session_.Form->Children();
    QCOMPARE(children.size(), 2);
    QCOMPARE(children[0]->FileName, aName);
    QCOMPARE(children[0]->ImageNumber, 1);
    QCOMPARE(children[1]->ImageNumber, 2);
    QCOMPARE(session_.Form->AnimPath, QFileInfo(project).absolutePath());

    // A modified window that refuses to close abandons the load and keeps the project.
    children[0]->Modified = 1;
    auto answer = test::AnswerNextModal("Cancel");
    QVERIFY(!session_.Form->LoadProject(project));
    QVERIFY(answer->Text.endsWith(" not saved. Save now?"));
    QCOMPARE(session_.Form->Children().size(), 1);
    QCOMPARE(session_.Form->Project().PointCount, 1);
  }

  void UndoesAndRedoesImageCommandsOfTheActiveWindow() {
    TMDIChild* a = Open(WriteImage(*session_.Files, "a.png", 40, 30));
    TMDIChild* b = Open(WriteImage(*session_.Files, "b.png", 40, 30));
    session_.Form->MdiArea()->setActiveSubWindow(a);
    const TLinearBitmap original(a->Bitmap());
    QVERIFY(!session_.Form->UndoAction()->isEnabled());
    session_.Form->InvertAction()->trigger();
    QCOMPARE(a->Modified, 1);
    QCOMPARE(a->Bitmap().Map[0], uint8_t(255 - original.Map[0]));
    a->Modified = 0;  // as if saved now
    session_.Form->SmoothAction()->trigger();
    QCOMPARE(session_.Form->UndoAction()->text(), QString("&Undo Smooth"));
    session_.Form->UndoAction()->trigger();
    session_.Form->UndoAction()->trigger();
    QCOMPARE(a->Modified, 10000);  // below zero: changed relative to the file
    QVERIFY(std::memcmp(a->Bitmap().Map, original.Map, size_t(original.Size)) == 0);
    QCOMPARE(session_.Form->RedoAction()->text(), QString("&Redo Invert"));
    session_.Form->RedoAction()->trigger();
    QCOMPARE(a->Bitmap().Map[0], uint8_t(255 - original.Map[0]));

    session_.Form->GrayscaleAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) a.png [1:1] Gray"));
    QVERIFY(!session_.Form->GrayscaleAction()->isEnabled());
    session_.Form->UndoAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) a.png [1:1] 24 bit"));

    // The history belongs to one image.
    session_.Form->MdiArea()->setActiveSubWindow(b);
    QVERIFY(!session_.Form->UndoAction()->isEnabled());
    QVERIFY(!session_.Form->RedoAction()->isEnabled());
  }

  void CopiesAndPastesThroughTheClipboard() {
    TMDIChild* a = Open(WriteImage(*session_.Files, "a.png", 30, 20));
    session_.Form->CopyAction()->trigger();
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QVERIFY(data->hasImage());
    QVERIFY(data->hasFormat("image/bmp"));
    QVERIFY(session_.Form->PasteAction()->isEnabled());
    session_.Form->PasteAction()->trigger();
    const auto children = session_.Form->Children();
    QCOMPARE(children.size(), 2);
    TMDIChild* pasted = children[1];
    QCOMPARE(pasted->ImageNumber, 2);
    QCOMPARE(pasted->Modified, 1);
    QCOMPARE(QFileInfo(pasted->FileName).fileName(), QString("Image2"));
    QCOMPARE(pasted->Bitmap().Width, 30);
    QVERIFY(std::memcmp(pasted->Bitmap().Map, a->Bitmap().Map, size_t(a->Bitmap().Size)) == 0);

    // An image offered by another program arrives as an ordinary image.
    QImage other(7, 5, QImage::Format_RGB32);
    other.fill(QColor(10, 20, 30));
    QApplication::clipboard()->setImage(other);
    pasted->Modified = 0;
    session_.Form->PasteAction()->trigger();
    TMDIChild* third = session_.Form->ActiveChild();
    QCOMPARE(third->Bitmap().Width, 7);
    QCOMPARE(third->Bitmap().ScanLine(0)[2], uint8_t(10));
  }

  void TilesAlternatelyAndDescribesFeatures() {
    TMDIChild* a = Open(WriteImage(*session_.Files, "a.png", 30, 20));
    TMDIChild* b = Open(WriteImage(*session_.Files, "b.png", 30, 20));
    session_.Form->TileAction()->trigger();
    QCOMPARE(a->y(), b->y());  // side by side
    session_.Form->TileAction()->trigger();
    QCOMPARE(a->x(), b->x());  // one above the other

    const QString text = session_.Form->FeatureText();
    QVERIFY(text.contains(QString(QChar(0xA7)) + "File | New\nBegin new animation."));
    QVERIFY(text.contains(QString(QChar(0xA7)) + "Image | Filters | Sharpen\nSharpen image."));
    QVERIFY(!text.contains("Run"));  // the hidden animation menu stays out
  }

  void SavesAndReloadsKeepingTheImageWhenTheDiskFails() {
    const QString name = WriteImage(*session_.Files, "a.png", 40, 30);
    TMDIChild* a = Open(name);
    const TLinearBitmap original(a->Bitmap());
    session_.Form->InvertAction()->trigger();
    QVERIFY(a->SaveImage());
    QCOMPARE(a->Modified, 0);
    TLinearBitmap onDisk;
    onDisk.LoadFromFile(name.toStdString());
    QCOMPARE(onDisk.Map[0], uint8_t(255 - original.Map[0]));

    // Reload brings back the file and can be undone.
    session_.Form->InvertAction()->trigger();
    session_.Form->ReloadImageAction()->trigger();
    QCOMPARE(a->Modified, 0);
    QCOMPARE(a->Bitmap().Map[0], onDisk.Map[0]);
    QCOMPARE(session_.Form->UndoAction()->text(), QString("&Undo Reload image"));

    // A file that went away: the error is shown, the image and its changes stay.
    session_.Form->InvertAction()->trigger();
    QVERIFY(QFile::remove(name));
    auto answer = test::AnswerNextModal("OK");
    session_.Form->ReloadImageAction()->trigger();
    QVERIFY(answer->Seen);
    QCOMPARE(a->Modified, 1);
    QCOMPARE(a->Bitmap().Map[0], original.Map[0]);
    QCOMPARE(session_.Form->UndoAction()->text(), QString("&Undo Invert"));
    // A folder that cannot be written: the save fails, the change is still unsaved.
    a->FileName = QString::fromStdString(*session_.Files / "no-such-folder/a.png");
    answer = test::AnswerNextModal("OK");
    QVERIFY(!a->SaveImage());
    QVERIFY(answer->Seen);
    QCOMPARE(a->Modified, 1);
  }

  void PointCommandsSwapCornersAndNew() {
    TMDIChild* a = Open(WriteImage(*session_.Files, "a.png", 64, 48));
    TMDIChild* b = Open(WriteImage(*session_.Files, "b.png", 64, 48));
    CorrespondenceProject& project = session_.Form->Project();
    project.AddPointPair(1, 2);
    project.MovePoint(1, 2, 3, 4);
    session_.Form->SwapImagesAction()->trigger();
    QCOMPARE(project.Points[0], (PointPair{3, 4, 1, 2}));
    QCOMPARE(a->windowTitle(), QString("(2) a.png [1:1] 24 bit"));
    QCOMPARE(b->ImageNumber, 1);

    session_.Form->MdiArea()->setActiveSubWindow(a);
    session_.Form->AddCornerPointsAction()->trigger();
    QCOMPARE(project.PointCount, 5);
    QCOMPARE(project.Points[4], (PointPair{63, 47, 63, 47}));

    session_.Form->SetProjectFileName("/somewhere/p.kst");
    auto answer = test::AnswerNextModal("No");
    session_.Form->NewAction()->trigger();
    QCOMPARE(answer->Text, QString("Remove ALL defined points?"));
    QCOMPARE(project.PointCount, 5);
    QCOMPARE(session_.Form->windowTitle(), QString("/somewhere/p.kst - Stereoquill"));
    answer = test::AnswerNextModal("Yes");
    session_.Form->NewAction()->trigger();
    QCOMPARE(project.PointCount, 0);
    QCOMPARE(session_.Form->windowTitle(), QString("Stereoquill"));
  }

  void ShowsProgressAndOpensDroppedFiles() {
    session_.Form->ShowProgress(37);
    QCOMPARE(session_.Form->StatusText(0), QString("37%"));
    session_.Form->ShowProgress(100);
    QCOMPARE(session_.Form->StatusText(0), QString());

    const QString image = WriteImage(*session_.Files, "dropped.png", 20, 10);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(image)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(session_.Form.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(session_.Form.get(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(session_.Form->Children().size(), 1);
    QCOMPARE(session_.Form->Children().first()->FileName, image);
  }

  void WritesTheSettingsAtExit() {
    session_.Form->ImagePath = "/images/here";
    session_.Form->close();
    TProgramSetup setup(kProgramKey);
    QCOMPARE(setup.ReadString("ImagePath", ""), std::string("/images/here"));
    QCOMPARE(setup.ReadString("AnimPath", ""), session_.Files->Path().string());
    QVERIFY(setup.ReadInteger("WindowState", -1) >= 0);

    // A window state stored as text is ignored: the default is maximised.
    setup.WriteString("WindowState", "0");
    TMainForm again(QString::fromStdString(session_.Files->Path().string()));
    QVERIFY(again.windowState() & Qt::WindowMaximized);
  }
};

QTEST_MAIN(TMainFormTest)
#include "main_form_test.moc"
