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
  std::unique_ptr<test::TTempDir> config_;
  std::unique_ptr<test::TTempDir> files_;
  std::unique_ptr<TMainForm> form_;

  TMDIChild* Open(const QString& fileName) {
    TMDIChild* child = form_->OpenImageFile(fileName);
    QCoreApplication::processEvents();
    return child;
  }

 private slots:
  void init() {
    config_ = std::make_unique<test::TTempDir>();
    files_ = std::make_unique<test::TTempDir>();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_->Path().string()));
    ResetRegistryHives();
    form_ = std::make_unique<TMainForm>(QString::fromStdString(files_->Path().string()));
    form_->resize(1000, 750);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }

  void cleanup() {
    for (TMDIChild* child : form_->Children()) child->Modified = 0;
    form_.reset();
    FreeProgramSetup();
    ResetRegistryHives();
  }

  void OpensImagesAsOneAndTwoWithMenuStates() {
    QVERIFY(!form_->SaveImageAction()->isEnabled());
    TMDIChild* a = Open(WriteImage(*files_, "a.png", 200, 100));
    QVERIFY(a);
    QCOMPARE(a->windowTitle(), QString("(1) a.png [1:1] 24 bit"));
    QVERIFY(form_->SaveImageAction()->isEnabled());
    QVERIFY(!form_->SwapImagesAction()->isEnabled());
    QVERIFY(!form_->ConnectPointsAction()->isEnabled());
    QVERIFY(form_->ReloadImageAction()->isEnabled());
    TMDIChild* b = Open(WriteImage(*files_, "b.png", 120, 90, pf8bit));
    QCOMPARE(b->windowTitle(), QString("(2) b.png [1:1] 256 colors"));
    QVERIFY(form_->SwapImagesAction()->isEnabled());
    QVERIFY(form_->ConnectPointsAction()->isEnabled());
    // No filters on palette images; "24 bit color" is offered instead.
    QVERIFY(!form_->SmoothAction()->isEnabled());
    QVERIFY(form_->To24BitAction()->isEnabled());
    form_->MdiArea()->setActiveSubWindow(a);
    QVERIFY(form_->SmoothAction()->isEnabled());
    QVERIFY(!form_->To24BitAction()->isEnabled());

    // A third image replaces the active window and takes its number.
    TMDIChild* c = Open(WriteImage(*files_, "c.png", 50, 40));
    QCOMPARE(form_->Children().size(), 2);
    QCOMPARE(c->ImageNumber, 1);

    // A damaged file shows its error and leaves the open windows alone.
    QFile junk(QString::fromStdString(*files_ / "junk.png"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("\x89PNG\r\n\x1a\n-not-really");
    junk.close();
    auto answer = test::AnswerNextModal("OK");
    QVERIFY(!form_->OpenImageFile(junk.fileName()));
    QVERIFY(answer->Seen);
    QVERIFY(answer->Text.startsWith(junk.fileName()));
    QCOMPARE(form_->Children().size(), 2);

    // A truncated JPEG still opens, and says what it lacks.
    const QString cut = WriteImage(*files_, "cut.jpg", 256, 256);
    QVERIFY(QFile::resize(cut, QFileInfo(cut).size() / 2));
    answer = test::AnswerNextModal("OK");
    TMDIChild* damaged = form_->OpenImageFile(cut);
    QVERIFY(damaged);
    QVERIFY(answer->Seen);
    QVERIFY(answer->Text.startsWith(cut + "\n"));
    QCOMPARE(damaged->Bitmap().Width, 256);
  }

  void PlacesSelectsAndDragsPointsInPointMode() {
    TMDIChild* a = Open(WriteImage(*files_, "a.png", 200, 100));
    TMDIChild* b = Open(WriteImage(*files_, "b.png", 200, 100));
    form_->PointModeAction()->trigger();
    QVERIFY(form_->PointModeAction()->isChecked());
    Click(a, QPoint(10, 10));
    CorrespondenceProject& project = form_->Project();
    QCOMPARE(project.PointCount, 1);
    QCOMPARE(project.Points[0], (PointPair{10, 10, 10, 10}));
    // Within 5 pixels at 1:1 the existing point is selected, not a new one added.
    Click(b, QPoint(14, 13));
    QCOMPARE(project.PointCount, 1);
    QCOMPARE(form_->SelectedPoint, 1);
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
    QCOMPARE(form_->StatusText(2), QString("200 x 100 24 bit"));

    form_->RemovePointAction()->trigger();
    QCOMPARE(project.PointCount, 0);
    QCOMPARE(form_->SelectedPoint, 0);
  }

  void ZoomsWithCaptionsAndClamps() {
    TMDIChild* a = Open(WriteImage(*files_, "b.png", 64, 48));
    QCOMPARE(a->Zoom(), 1);
    form_->ZoomOutAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) b.png [1:2] 24 bit"));
    form_->ZoomOutAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) b.png [1:3] 24 bit"));
    form_->ZoomInAction()->trigger();
    form_->ZoomInAction()->trigger();
    QCOMPARE(a->Zoom(), 1);
    for (int i = 0; i < 20; ++i) form_->ZoomInAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) b.png [16:1] 24 bit"));
    // In zoom mode a click zooms; the magnified view scrolls by whole image pixels.
    a->SetZoom(3);
    a->View()->horizontalScrollBar()->setValue(10);
    QCOMPARE(a->View()->horizontalScrollBar()->value() % 3, 0);
    Click(a, QPoint(5, 5), Qt::RightButton);
    QCOMPARE(a->Zoom(), 2);
  }

  void ConnectPointsBuildsTheMeshOrSelectsTheCulprit() {
    TMDIChild* a = Open(WriteImage(*files_, "a.png", 100, 100));
    Open(WriteImage(*files_, "b.png", 100, 100));
    CorrespondenceProject& project = form_->Project();
    project.AddPointPair(10, 10);
    project.AddPointPair(80, 10);
    project.AddPointPair(40, 70);
    form_->ConnectPointsAction()->trigger();
    QCOMPARE(form_->EditMode(), TriangleMode);
    QCOMPARE(project.TriangleCount, 1);

    form_->ZoomModeAction()->trigger();
    project.AddPointPair(10, 10);  // a duplicate of point 1
    auto answer = test::AnswerNextModal("OK");
    form_->ConnectPointsAction()->trigger();
    QCOMPARE(answer->Text, QString("Can't avoid crossing lines"));
    QCOMPARE(form_->SelectedPoint, 1);
    QCOMPARE(form_->EditMode(), ZoomMode);

    // Points outside an image: the question, and on Yes they go.
    project.PointCount = 3;
    project.AddPointPair(60, 40);
    project.MovePoint(3, 1, 150, 50);
    answer = test::AnswerNextModal("Yes");
    form_->ConnectPointsAction()->trigger();
    QCOMPARE(answer->Text, QString("Point defined outside image. Remove all invalid remove points?"));
    QCOMPARE(project.PointCount, 3);
    QCOMPARE(form_->EditMode(), TriangleMode);
    Q_UNUSED(a);
  }

  void SavesAndReopensAProject() {
    const QString aName = WriteImage(*files_, "left.png", 80, 60);
    const QString bName = WriteImage(*files_, "right.png", 80, 60);
    Open(aName);
    Open(bName);
    form_->Project().AddPointPair(5, 6);
    form_->Project().MovePoint(1, 2, 7, 8);
    const QString project = QString::fromStdString(*files_ / "pair.kst");
    form_->SaveProject(project);
    form_->Project().PointCount = 0;
    form_->OpenProjectFile(project);
    QCOMPARE(form_->windowTitle(), project + " - Stereoquill");
    QCOMPARE(form_->Project().PointCount, 1);
    QCOMPARE(form_->Project().Points[0], (PointPair{5, 6, 7, 8}));
    const auto children = form_->Children();
    QCOMPARE(children.size(), 2);
    QCOMPARE(children[0]->FileName, aName);
    QCOMPARE(children[0]->ImageNumber, 1);
    QCOMPARE(children[1]->ImageNumber, 2);
    QCOMPARE(form_->AnimPath, QFileInfo(project).absolutePath());

    // A modified window that refuses to close abandons the load and keeps the project.
    children[0]->Modified = 1;
    auto answer = test::AnswerNextModal("Cancel");
    QVERIFY(!form_->LoadProject(project));
    QVERIFY(answer->Text.endsWith(" not saved. Save now?"));
    QCOMPARE(form_->Children().size(), 1);
    QCOMPARE(form_->Project().PointCount, 1);
  }

  void UndoesAndRedoesImageCommandsOfTheActiveWindow() {
    TMDIChild* a = Open(WriteImage(*files_, "a.png", 40, 30));
    TMDIChild* b = Open(WriteImage(*files_, "b.png", 40, 30));
    form_->MdiArea()->setActiveSubWindow(a);
    const TLinearBitmap original(a->Bitmap());
    QVERIFY(!form_->UndoAction()->isEnabled());
    form_->InvertAction()->trigger();
    QCOMPARE(a->Modified, 1);
    QCOMPARE(a->Bitmap().Map[0], uint8_t(255 - original.Map[0]));
    a->Modified = 0;  // as if saved now
    form_->SmoothAction()->trigger();
    QCOMPARE(form_->UndoAction()->text(), QString("&Undo Smooth"));
    form_->UndoAction()->trigger();
    form_->UndoAction()->trigger();
    QCOMPARE(a->Modified, 10000);  // below zero: changed relative to the file
    QVERIFY(std::memcmp(a->Bitmap().Map, original.Map, size_t(original.Size)) == 0);
    QCOMPARE(form_->RedoAction()->text(), QString("&Redo Invert"));
    form_->RedoAction()->trigger();
    QCOMPARE(a->Bitmap().Map[0], uint8_t(255 - original.Map[0]));

    form_->GrayscaleAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) a.png [1:1] Gray"));
    QVERIFY(!form_->GrayscaleAction()->isEnabled());
    form_->UndoAction()->trigger();
    QCOMPARE(a->windowTitle(), QString("(1) a.png [1:1] 24 bit"));

    // The history belongs to one image.
    form_->MdiArea()->setActiveSubWindow(b);
    QVERIFY(!form_->UndoAction()->isEnabled());
    QVERIFY(!form_->RedoAction()->isEnabled());
  }

  void CopiesAndPastesThroughTheClipboard() {
    TMDIChild* a = Open(WriteImage(*files_, "a.png", 30, 20));
    form_->CopyAction()->trigger();
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QVERIFY(data->hasImage());
    QVERIFY(data->hasFormat("image/bmp"));
    QVERIFY(form_->PasteAction()->isEnabled());
    form_->PasteAction()->trigger();
    const auto children = form_->Children();
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
    form_->PasteAction()->trigger();
    TMDIChild* third = form_->ActiveChild();
    QCOMPARE(third->Bitmap().Width, 7);
    QCOMPARE(third->Bitmap().ScanLine(0)[2], uint8_t(10));
  }

  void TilesAlternatelyAndDescribesFeatures() {
    TMDIChild* a = Open(WriteImage(*files_, "a.png", 30, 20));
    TMDIChild* b = Open(WriteImage(*files_, "b.png", 30, 20));
    form_->TileAction()->trigger();
    QCOMPARE(a->y(), b->y());  // side by side
    form_->TileAction()->trigger();
    QCOMPARE(a->x(), b->x());  // one above the other

    const QString text = form_->FeatureText();
    QVERIFY(text.contains(QString(QChar(0xA7)) + "File | New\nBegin new animation."));
    QVERIFY(text.contains(QString(QChar(0xA7)) + "Image | Filters | Sharpen\nSharpen image."));
    QVERIFY(!text.contains("Run"));  // the hidden animation menu stays out
  }

  void SavesAndReloadsKeepingTheImageWhenTheDiskFails() {
    const QString name = WriteImage(*files_, "a.png", 40, 30);
    TMDIChild* a = Open(name);
    const TLinearBitmap original(a->Bitmap());
    form_->InvertAction()->trigger();
    QVERIFY(a->SaveImage());
    QCOMPARE(a->Modified, 0);
    TLinearBitmap onDisk;
    onDisk.LoadFromFile(name.toStdString());
    QCOMPARE(onDisk.Map[0], uint8_t(255 - original.Map[0]));

    // Reload brings back the file and can be undone.
    form_->InvertAction()->trigger();
    form_->ReloadImageAction()->trigger();
    QCOMPARE(a->Modified, 0);
    QCOMPARE(a->Bitmap().Map[0], onDisk.Map[0]);
    QCOMPARE(form_->UndoAction()->text(), QString("&Undo Reload image"));

    // A file that went away: the error is shown, the image and its changes stay.
    form_->InvertAction()->trigger();
    QVERIFY(QFile::remove(name));
    auto answer = test::AnswerNextModal("OK");
    form_->ReloadImageAction()->trigger();
    QVERIFY(answer->Seen);
    QCOMPARE(a->Modified, 1);
    QCOMPARE(a->Bitmap().Map[0], original.Map[0]);
    QCOMPARE(form_->UndoAction()->text(), QString("&Undo Invert"));
    // A folder that cannot be written: the save fails, the change is still unsaved.
    a->FileName = QString::fromStdString(*files_ / "no-such-folder/a.png");
    answer = test::AnswerNextModal("OK");
    QVERIFY(!a->SaveImage());
    QVERIFY(answer->Seen);
    QCOMPARE(a->Modified, 1);
  }

  void PointCommandsSwapCornersAndNew() {
    TMDIChild* a = Open(WriteImage(*files_, "a.png", 64, 48));
    TMDIChild* b = Open(WriteImage(*files_, "b.png", 64, 48));
    CorrespondenceProject& project = form_->Project();
    project.AddPointPair(1, 2);
    project.MovePoint(1, 2, 3, 4);
    form_->SwapImagesAction()->trigger();
    QCOMPARE(project.Points[0], (PointPair{3, 4, 1, 2}));
    QCOMPARE(a->windowTitle(), QString("(2) a.png [1:1] 24 bit"));
    QCOMPARE(b->ImageNumber, 1);

    form_->MdiArea()->setActiveSubWindow(a);
    form_->AddCornerPointsAction()->trigger();
    QCOMPARE(project.PointCount, 5);
    QCOMPARE(project.Points[4], (PointPair{63, 47, 63, 47}));

    form_->SetProjectFileName("/somewhere/p.kst");
    auto answer = test::AnswerNextModal("No");
    form_->NewAction()->trigger();
    QCOMPARE(answer->Text, QString("Remove ALL defined points?"));
    QCOMPARE(project.PointCount, 5);
    QCOMPARE(form_->windowTitle(), QString("/somewhere/p.kst - Stereoquill"));
    answer = test::AnswerNextModal("Yes");
    form_->NewAction()->trigger();
    QCOMPARE(project.PointCount, 0);
    QCOMPARE(form_->windowTitle(), QString("Stereoquill"));
  }

  void ShowsProgressAndOpensDroppedFiles() {
    form_->ShowProgress(37);
    QCOMPARE(form_->StatusText(0), QString("37%"));
    form_->ShowProgress(100);
    QCOMPARE(form_->StatusText(0), QString());

    const QString image = WriteImage(*files_, "dropped.png", 20, 10);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(image)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form_.get(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(form_->Children().size(), 1);
    QCOMPARE(form_->Children().first()->FileName, image);
  }

  void WritesTheSettingsAtExit() {
    form_->ImagePath = "/images/here";
    form_->close();
    TProgramSetup setup(kProgramKey);
    QCOMPARE(setup.ReadString("ImagePath", ""), std::string("/images/here"));
    QCOMPARE(setup.ReadString("AnimPath", ""), files_->Path().string());
    QVERIFY(setup.ReadInteger("WindowState", -1) >= 0);

    // A window state stored as text is ignored: the default is maximised.
    setup.WriteString("WindowState", "0");
    TMainForm again(QString::fromStdString(files_->Path().string()));
    QVERIFY(again.windowState() & Qt::WindowMaximized);
  }
};

QTEST_MAIN(TMainFormTest)
#include "main_form_test.moc"
