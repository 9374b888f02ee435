// The source's own dialogs, in Qt like the program that loads this library.  The
// window handle the program passes is its QWidget.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWindow>

#include "sane_source.h"

namespace sq::sanedsm {

bool HaveUserInterface() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

int ChooseDevice(const std::vector<TDevice>& devices, int current, void* parent) {
  QDialog dialog(static_cast<QWidget*>(parent));
  dialog.setWindowTitle("Select source");
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel("Sources:"));
  auto* list = new QListWidget;
  for (const TDevice& device : devices)
    list->addItem(QString::fromStdString(device.Vendor + " " + device.Model + " (" + device.Name + ")"));
  list->setCurrentRow(current < 0 ? 0 : current);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText("&Select");
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return -1;
  return list->currentRow();
}

namespace {

class TQtSourceDialog final : public TSourceDialog {
 public:
  TQtSourceDialog(const std::string& deviceTitle, const TScanChoices& choices, TSettings& settings,
                  int& requestedMessage, void* parent)
      : settings_(settings), message_(requestedMessage) {
    // The program disables its window while the source is enabled, and a disabled
    // widget disables its children: the dialog stays a window of its own that is only
    // kept above the program's.
    if (auto* owner = static_cast<QWidget*>(parent)) {
      dialog_.winId();
      if (QWindow* ownerWindow = owner->window()->windowHandle())
        dialog_.windowHandle()->setTransientParent(ownerWindow);
    }
    dialog_.setWindowTitle("Scan");
    auto* layout = new QVBoxLayout(&dialog_);
    layout->addWidget(new QLabel(QString::fromStdString(deviceTitle)));
    auto* form = new QFormLayout;
    source_ = AddChoice(form, "Source:", choices.Sources, settings.Source);
    mode_ = AddChoice(form, "Mode:", choices.Modes, settings.Mode);
    resolution_ = new QSpinBox;
    resolution_->setRange(0, 4800);
    resolution_->setSpecialValueText("Device default");
    resolution_->setSuffix(" dpi");
    resolution_->setValue(settings.Resolution);
    form->addRow("Resolution:", resolution_);
    pages_ = new QSpinBox;
    pages_->setRange(0, 10000);
    pages_->setSpecialValueText("All in the feeder");
    pages_->setValue(settings.Pages);
    form->addRow("Pages:", pages_);
    layout->addLayout(form);
    status_ = new QLabel;
    layout->addWidget(status_);
    auto* buttons = new QDialogButtonBox;
    scan_ = buttons->addButton("&Scan", QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog_, [this] { Scan(); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog_, &QDialog::reject);
    QObject::connect(&dialog_, &QDialog::rejected, &dialog_, [this] { message_ = twain::MSG_CLOSEDSREQ; });
    dialog_.setModal(false);
    dialog_.show();
  }

  void SetBusy(bool busy) override {
    scan_->setEnabled(!busy);
    status_->setText(busy ? "Scanning..." : "");
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }

 private:
  static QComboBox* AddChoice(QFormLayout* form, const char* label, const std::vector<std::string>& values,
                              const std::string& current) {
    auto* box = new QComboBox;
    box->addItem("Device default", QString());
    for (const std::string& value : values) box->addItem(QString::fromStdString(value), QString::fromStdString(value));
    const int at = box->findData(QString::fromStdString(current));
    box->setCurrentIndex(at < 0 ? 0 : at);
    box->setEnabled(!values.empty());
    form->addRow(label, box);
    return box;
  }

  void Scan() {
    settings_.Source = source_->currentData().toString().toStdString();
    settings_.Mode = mode_->currentData().toString().toStdString();
    settings_.Resolution = resolution_->value();
    settings_.Pages = pages_->value();
    settings_.Save();
    message_ = twain::MSG_XFERREADY;
  }

  QDialog dialog_;
  TSettings& settings_;
  int& message_;
  QComboBox* source_;
  QComboBox* mode_;
  QSpinBox* resolution_;
  QSpinBox* pages_;
  QLabel* status_;
  QPushButton* scan_;
};

}  // namespace

TSourceDialog* TSourceDialog::Create(const std::string& deviceTitle, const TScanChoices& choices, TSettings& settings,
                                     int& requestedMessage, void* parent) {
  return new TQtSourceDialog(deviceTitle, choices, settings, requestedMessage, parent);
}

}  // namespace sq::sanedsm
