// The association dialog over private desktop folders.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

#include <cstdlib>

#include "app/format_associate_form.h"
#include "platform/file_association.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace sq {

class TFormatAssociateFormTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    setenv("XDG_CONFIG_HOME", home_.File("config").c_str(), 1);
    setenv("XDG_DATA_HOME", home_.File("data").c_str(), 1);
    setenv("XDG_DATA_DIRS", "/usr/share", 1);
    ResetRegistryHives();
    QApplication::setApplicationName("Stereoquill");
  }

  void ShowsOneBoxAndAssociatesIt() {
    TFormatAssociateForm form(kProjectFormatFilter, 0, false);
    QCOMPARE(form.windowTitle(), QString("Associate file formats with Stereoquill"));
    QCOMPARE(form.CheckBoxes().size(), 1);
    QCheckBox* box = form.CheckBoxes().first();
    QCOMPARE(box->text(), QString("Kestrovane animation (*.kst)"));
    QVERIFY(!box->isChecked());
    QTest::mouseClick(form.AllButton, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QTest::mouseClick(form.AssociateButton, Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QVERIFY(IsAssociated(".kst", "Stereoquill"));

    // Opened again, the box shows the association; unchecking it takes it back.
    TFormatAssociateForm again(kProjectFormatFilter, 0, false);
    QVERIFY(again.CheckBoxes().first()->isChecked());
    again.CheckBoxes().first()->setChecked(false);
    QTest::mouseClick(again.AssociateButton, Qt::LeftButton);
    QVERIFY(!IsAssociated(".kst", "Stereoquill"));
  }

  void CommandLineStartsWithEveryBoxChecked() {
    TFormatAssociateForm form("A (*.aaa,*.bbb)|*.aaa;*.bbb|", 0, true);
    QCOMPARE(form.CheckBoxes().size(), 2);
    QVERIFY(form.CheckBoxes()[0]->isChecked() && form.CheckBoxes()[1]->isChecked());
    QTest::mouseClick(form.CloseButton, Qt::LeftButton);
    QVERIFY(!IsAssociated(".aaa", "Stereoquill"));
  }

  void cleanupTestCase() { ResetRegistryHives(); }

 private:
  test::TTempDir home_;
};

}  // namespace sq

QTEST_MAIN(sq::TFormatAssociateFormTest)
#include "format_associate_form_test.moc"
