// Self
#include "app/format_associate_form.h"

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

// Local
#include "base/exception.h"
#include "platform/file_association.h"

namespace sq {

namespace {

QString Title() {
  const QString name = QApplication::applicationName();
  return name.isEmpty() ? QString(kApplicationTitle) : name;
}

void SetHint(QWidget* widget, const QString& hint) {
  widget->setToolTip(hint);
  widget->setStatusTip(hint);
}

}  // namespace

TFormatAssociateForm::TFormatAssociateForm(const std::string& filter, int iconIndex, bool checkAll, QWidget* parent)
    : QDialog(parent), iconIndex_(iconIndex) {
  setWindowTitle("Associate file formats with " + Title());

  // Left: a lowered panel whose scroll box stacks one check box per extension.
  auto* panel = new QFrame;
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* scroll = new QScrollArea;
  scroll->setFrameStyle(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  auto* boxes = new QWidget;
  auto* boxLayout = new QVBoxLayout(boxes);
  boxLayout->setContentsMargins(6, 4, 6, 4);
  boxLayout->setSpacing(4);
  const std::string title = Title().toStdString();
  for (const TFormatEntry& format : ParseFormatFilter(filter)) {
    auto* box = new QCheckBox(QString::fromStdString(format.Caption));
    box->setChecked(checkAll || IsAssociated(format.Extension, title));
    boxLayout->addWidget(box);
    checkBoxes_.append(box);
    extensions_.append(format.Extension);
  }
  boxLayout->addStretch();
  scroll->setWidget(boxes);
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(1, 1, 1, 1);
  panelLayout->addWidget(scroll);

  // Right: the buttons and the description switch.
  AssociateButton = new QPushButton("&OK");
  SetHint(AssociateButton, "Associate program with selected file formats");
  AssociateButton->setDefault(true);
  CloseButton = new QPushButton("Cancel");
  AllButton = new QPushButton("&Select all");
  DescriptionBox = new QCheckBox("Description");
  DescriptionBox->setChecked(true);
  SetHint(DescriptionBox, "Include format description in file views instead of just \"XYZ File\"");
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(AssociateButton);
  buttons->addWidget(CloseButton);
  buttons->addWidget(AllButton);
  buttons->addStretch();
  buttons->addWidget(DescriptionBox);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(panel, 1);
  layout->addLayout(buttons);

  connect(AssociateButton, &QPushButton::clicked, this, &TFormatAssociateForm::AssociateButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);  // Escape rejects too
  connect(AllButton, &QPushButton::clicked, this, &TFormatAssociateForm::AllButtonClick);

  setFixedSize(420, 220);
  if (const QScreen* screen = QApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TFormatAssociateForm::AllButtonClick() {
  for (QCheckBox* box : checkBoxes_) box->setChecked(true);
}

void TFormatAssociateForm::AssociateButtonClick() {
  const std::string title = Title().toStdString();
  const std::string program = QCoreApplication::applicationFilePath().toLocal8Bit().toStdString();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    for (int i = 0; i < checkBoxes_.size(); ++i) {
      const std::string& extension = extensions_[i];
      if (checkBoxes_[i]->isChecked()) {
        std::string description;
        if (DescriptionBox->isChecked()) {
          const std::string caption = checkBoxes_[i]->text().toStdString();
          description = caption.substr(0, caption.find(" (*"));
        }
        Associate(extension, title, description, iconIndex_, program);
      } else if (IsAssociated(extension, title)) {
        Associate(extension, "", "", iconIndex_, program);
      }
    }
  } catch (const std::exception& e) {
    QApplication::restoreOverrideCursor();
    QMessageBox::critical(this, Title(), QString::fromLocal8Bit(e.what()));
    return;
  }
  QApplication::restoreOverrideCursor();
  accept();
}

void ShowFormatAssociation(const std::string& filter, int iconIndex, bool checkAll, QWidget* parent) {
  TFormatAssociateForm form(filter, iconIndex, checkAll, parent);
  form.exec();
}

}  // namespace sq
