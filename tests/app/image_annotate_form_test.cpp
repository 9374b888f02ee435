// The "Create 3D model" dialog: the buttons' chaining, the fields the steps read,
// errors that keep the dialog's state, and the hand-over to the viewer.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMdiArea>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "app/float_edit.h"
#include "app/image_annotate_form.h"
#include "app/integer_edit.h"
#include "app/main_form.h"
#include "app/mdi_child.h"
#include "app/view_3d_model_form.h"
#include "platform/program_setup.h"
#include "platform/registry.h"
#include "support/modal_answer.h"
#include "support/small_stereo_scene.h"
#include "support/temp_dir.h"

using namespace sq;

namespace {

void Type(QWidget* edit, const QString& text) {
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(edit, text);
}

}  // namespace

class TImageAnnotateFormTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowRunsTheWholeChainAndOpensTheViewer() {
    test::TSmallStereoScene scene;
    TImageAnnotateForm dialog(scene.Image1, scene.Image2, scene.Project);
    int viewerShown = 0;
    dialog.ShowViewer = [&](TSurfaceColorModel& model) {
      ++viewerShown;
      QVERIFY(model.ShowBackSides);
      QVERIFY(model.TriangleCount > 0);
    };
    dialog.show();
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.ShowModelButton));
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(viewerShown, 1);
    const TReconstructionPipeline& pipeline = dialog.Pipeline();
    QVERIFY(pipeline.HasWarp() && pipeline.HasMap() && pipeline.HasModel());
    QCOMPARE(pipeline.FilterPasses(), 1);
    QCOMPARE(dialog.ResultLabel->text(), QString("Point error: 0.0"));

    // "Apply filters" filters again each time; "Show 3D" uses the map as it is.
    dialog.ApplyFiltersButton->click();
    dialog.ApplyFiltersButton->click();
    QCOMPARE(pipeline.FilterPasses(), 3);
    dialog.ShowModelButton->click();
    QCOMPARE(pipeline.FilterPasses(), 3);
    QCOMPARE(viewerShown, 2);

    // "Reset" drops the map but keeps the warp.
    dialog.ResetButton->click();
    QVERIFY(!pipeline.HasMap() && pipeline.HasWarp());
  }

  void StepsReadTheFieldsAndSizeOneSkipsAFilter() {
    test::TSmallStereoScene scene;
    TImageAnnotateForm dialog(scene.Image1, scene.Image2, scene.Project);
    dialog.show();
    Type(dialog.MedianFilterEdit, "3-2");
    Type(dialog.SmoothFilterEdit, "1");
    dialog.CropCheckBox->setChecked(false);
    dialog.ApplyFiltersButton->click();
    const TReconstructionPipeline& pipeline = dialog.Pipeline();
    QVERIFY(!pipeline.Params.AutoCrop);
    QCOMPARE(pipeline.Params.MedianSize, 1);
    const TFloatMap& raw = pipeline.RawMap();
    const TFloatMap& map = pipeline.Map();
    QVERIFY(std::equal(raw.Map, raw.Map + raw.Count, map.Map));

    // The method lists start at the classic methods; the semi-global matcher needs no
    // filters and no Spread.
    QCOMPARE(dialog.WarpMethodBox->currentData().toInt(), int(TWarpMethod::Projective));
    QCOMPARE(dialog.MatcherMethodBox->currentData().toInt(), int(TMatcherMethod::DynamicProgramming));
    dialog.MatcherMethodBox->setCurrentIndex(dialog.MatcherMethodBox->findData(int(TMatcherMethod::SemiGlobal)));
    emit dialog.MatcherMethodBox->activated(dialog.MatcherMethodBox->currentIndex());
    QCOMPARE(dialog.MedianFilterEdit->Value(), 1);
    QVERIFY(!dialog.FloatEditSpread->isEnabled());
    dialog.DispMapButton->click();
    QCOMPARE(pipeline.Params.Matcher, TMatcherMethod::SemiGlobal);
    QVERIFY(pipeline.HasMap());
  }

  void AFailingBuildIsReportedAndKeepsTheState() {
    test::TSmallStereoScene scene;
    TImageAnnotateForm dialog(scene.Image1, scene.Image2, scene.Project);
    bool viewerShown = false;
    dialog.ShowViewer = [&](TSurfaceColorModel&) { viewerShown = true; };
    dialog.show();
    // The nearer square lies at disparity 4: with d = -4 its depth divides by zero.
    Type(dialog.FloatEditD, "-4");
    auto answer = test::AnswerNextModal();
    dialog.ShowModelButton->click();
    QVERIFY(answer->Text.contains("Try increasing d"));
    QVERIFY(!viewerShown);
    QVERIFY(dialog.Pipeline().HasMap());
    QVERIFY(dialog.isVisible());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void MainWindowOpensTheDialogWithTwoImagesAndModelFilesInTheViewer() {
    test::TTempDir config, files;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path().string()));
    ResetRegistryHives();
    {
      TMainForm form(QString::fromStdString(files.Path().string()));
      form.show();
      test::TSmallStereoScene scene;
      scene.Image1.SaveToFile(files.File("left.bmp"));
      scene.Image2.SaveToFile(files.File("right.bmp"));

      // One window: "3D model" does nothing; with two it opens the dialog.
      QString opened;
      test::AnswerNextModalWith([&opened](QWidget* dialog) { opened = dialog->metaObject()->className(); });
      form.OpenImageFile(QString::fromStdString(files.File("left.bmp")));
      form.Model3DClick();
      QCOMPARE(opened, QString());
      form.OpenImageFile(QString::fromStdString(files.File("right.bmp")));
      form.Model3DAction()->trigger();
      QCOMPARE(opened, QString("sq::TImageAnnotateForm"));

      // A model file named on the command line opens in the viewer.
      TSurfaceColorModel sphere;
      sphere.MakeSphere(5);
      sphere.SaveToFile(files.File("ball.ply"));
      int vertices = 0;
      test::AnswerNextModalWith([&vertices](QWidget* dialog) {
        if (auto* viewer = qobject_cast<TView3DModelForm*>(dialog)) vertices = viewer->ShownModel()->VertexCount;
      });
      form.ProcessCommandLine({QString::fromStdString(files.File("ball.ply"))});
      QCOMPARE(vertices, sphere.VertexCount);
      QCOMPARE(form.Children().size(), 2);
      for (TMDIChild* child : form.Children()) child->Modified = 0;
      form.MdiArea()->closeAllSubWindows();
    }
    FreeProgramSetup();
    ResetRegistryHives();
  }
};

QTEST_MAIN(TImageAnnotateFormTest)
#include "image_annotate_form_test.moc"
