// A main window of its own for one GUI test: settings and files in fresh temporary
// folders, the window shown and exposed; at the end it closes without asking about
// unsaved images and leaves no settings behind for the next test.
#pragma once

// Qt
#include <QCoreApplication>
#include <QtTest>

// Local
#include <memory>

#include "app/main_form.h"
#include "app/mdi_child.h"
#include "platform/program_setup.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace sq::test {

struct TMainFormSession {
  std::unique_ptr<TTempDir> Config;
  std::unique_ptr<TTempDir> Files;
  std::unique_ptr<TMainForm> Form;

  void Start() {
    Config = std::make_unique<TTempDir>();
    Files = std::make_unique<TTempDir>();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Config->Path().string()));
    ResetRegistryHives();
    Form = std::make_unique<TMainForm>(QString::fromStdString(Files->Path().string()));
    Form->resize(1000, 750);
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
  }

  void Finish() {
    for (TMDIChild* child : Form->Children()) child->Modified = 0;
    Form.reset();
    FreeProgramSetup();
    ResetRegistryHives();
  }
};

}  // namespace sq::test
