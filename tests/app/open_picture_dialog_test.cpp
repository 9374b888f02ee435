// The image open dialog's preview, loaded by its worker thread.
#include <QLabel>
#include <QtTest>

#include "app/open_picture_dialog.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"
#include "platform/program_setup.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

using namespace sq;

class TOpenPictureDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    config_ = std::make_unique<test::TTempDir>();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_->Path().string()));
    ResetRegistryHives();
  }

  void PreviewsTheNewestSelectionScaledDown() {
    test::TTempDir dir;
    TLinearBitmap large(900, 300, pf24bit);
    large.Clear(90);
    large.SaveToFile(dir / "large.png");
    TLinearBitmap small(20, 10, pf24bit);
    small.Clear(20);
    small.SaveToFile(dir / "small.bmp");

    TImageLoader loader(QSize(100, 100));
    QList<QList<QVariant>> results;
    connect(&loader, &TImageLoader::Loaded, this, [&](const QString& name, const QImage& preview, int w, int h) {
      results.append({name, preview, w, h});
    });
    loader.start();
    loader.Request(QString::fromStdString(dir / "large.png"));
    QTRY_COMPARE(results.size(), 1);
    QCOMPARE(results[0][2].toInt(), 900);
    QCOMPARE(results[0][1].value<QImage>().size(), QSize(100, 33));

    loader.Request(QString::fromStdString(dir / "missing.png"));
    QTRY_COMPARE(results.size(), 2);
    QVERIFY(results[1][1].value<QImage>().isNull());

    // The dialog shows the size, or that there is nothing to show.
    TOpenPictureDialog dialog(nullptr, "Open image", QString::fromStdString(dir.Path().string()),
                              ToDialogFilters(BitmapLoaders().GetLoadFilter()).join(";;"));
    dialog.show();
    dialog.PreviewFile(QString::fromStdString(dir / "small.bmp"));
    QTRY_COMPARE(dialog.PreviewCaption(), QString("20 x 10"));
    QVERIFY(dialog.PreviewShown());
  }

  void FiltersAndTheirEntryForAnExtension() {
    const std::string filter = "Bitmaps (*.bmp)|*.bmp|Portable Network Graphics|*.png;*.PNG";
    QCOMPARE(ToDialogFilters(filter), (QStringList{"Bitmaps (*.bmp)", "Portable Network Graphics (*.png *.PNG)"}));
    QCOMPARE(FilterIndexForExtension(filter, "png"), 2);
    QCOMPARE(FilterIndexForExtension(filter, "gif"), 0);
  }

 private:
  std::unique_ptr<test::TTempDir> config_;
};

QTEST_MAIN(TOpenPictureDialogTest)
#include "open_picture_dialog_test.moc"
