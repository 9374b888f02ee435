// The 3D viewer driven as a user drives it: menu entries, short-cuts, drags, files.
#include <cmath>
#include <numbers>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "app/model_render_panel.h"
#include "app/view_3d_model_form.h"
#include "app/vrml_export_form.h"
#include "model3d/light.h"
#include "model3d/stereo_3d_renderer.h"
#include "model3d/texture_model.h"
#include "support/modal_answer.h"
#include "support/temp_dir.h"

using namespace sq;

namespace {

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, modifiers);
  QApplication::sendEvent(widget, &event);
}

// Presses the left button at from, moves to to in one step and releases it.
void Drag(QWidget* widget, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
          bool release = true) {
  SendMouse(widget, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, modifiers);
  SendMouse(widget, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, modifiers);
  if (release) SendMouse(widget, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
}

std::unique_ptr<TSurfaceColorModel> MakeCube() {
  auto model = std::make_unique<TSurfaceColorModel>();
  model->MakeSphere(4);
  model->FillColor(0x3366CC);
  return model;
}

}  // namespace

class TView3DModelFormTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Remembered folders go to a scratch settings store, not the user's.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.Path().string()));
  }

  void WithoutAModelShowsTheLitRedSphere() {
    TView3DModelForm viewer(false);
    viewer.show();
    auto* sphere = dynamic_cast<TSurfaceColorModel*>(viewer.ShownModel());
    QVERIFY(sphere && viewer.OwnsModel());
    QCOMPARE(sphere->VertexCount, 28 * 30 + 2);  // both poles merged into one point each
    QCOMPARE(sphere->Colors.front(), 0xFF0000u);
    QVERIFY(viewer.ReflectionStandardAction->isChecked());
    QVERIFY(sphere->Shading);
    QVERIFY(!viewer.FileMenu->menuAction()->isVisible());
    QVERIFY(!viewer.OpenAction->isEnabled());
    // The picture shows the sphere on the dark red background.
    const QImage& picture = viewer.Panel()->Picture();
    QCOMPARE(picture.size(), viewer.Panel()->size());
    QCOMPARE(picture.pixel(0, 0) & 0xFFFFFF, 0x400000u);
    const QRgb centre = picture.pixel(picture.width() / 2, picture.height() / 2);
    QVERIFY(qRed(centre) > 100 && qGreen(centre) == 0);
  }

  void MenuFollowsTheModelClass() {
    TBase3DModel points;
    points.SetVertexCount(3);
    TView3DModelForm viewer(true);
    viewer.SetModel(&points);
    viewer.show();
    QVERIFY(viewer.RenderActions[0]->isVisible() && viewer.RenderActions[1]->isVisible());
    for (int tag = 2; tag < 8; ++tag) QVERIFY(!viewer.RenderActions[tag]->isVisible());
    QVERIFY(!viewer.ReflectionMenu->menuAction()->isVisible());
    QVERIFY(!viewer.SetColorAction->isVisible() && !viewer.MelaxAction->isVisible());
    QVERIFY(viewer.RemoveDuplicatesAction->isVisible());
    // A hidden render mode's short-cut changes nothing; a shown one's does.
    viewer.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&viewer));
    QTest::keyClick(&viewer, Qt::Key_F6, Qt::ShiftModifier);
    QCOMPARE(points.RenderMode, uint32_t(rmDefault));
    QTest::keyClick(&viewer, Qt::Key_F2, Qt::ShiftModifier);
    QCOMPARE(points.RenderMode, uint32_t(rmPoints));
    QVERIFY(viewer.RenderActions[1]->isChecked());

    auto surface = MakeCube();
    viewer.SetModel(surface.get());
    for (int tag : {2, 3, 4, 5}) QVERIFY(viewer.RenderActions[tag]->isVisible());
    QVERIFY(!viewer.RenderActions[6]->isVisible());
    QVERIFY(viewer.ReflectionMenu->menuAction()->isVisible() && viewer.BackSidesAction->isVisible());
    viewer.RenderActions[4]->trigger();
    QCOMPARE(surface->RenderMode, uint32_t(rmFlat));

    TTextureModel textured;
    textured.MakeSphere(4);
    viewer.SetModel(&textured);
    QVERIFY(viewer.RenderActions[6]->isVisible() && viewer.RenderActions[7]->isVisible());
    QVERIFY(!viewer.RemoveDuplicatesAction->isVisible());
  }

  void ReflectionBackSidesAndStereo() {
    auto model = MakeCube();
    model->ShowBackSides = false;
    model->UseNormals = model->Shading = true;
    TView3DModelForm viewer(false);
    viewer.SetModel(model.get());
    viewer.show();
    QVERIFY(viewer.ReflectionStandardAction->isChecked());
    QVERIFY(!viewer.BackSidesAction->isChecked());

    // "None" hides nothing but switches shading off; back faces are still culled.
    viewer.ReflectionNoneAction->trigger();
    QVERIFY(!model->Shading);
    QVERIFY(model->UseNormals);
    QVERIFY(viewer.ReflectionMenu->menuAction()->isVisible());
    viewer.BackSidesAction->trigger();
    QVERIFY(model->ShowBackSides && !model->UseNormals);
    viewer.ReflectionShinyAction->trigger();
    QVERIFY(model->Shading && model->UseNormals);
    QVERIFY(model->LightFunction == (viewer.Settings().AmbientLight != 0 ? &LightShinyAmbient : &LightShiny));

    // Stereo twice returns to the plain renderer, looking along the same light.
    const T3DPoint light = viewer.Settings().LightVector;
    viewer.StereoAction->trigger();
    QVERIFY(dynamic_cast<const TStereo3DRenderer*>(&viewer.Renderer()));
    viewer.StereoAction->trigger();
    QVERIFY(!dynamic_cast<const TStereo3DRenderer*>(&viewer.Renderer()));
    QCOMPARE(viewer.Renderer().LightDirection.X, light.X);
    QCOMPARE(viewer.Renderer().LightDirection.Z, light.Z);
  }

  void AmbientLightAndMelaxTakeExpressions() {
    TView3DModelForm viewer(false);
    viewer.show();
    test::AnswerNextModalWith([](QWidget* dialog) {
      auto* input = qobject_cast<QInputDialog*>(dialog);
      QVERIFY(input);
      QCOMPARE(input->labelText(), QString("Ambient light level (0-1):"));
      input->setTextValue("1/4");
      input->accept();
    });
    viewer.AmbientLightAction->trigger();
    QCOMPARE(viewer.Settings().AmbientLight, 0.25f);
    QVERIFY(static_cast<TSurfaceColorModel*>(viewer.ShownModel())->LightFunction == &LightStandardAmbient);

    // A level outside the range is refused and the level stays.
    test::AnswerNextModalWith([](QWidget* dialog) {
      auto* input = qobject_cast<QInputDialog*>(dialog);
      input->setTextValue("2");
      input->accept();
      test::AnswerNextModal();
    });
    viewer.AmbientLightAction->trigger();
    QCOMPARE(viewer.Settings().AmbientLight, 0.25f);

    QString info;
    const int before = viewer.ShownModel()->VertexCount;
    test::AnswerNextModalWith([&info, before](QWidget* dialog) {
      auto* input = qobject_cast<QInputDialog*>(dialog);
      QCOMPARE(input->textValue(), QString::number(before - 1));
      input->setTextValue("100/2.5");
      input->accept();
      test::AnswerNextModalWith([&info](QWidget* box) { info = qobject_cast<QMessageBox*>(box)->text(); });
    });
    viewer.MelaxAction->trigger();
    const auto* reduced = static_cast<TSurfaceColorModel*>(viewer.ShownModel());
    QVERIFY(reduced->VertexCount <= 40);
    QCOMPARE(
        info,
        QString("Number of points: \t%1\nNumber of faces: \t%2").arg(reduced->VertexCount).arg(reduced->TriangleCount));
  }

  void DragsRotateMoveAndZoom() {
    TView3DModelForm viewer(false);
    viewer.show();
    QWidget* panel = viewer.Panel();

    // 100 pixels to the right at zoom 100 turn the model 60 degrees about the vertical axis.
    Drag(panel, {100, 100}, {200, 100});
    const T3DMatrix& r = viewer.Settings().Rotation;
    QVERIFY(std::abs(r[0][0] - 0.5) < 1e-12);
    QVERIFY(std::abs(r[0][2] - std::sqrt(3.0) / 2) < 1e-12);
    QVERIFY(std::abs(r[1][1] - 1.0) < 1e-12);

    // Shift moves whatever the mode; the wheel moves only in Move mode or with Shift.
    Drag(panel, {100, 100}, {110, 130}, Qt::ShiftModifier);
    QCOMPARE(viewer.Settings().ShiftX, 10);
    QCOMPARE(viewer.Settings().ShiftY, 30);
    auto wheel = [panel](Qt::KeyboardModifiers modifiers) {
      QWheelEvent event(QPointF(50, 50), panel->mapToGlobal(QPointF(50, 50)), {}, QPoint(0, 120), Qt::NoButton,
                        modifiers, Qt::NoScrollPhase, false);
      QApplication::sendEvent(panel, &event);
    };
    wheel(Qt::NoModifier);
    QCOMPARE(viewer.Settings().ShiftZ, 0);
    wheel(Qt::ShiftModifier);
    QCOMPARE(viewer.Settings().ShiftZ, 60);

    // Dragging up enlarges; however far the mouse goes down, the zoom stays at least 1.
    viewer.ZoomAction->trigger();
    QVERIFY(!viewer.RotateAction->isChecked());
    Drag(panel, {100, 300}, {100, 250});
    QCOMPARE(viewer.Settings().Zoom, 150.0);
    Drag(panel, {100, 0}, {100, 5000});
    QCOMPARE(viewer.Settings().Zoom, 1.0);

    // With Ctrl held the drag draws points only, until Ctrl is released.
    viewer.ResetViewButton->click();
    QCOMPARE(viewer.Settings().Zoom, 100.0);
    viewer.RotateAction->trigger();
    viewer.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&viewer));
    Drag(panel, {100, 100}, {120, 100}, Qt::ControlModifier);
    QVERIFY(viewer.PictureIsQuick());
    QTest::keyRelease(&viewer, Qt::Key_Control);
    QVERIFY(!viewer.PictureIsQuick());
  }

  void OpensModelFilesInTheirColours() {
    QTemporaryDir folder;
    auto model = MakeCube();
    model->Colors[0] = 0x123456;
    const std::string m3d = folder.filePath("coloured.m3d").toStdString();
    model->SaveToFile(m3d);

    TView3DModelForm viewer(true);
    viewer.SetFileName(m3d);
    viewer.show();
    auto* opened = dynamic_cast<TTextureModel*>(viewer.ShownModel());
    QVERIFY(opened && viewer.OwnsModel());
    // Without a texture: a 2 x 1 one of the model colour, Gouraud, no ambient light.
    QCOMPARE(opened->Texture.Width, 2);
    QCOMPARE(opened->Texture.Height, 1);
    QVERIFY(viewer.RenderActions[5]->isChecked());
    QCOMPARE(opened->RenderMode, uint32_t(rmGouraud));
    QCOMPARE(viewer.Settings().AmbientLight, 0.0f);
    QVERIFY(viewer.RenderActions[7]->isVisible());
    // The file's colours stay: the model colour only fills the placeholder texture.
    QCOMPARE(opened->Colors, model->Colors);

    // A damaged file: the error is shown and what was read stays on show.
    QFile damaged(folder.filePath("damaged.ply"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("ply\nformat ascii 1.0\nelement vertex 99\nproperty float x\n");
    damaged.close();
    auto answer = test::AnswerNextModal();
    viewer.OpenModel(damaged.fileName().toStdString());
    QVERIFY(answer->Text.startsWith("Error loading model:\n"));
    QVERIFY(viewer.ShownModel() != nullptr);
  }

  void VrmlSaveAsksForOptionsAndCancelKeepsTheFile() {
    QTemporaryDir folder;
    TTextureModel model;
    model.MakeSphere(4);
    model.Texture.New(4, 4, pf24bit);
    model.Texture.ClearColor(0x808080);
    TView3DModelForm viewer(true);
    viewer.SetModel(&model);
    viewer.show();

    const QString wrl = folder.filePath("face.wrl");
    QFile existing(wrl);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();
    test::AnswerNextModalWith([](QWidget* dialog) { QVERIFY(qobject_cast<TVRMLExportForm*>(dialog)); });
    viewer.SaveModel(wrl.toStdString());
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep me"));
    existing.close();

    test::AnswerNextModalWith([](QWidget* dialog) {
      auto* form = qobject_cast<TVRMLExportForm*>(dialog);
      QVERIFY(form->TextureFormatGroup->isEnabled());
      form->TextureFormatButtons->button(1)->click();  // PNG
      form->NormalsCheckBox->setChecked(false);
      form->OkButton->click();
    });
    viewer.SaveModel(wrl.toStdString());
    QVERIFY(QFile::exists(folder.filePath("face.png")));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    const QByteArray text = existing.readAll();
    QVERIFY(text.startsWith("#VRML V2.0 utf8\n"));
    QVERIFY(text.contains("url \"face.png\""));
    QVERIFY(!text.contains("normal Normal"));

    // Without a real texture the format shows "None" and cannot be changed, and the
    // format chosen before stays for the next textured model.
    TVRMLExportForm form;
    form.SetOptions(TVRMLExportOptions{}, false);
    QVERIFY(!form.TextureFormatGroup->isEnabled());
    QCOMPARE(form.TextureFormatButtons->checkedId(), int(TVRMLTextureFormat::None));
    QCOMPARE(form.Options().TextureFormat, TVRMLTextureFormat::PNG);
  }

 private:
  test::TTempDir config_;
};

QTEST_MAIN(TView3DModelFormTest)
#include "view_3d_model_form_test.moc"
