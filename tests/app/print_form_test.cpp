// The print dialog on a 600-dpi PDF printer: the size label, Fit, moving the image, and
// the printed page rendered back to pixels.
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPageLayout>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "app/integer_edit.h"
#include "app/print_form.h"
#include "imaging/linear_bitmap.h"

using namespace sq;

namespace {

// 8 x 11 inches at 600 dpi: 4800 x 6600 dots, no margins.
void UsePdfPrinter(TPrintForm& form, const QString& fileName) {
  QPrinter& printer = form.Printer();
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(fileName);
  printer.setResolution(600);
  printer.setPageLayout(
      QPageLayout(QPageSize(QSizeF(8, 11), QPageSize::Inch), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
}

TLinearBitmap Solid(int width, int height, uint8_t blue, uint8_t green, uint8_t red) {
  TLinearBitmap bitmap(width, height, pf24bit);
  for (int64_t i = 0; i < bitmap.Size; i += 3) {
    bitmap.Map[i] = blue;
    bitmap.Map[i + 1] = green;
    bitmap.Map[i + 2] = red;
  }
  return bitmap;
}

}  // namespace

class TPrintFormTest : public QObject {
  Q_OBJECT

 private slots:
  void SizeLabelAndFit() {
    QTemporaryDir folder;
    TPrintForm form;
    UsePdfPrinter(form, folder.filePath("unused.pdf"));
    const TLinearBitmap image = Solid(600, 400, 0, 0, 255);
    form.Prepare(image);
    QCOMPARE(form.PageWidth, 4800);
    QCOMPARE(form.PageHeight, 6600);
    QCOMPARE(form.SizeLabel->text(), QString("2.5 cm x 1.7 cm"));
    QCOMPARE(form.ImageX, 2100);
    QCOMPARE(form.ImageY, 3100);

    const TLinearBitmap wide = Solid(1000, 500, 0, 0, 0);
    form.Prepare(wide);
    QTest::mouseClick(form.FitButton, Qt::LeftButton);
    QCOMPARE(form.SizeEdit->Value(), 480);
    QCOMPARE(form.ImageW, 4800);
    QCOMPARE(form.ImageX, 0);
    QCOMPARE(form.ImageY, (6600 - 2400) / 2);
  }

  void MovingUnchecksCenterAndPrintsWhereTheRectangleSays() {
    const QString pdftoppm = QStandardPaths::findExecutable("pdftoppm");
    QTemporaryDir folder;
    const QString pdf = folder.filePath("page.pdf");
    TPrintForm form;
    UsePdfPrinter(form, pdf);
    const TLinearBitmap image = Solid(600, 400, 0, 0, 255);  // red
    form.resize(500, 700);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Prepare(image);

    // Drag the image rectangle towards the top left corner of the page.
    const QPoint start = form.ImageShape->rect().center();
    QTest::mousePress(form.ImageShape, Qt::LeftButton, {}, start);
    QMouseEvent move(QEvent::MouseMove, QPointF(start - QPoint(100, 150)),
                     form.ImageShape->mapToGlobal(QPointF(start - QPoint(100, 150))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(form.ImageShape, &move);
    QTest::mouseRelease(form.ImageShape, Qt::LeftButton, {}, start - QPoint(100, 150));
    QVERIFY(!form.CenterCheckBox->isChecked());
    QVERIFY(form.ImageX < 2100);
    QVERIFY(form.ImageY < 3100);
    const QRect shape = form.ImageShape->geometry();
    QCOMPARE(form.ImageX, int(int64_t(form.PageWidth) * shape.x() / form.PagePanel->width()));

    // A new size keeps the moved position.
    const int x = form.ImageX, y = form.ImageY;
    form.SizeEdit->setFocus();
    form.SizeEdit->selectAll();
    QTest::keyClicks(form.SizeEdit, "200");
    QCOMPARE(form.ImageW, 1200);
    QCOMPARE(form.ImageX, x);
    QCOMPARE(form.ImageY, y);

    form.PrintNow();
    QVERIFY(QFile::exists(pdf));
    if (pdftoppm.isEmpty()) QSKIP("pdftoppm is not installed");

    // At 60 dpi one page pixel is ten printer dots.
    QProcess render;
    render.start(pdftoppm, {"-r", "60", "-png", "-singlefile", pdf, folder.filePath("page")});
    QVERIFY(render.waitForFinished(30000));
    QImage page(folder.filePath("page.png"));
    QCOMPARE(page.size(), QSize(480, 660));
    const QRect printed(x / 10, y / 10, 120, 80);
    auto isRed = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60; };
    auto isWhite = [](QRgb c) { return qRed(c) > 240 && qGreen(c) > 240 && qBlue(c) > 240; };
    QVERIFY(isRed(page.pixel(printed.center())));
    QVERIFY(isRed(page.pixel(printed.topLeft() + QPoint(1, 1))));
    QVERIFY(isRed(page.pixel(printed.bottomRight() - QPoint(1, 1))));
    QVERIFY(isWhite(page.pixel(printed.topLeft() - QPoint(2, 2))));
    QVERIFY(isWhite(page.pixel(printed.bottomRight() + QPoint(2, 2))));
    QVERIFY(isWhite(page.pixel(5, 650)));
  }
};

QTEST_MAIN(TPrintFormTest)
#include "print_form_test.moc"
