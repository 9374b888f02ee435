// The Resize, Rotate and noise-reduction dialogs driven as a user would.
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <cstring>

#include "app/float_edit.h"
#include "app/integer_edit.h"
#include "app/noise_reduction_form.h"
#include "app/resize_form.h"
#include "app/rotate_form.h"
#include "imaging/ops/adaptive_smooth.h"
#include "numeric/expression.h"
#include "numeric/library.h"
#include "support/modal.h"
#include "support/test_bitmaps.h"
#include "support/typing.h"

using namespace sq;
using sq::test::SamePixels;
using sq::test::TypeInto;
using sq::test::WhenModal;

class TImageDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void ResizeKeepsTheRatioAndReportsTheFactors() {
    TLinearBitmap bitmap = test::GradientBitmap(200, 100);
    TResizeForm form(bitmap);
    // w, h and r stand for the current size while the dialog is open.
    QCOMPARE(double(EvaluateExpression("w*h*r")), 200.0 * 100 * 2);
    QCOMPARE(form.RatioCheckBox->text(), QString("Maintain aspect &ratio r=2"));
    WhenModal<TResizeForm>([](TResizeForm* f) {
      TypeInto(f->WidthEdit, "w/4");
      QCOMPARE(f->HeightEdit->Value(), 25);
      QCOMPARE(double(f->HeightPercentEdit->Value()), 25.0);
      f->RatioCheckBox->setChecked(false);
      TypeInto(f->HeightPercentEdit, "50");
      QCOMPARE(f->HeightEdit->Value(), 50);
      QCOMPARE(f->WidthEdit->Value(), 50);
      f->MethodBox->setCurrentIndex(f->MethodBox->findText("Pixel resize"));
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    QVERIFY(form.Execute());
    QCOMPARE(bitmap.Width, 50);
    QCOMPARE(bitmap.Height, 50);
    QCOMPARE(form.FactorX, 0.25);
    QCOMPARE(form.FactorY, 0.5);
    QCOMPARE(TResizeForm::RememberedMethod(), TResizeMethod::Pixel);

    // OK with the size unchanged changes nothing and reports no factors.
    const TLinearBitmap before(bitmap);
    TResizeForm again(bitmap);
    QCOMPARE(again.MethodBox->currentText(), QString("Pixel resize"));
    WhenModal<TResizeForm>([](TResizeForm* f) { QTest::mouseClick(f->OkButton, Qt::LeftButton); });
    QVERIFY(!again.Execute());
    QCOMPARE(again.FactorX, 1.0);
    QVERIFY(SamePixels(before, bitmap));
  }

  void ResizeNamesLeaveWithTheDialog() {
    TLinearBitmap bitmap = test::GradientBitmap(4, 4);
    { TResizeForm form(bitmap); }
    QVERIFY(StandardSymbols().IndexOf("w") < 0);
    QVERIFY(StandardSymbols().IndexOf("r") < 0);
  }

  void RotateThreeQuarterTurnsLeftEqualsOneOf270() {
    TRotateForm::SetRememberedAngle(0);
    TLinearBitmap stepwise = test::GradientBitmap(7, 4);
    TLinearBitmap direct(stepwise);
    TRotateForm form;
    for (int i = 0; i < 3; ++i) {
      WhenModal<TRotateForm>([](TRotateForm* f) {
        QVERIFY(f->LeftButton->isChecked());
        QVERIFY(f->AngleButtons[0]->isChecked());
        QTest::mouseClick(f->OkButton, Qt::LeftButton);
      });
      QVERIFY(form.Execute(stepwise));
    }
    WhenModal<TRotateForm>([](TRotateForm* f) {
      f->AngleButtons[2]->setChecked(true);
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    QVERIFY(form.Execute(direct));
    QVERIFY(SamePixels(stepwise, direct));
    QCOMPARE(direct.Width, 4);
    QCOMPARE(TRotateForm::RememberedAngle(), 270.0);

    // The next use starts from the remembered angle; cancelling leaves the image and the
    // remembered angle alone.
    const TLinearBitmap before(direct);
    WhenModal<TRotateForm>([](TRotateForm* f) {
      QVERIFY(f->AngleButtons[2]->isChecked());
      f->RightButton->setChecked(true);
      TypeInto(f->FreeAngleEdit, "33");
      QVERIFY(f->AngleButtons[3]->isChecked());
      QCOMPARE(f->SignedAngle(), -33.0);
      QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    });
    QVERIFY(!form.Execute(direct));
    QVERIFY(SamePixels(before, direct));
    QCOMPARE(TRotateForm::RememberedAngle(), 270.0);
  }

  void NoiseReductionPreviewsAndCancelRestores() {
    TNoiseReductionForm::Remembered() = {};
    const TLinearBitmap original = test::NoisyGrayBitmap(40, 30);
    TLinearBitmap bitmap(original);
    int repaints = 0;
    {
      TNoiseReductionForm form(bitmap, [&] { ++repaints; });
      WhenModal<TNoiseReductionForm>([&](TNoiseReductionForm* f) {
        QTest::mouseClick(f->PreviewButton, Qt::LeftButton);
        TLinearBitmap expected(original);
        AdaptiveSmooth(expected, 20, 3, false);
        QVERIFY(SamePixels(expected, bitmap));
        QVERIFY(!f->PreviewButton->isEnabled());
        f->SizeButtons[2]->click();
        QVERIFY(f->PreviewButton->isEnabled());  // stale
        QTest::mouseClick(f->CancelButton, Qt::LeftButton);
      });
      QVERIFY(!form.Execute());
    }
    QVERIFY(SamePixels(original, bitmap));
    QCOMPARE(repaints, 2);
    QCOMPARE(TNoiseReductionForm::Remembered().SizeIndex, 0);

    // OK filters with the current settings when the preview is stale, and remembers them.
    TNoiseReductionForm form(bitmap, [] {});
    WhenModal<TNoiseReductionForm>([](TNoiseReductionForm* f) {
      QTest::mouseClick(f->PreviewButton, Qt::LeftButton);
      TypeInto(f->StrengthEdit, "35");
      f->DoubleSizeCheckBox->setChecked(true);
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    QVERIFY(form.Execute());
    TLinearBitmap expected(original);
    AdaptiveSmooth(expected, 35, 3, true);
    QVERIFY(SamePixels(expected, bitmap));
    QCOMPARE(TNoiseReductionForm::Remembered().Strength, 35);
    QVERIFY(TNoiseReductionForm::Remembered().DoubleSize);
  }

  void NoiseReductionRefusesAnInvalidStrength() {
    TLinearBitmap bitmap = test::NoisyGrayBitmap(20, 20);
    const TLinearBitmap original(bitmap);
    TNoiseReductionForm form(bitmap, {});
    QVERIFY(form.PreviewButton->isHidden());  // nothing to repaint: no preview
    QString message;
    WhenModal<TNoiseReductionForm>([&](TNoiseReductionForm* f) {
      TypeInto(f->StrengthEdit, "0");
      WhenModal([&](QWidget* box) {
        message = static_cast<QMessageBox*>(box)->text();
        box->close();
        WhenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
      });
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
    });
    QVERIFY(!form.Execute());
    QCOMPARE(message, QString("Invalid filter strength"));
    QVERIFY(SamePixels(original, bitmap));
  }
};

QTEST_MAIN(TImageDialogsTest)
#include "image_dialogs_test.moc"
