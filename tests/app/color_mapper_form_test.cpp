// The colour mapper driven as a user would: presets, Apply and Cancel, Luminance, the
// map panel and the histogram read-outs.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include <cstring>

#include "app/color_map_panel.h"
#include "app/color_mapper_form.h"
#include "app/float_edit.h"
#include "imaging/codecs/color_map_file.h"
#include "support/modal.h"
#include "support/test_bitmaps.h"
#include "support/typing.h"

using namespace sq;
using sq::test::SamePixels;
using sq::test::TypeInto;
using sq::test::WhenModal;

namespace {

TLinearBitmap Mapped(const TLinearBitmap& source, const ToneMap& map) {
  TLinearBitmap result(source);
  ApplyToneMap(map, result, kPlaneAll);
  return result;
}

}  // namespace

class TColorMapperFormTest : public QObject {
  Q_OBJECT

 private slots:
  void PresetsBuildTheLibrarysMapsAndPreviewThem() {
    const TLinearBitmap original = test::GradientBitmap(64, 48);
    TLinearBitmap bitmap(original);
    int repaints = 0;
    TColorMapperForm form;
    WhenModal<TColorMapperForm>([&](TColorMapperForm* f) {
      QVERIFY(f->PlaneBox->isVisible());
      f->PresetBox->setCurrentIndex(cpGamma);
      TypeInto(f->Parameter1Edit, "2.2");
      QCOMPARE(f->Parameter1Bar->value(), 2200);
      QCOMPARE(f->State().Map(3), MakeGammaMap(2.2));
      QVERIFY(SamePixels(bitmap, Mapped(original, MakeGammaMap(2.2))));  // auto preview

      f->PresetBox->setCurrentIndex(cpBlackWhitePoint);
      f->Parameter1Bar->setValue(10);
      QCOMPARE(double(f->Parameter1Edit->Value()), 10.0);
      QCOMPARE(f->State().Map(3), MakeLevelsMap(10, 255));

      f->PresetBox->setCurrentIndex(cpEqualization);
      QCOMPARE(f->State().Map(3), MakeEqualizationMap(ComputeHistogram(original, kPlaneAll), 256));
      f->PresetBox->setCurrentIndex(cpExpression);
      QCOMPARE(f->State().Map(3), MakeExpressionMap(kDefaultMapExpression, ComputeHistogram(original, kPlaneAll)));
      // A broken expression keeps the last map and says why.
      f->ExpressionEdit->setText("x*(");
      QVERIFY(!f->StatusLabel->text().isEmpty());
      QCOMPARE(f->State().Map(3), MakeExpressionMap(kDefaultMapExpression, ComputeHistogram(original, kPlaneAll)));

      f->PresetBox->setCurrentIndex(cpThreshold);
      QCOMPARE(f->State().Map(3), MakeThresholdMap(127));
      QCOMPARE(f->ShownHistogram().Counts[0] + f->ShownHistogram().Counts[255], f->ShownHistogram().Total);
      QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    QVERIFY(!form.Execute(bitmap, [&] { ++repaints; }));
    QVERIFY(SamePixels(original, bitmap));
    QVERIFY(repaints > 0);
  }

  void ApplyThenCancelKeepsTheAppliedState() {
    const TLinearBitmap original = test::GradientBitmap(32, 32);
    TLinearBitmap bitmap(original);
    TColorMapperForm form;
    WhenModal<TColorMapperForm>([&](TColorMapperForm* f) {
      f->PresetBox->setCurrentIndex(cpGamma);
      TypeInto(f->Parameter1Edit, "2");
      QTest::mouseClick(f->ApplyButton, Qt::LeftButton);
      TypeInto(f->Parameter1Edit, "0.5");
      QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    QVERIFY(form.Execute(bitmap, {}));
    QVERIFY(SamePixels(bitmap, Mapped(original, MakeGammaMap(2))));

    // The next use starts from the identity; OK applies the further map to the new base.
    const TLinearBitmap applied(bitmap);
    WhenModal<TColorMapperForm>([&](TColorMapperForm* f) {
      QCOMPARE(f->State().Map(3), IdentityMap());
      f->PresetBox->setCurrentIndex(cpQuantizer);
      TypeInto(f->Parameter1Edit, "4");
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    QVERIFY(form.Execute(bitmap, {}));
    QVERIFY(SamePixels(bitmap, Mapped(applied, MakeQuantizerMap(4))));
  }

  void LuminanceRoundTripKeepsColours() {
    TLinearBitmap original = test::GradientBitmap(40, 20);
    uint8_t* grey = original.PixelAddress(3, 3);
    grey[0] = grey[1] = grey[2] = 100;
    TLinearBitmap bitmap(original);
    TColorMapperForm form;
    WhenModal<TColorMapperForm>([&](TColorMapperForm* f) {
      f->PresetBox->setCurrentIndex(cpGamma);
      f->PlaneBox->setCurrentIndex(mpLuminance);
      TypeInto(f->Parameter1Edit, "2");
      // Only the luminance moves: a grey pixel stays grey.
      const uint8_t* p = bitmap.PixelAddress(3, 3);
      QCOMPARE(int(p[0]), int(MakeGammaMap(2)[100]));
      QCOMPARE(int(p[1]), int(p[0]));
      QCOMPARE(int(p[2]), int(p[0]));
      // The identity on the luminance gives the document's pixels back exactly.
      f->PresetBox->setCurrentIndex(cpDefineCurve);
      QVERIFY(SamePixels(original, bitmap));
      f->PlaneBox->setCurrentIndex(mpAll);
      QVERIFY(SamePixels(original, bitmap));
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    QVERIFY(form.Execute(bitmap, {}));
    QVERIFY(SamePixels(original, bitmap));
  }

  void MapPanelEditsPointsAndReadsOutLevels() {
    TLinearBitmap bitmap = test::GradientBitmap(16, 16);
    TColorMapperForm form;
    WhenModal<TColorMapperForm>([&](TColorMapperForm* f) {
      f->PresetBox->setCurrentIndex(cpDefineCurve);
      QCOMPARE(int(f->State().Points().size()), 5);
      // A press far from every point adds one before the last and drags it there.
      QTest::mousePress(f->MapPanel, Qt::LeftButton, {}, QPoint(100, 255 - 180));
      QTest::mouseRelease(f->MapPanel, Qt::LeftButton, {}, QPoint(100, 255 - 180));
      QCOMPARE(int(f->State().Points().size()), 6);
      const int level = f->State().Map(3)[100];
      QVERIFY(std::abs(level - 180) <= 2);  // the curve passes through the new point
      QTest::mouseMove(f->MapPanel, QPoint(100, 10));
      QCOMPARE(f->LevelLabel->text(), QString("Level: 100 -> %1").arg(level));
      QVERIFY(f->PixelCountLabel->text().startsWith("Pixel count: "));
      // Delete removes the picked inner point.
      QTest::mousePress(f->MapPanel, Qt::LeftButton, {}, QPoint(101, 255 - 179));
      QTest::mouseRelease(f->MapPanel, Qt::LeftButton, {}, QPoint(101, 255 - 179));
      QTest::keyClick(f->MapPanel, Qt::Key_Delete);
      QCOMPARE(int(f->State().Points().size()), 5);
      QCOMPARE(f->State().Map(3), IdentityMap());
      QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    QVERIFY(!form.Execute(bitmap, {}));
  }

  void ShortMapFileFillsWhatItHasAndSaysSo() {
    // Loading goes through the file dialog; the status text is the visible part of the
    // partial load, checked here through the same path the button takes.
    const QString name = QDir::temp().filePath(QString("sq_short_%1.col").arg(QCoreApplication::applicationPid()));
    {
      QFile file(name);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(QByteArray(16, char(200)));
    }
    TLinearBitmap bitmap = test::GradientBitmap(16, 16);
    TColorMapperForm form;
    WhenModal<TColorMapperForm>([&](TColorMapperForm* f) {
      WhenModal([&](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(files);
        files->selectFile(name);
        QMetaObject::invokeMethod(files, "accept");
      });
      QTest::mouseClick(f->LoadButton, Qt::LeftButton);
      QVERIFY(f->StatusLabel->text().contains("16 of 256"));
      QCOMPARE(int(f->State().Map(3)[15]), 200);
      QCOMPARE(int(f->State().Map(3)[16]), 16);
      QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    form.Execute(bitmap, {});
    QFile::remove(name);
  }

  void SimpleModeHidesTheHistogram() {
    TColorMapperForm::SimpleModeSetting() = true;
    TColorMapperForm form;
    QVERIFY(form.HistogramGroup->isHidden());
    QCOMPARE(form.ModeButton->text(), QString("< >"));
    QTest::mouseClick(form.ModeButton, Qt::LeftButton);
    QVERIFY(!form.HistogramGroup->isHidden());
    QVERIFY(!TColorMapperForm::SimpleModeSetting());
  }
};

QTEST_MAIN(TColorMapperFormTest)
#include "color_mapper_form_test.moc"
