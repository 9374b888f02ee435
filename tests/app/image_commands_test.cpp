// The image commands of the main window around their dialogs: undo snapshots kept or
// dropped, points following a resize, two images accommodated, the auto colour
// correction's mode question.
#include <QAction>
#include <QComboBox>
#include <QMdiArea>
#include <QPushButton>
#include <QtTest>

#include <cstring>

#include "app/color_mapper_form.h"
#include "app/float_edit.h"
#include "app/integer_edit.h"
#include "app/main_form.h"
#include "app/mdi_child.h"
#include "app/resize_form.h"
#include "app/rotate_form.h"
#include "imaging/ops/auto_color.h"
#include "imaging/ops/tone_map.h"
#include "platform/program_setup.h"
#include "platform/registry.h"
#include "support/main_form_session.h"
#include "support/modal.h"
#include "support/modal_answer.h"
#include "support/temp_dir.h"
#include "support/test_bitmaps.h"

using namespace sq;
using sq::test::SamePixels;
using sq::test::WhenModal;

class TImageCommandsTest : public QObject {
  Q_OBJECT

 private:
  test::TMainFormSession session_;

  TMDIChild* Open(const std::string& name, const TLinearBitmap& image) {
    image.SaveToFile(session_.Files->File(name));
    TMDIChild* child = session_.Form->OpenImageFile(QString::fromStdString(session_.Files->File(name)));
    QCoreApplication::processEvents();
    return child;
  }

 private slots:
  void init() { session_.Start(); }
  void cleanup() { session_.Finish(); }

  void ResizeRescalesPointsAndCancelledDialogsDropTheirSnapshot() {
    TMDIChild* one = Open("a.bmp", test::GradientBitmap(200, 100));
    Open("b.bmp", test::GradientBitmap(200, 100));
    CorrespondenceProject& project = session_.Form->Project();
    project.AddPointPair(40, 30);
    session_.Form->MdiArea()->setActiveSubWindow(one);

    WhenModal<TResizeForm>([](TResizeForm* f) {
      f->WidthEdit->setFocus();
      f->WidthEdit->selectAll();
      QTest::keyClicks(f->WidthEdit, "w/2");
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    session_.Form->ResizeAction()->trigger();
    QCOMPARE(one->Bitmap().Width, 100);
    QCOMPARE(one->Bitmap().Height, 50);
    QCOMPARE(project.Points[0], (PointPair{20, 15, 40, 30}));  // only image 1's set
    QCOMPARE(one->Modified, 1);
    QCOMPARE(session_.Form->UndoList().UndoCount(), 1);

    // Cancelled dialogs leave the image, the counter and the history as they were.
    const TLinearBitmap before(one->Bitmap());
    WhenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    session_.Form->RotateAction()->trigger();
    WhenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    session_.Form->NoiseReductionAction()->trigger();
    WhenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    session_.Form->ColorMapperAction()->trigger();
    WhenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    session_.Form->ResizeAction()->trigger();
    QVERIFY(SamePixels(before, one->Bitmap()));
    QCOMPARE(one->Modified, 1);
    QCOMPARE(session_.Form->UndoList().UndoCount(), 1);

    // A confirmed colour map is one step to undo.
    WhenModal<TColorMapperForm>([](TColorMapperForm* f) {
      f->PresetBox->setCurrentIndex(cpGamma);
      f->Parameter1Edit->setText("2");
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    session_.Form->ColorMapperAction()->trigger();
    QCOMPARE(one->Modified, 2);
    QCOMPARE(session_.Form->UndoList().UndoCount(), 2);
    session_.Form->UndoAction()->trigger();
    QVERIFY(SamePixels(before, one->Bitmap()));
  }

  void AccommodateMovesAndCropsBothImagesSoThePairsLineUp() {
    const TLinearBitmap scene = test::GradientBitmap(240, 180);
    // Image 2 sees the scene 30 pixels further right and 10 further down.
    TLinearBitmap shifted(scene);
    shifted.ResizeCanvas(200, 150, 0, -10, -30);
    TLinearBitmap first(scene);
    first.ResizeCanvas(220, 170, 0, 0, 0);
    TMDIChild* one = Open("one.bmp", first);
    TMDIChild* two = Open("two.bmp", shifted);
    CorrespondenceProject& project = session_.Form->Project();
    for (const PointPair pair : {PointPair{50, 40, 20, 30}, PointPair{150, 120, 121, 110}}) {
      const int index = project.AddPointPair(pair.x1, pair.y1);
      project.MovePoint(index, 2, pair.x2, pair.y2);
    }

    WhenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    session_.Form->AccommodateAction()->trigger();
    // Shift (30, 10) rounded from (29.5, 10): image 1 keeps x 30..219, y 10..159.
    QCOMPARE(one->Bitmap().Width, 190);
    QCOMPARE(one->Bitmap().Height, 150);
    QCOMPARE(two->Bitmap().Width, 190);
    QCOMPARE(two->Bitmap().Height, 150);
    QVERIFY(std::memcmp(one->Bitmap().ScanLine(7), two->Bitmap().ScanLine(7), 190 * 3) == 0);
    QCOMPARE(project.Points[0], (PointPair{20, 30, 20, 30}));
    QCOMPARE(project.Points[1], (PointPair{120, 110, 121, 110}));
    QCOMPARE(one->Modified, 1);
    QCOMPARE(two->Modified, 1);

    // Without overlap nothing changes and the user is told why.
    project.MovePoint(1, 2, -10, 0);
    project.MovePoint(2, 2, -10, 0);
    project.MovePoint(1, 1, 189, 149);
    project.MovePoint(2, 1, 189, 149);
    const auto answer = test::AnswerNextModal();
    session_.Form->AccommodateAction()->trigger();
    QCOMPARE(answer->Text, QString("The images do not overlap after the shift"));
    QCOMPARE(one->Bitmap().Width, 190);
  }

  void AutoColorCorrectionAsksForTheModeOf24BitImages() {
    const TLinearBitmap original = test::GradientBitmap(64, 64);
    TMDIChild* child = Open("c.bmp", original);
    auto answer = test::AnswerNextModal("Cancel");
    session_.Form->AutoColorAction()->trigger();
    QCOMPARE(answer->Text, QString("Select color corection mode"));
    QVERIFY(SamePixels(original, child->Bitmap()));
    QCOMPARE(child->Modified, 0);

    answer = test::AnswerNextModal("Luminance plane");
    session_.Form->AutoColorAction()->trigger();
    TLinearBitmap expected(original);
    AutoColorCorrect(expected, {}, TAutoColorMode::Luminance);
    QVERIFY(SamePixels(expected, child->Bitmap()));
    QCOMPARE(child->Modified, 1);
  }
};

QTEST_MAIN(TImageCommandsTest)
#include "image_commands_test.moc"
