// Self
#include "app/vrml_export_form.h"

// Qt
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

// Local
#include "app/integer_edit.h"

namespace sq {

namespace {

constexpr int kDefaultJPEGQuality = 90;

}  // namespace

TVRMLExportForm::TVRMLExportForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("VRML export");
  auto* layout = new QVBoxLayout(this);

  auto* normals = new QHBoxLayout;
  NormalsCheckBox = new QCheckBox("Write vertex &normals", this);
  NormalsCheckBox->setChecked(true);
  auto* note = new QLabel("This will produce a more smooth model, but will also increase file size", this);
  note->setWordWrap(true);
  note->setMinimumWidth(220);
  normals->addWidget(NormalsCheckBox, 0, Qt::AlignTop);
  normals->addWidget(note, 1);
  layout->addLayout(normals);

  TextureFormatGroup = new QGroupBox("&Texture format", this);
  auto* group = new QGridLayout(TextureFormatGroup);
  TextureFormatButtons = new QButtonGroup(this);
  // The ids are the TVRMLTextureFormat values.
  const char* const captions[3] = {"None", "PNG", "JPEG"};
  for (int id = 0; id < 3; ++id) {
    auto* button = new QRadioButton(captions[id], TextureFormatGroup);
    TextureFormatButtons->addButton(button, id);
    group->addWidget(button, id, 0);
  }
  JPEGQuality = new TIntegerEdit(TextureFormatGroup);
  JPEGQuality->SetMin(1);
  JPEGQuality->SetMax(100);
  JPEGQuality->SetValue(kDefaultJPEGQuality);
  JPEGQuality->setToolTip("JPEG quality");
  group->addWidget(JPEGQuality, 2, 1);
  group->setColumnStretch(2, 1);
  layout->addWidget(TextureFormatGroup);
  connect(TextureFormatButtons, &QButtonGroup::idClicked, this, [this] { TextureFormatGroupClick(); });

  auto* buttons = new QDialogButtonBox(this);
  OkButton = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  CancelButton = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  OkButton->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  layout->setSizeConstraint(QLayout::SetFixedSize);
  SetOptions(TVRMLExportOptions{}, true);
}

void TVRMLExportForm::SetOptions(const TVRMLExportOptions& options, bool textureSelectable) {
  given_ = options;
  textureSelectable_ = textureSelectable;
  NormalsCheckBox->setChecked(options.WriteNormals);
  if (options.JPEGQuality != 0) JPEGQuality->SetValue(options.JPEGQuality);
  const TVRMLTextureFormat format = textureSelectable ? options.TextureFormat : TVRMLTextureFormat::None;
  if (QAbstractButton* button = TextureFormatButtons->button(static_cast<int>(format))) button->setChecked(true);
  TextureFormatGroup->setEnabled(textureSelectable);
  TextureFormatGroupClick();
}

TVRMLExportOptions TVRMLExportForm::Options() const {
  TVRMLExportOptions options = given_;
  options.WriteNormals = NormalsCheckBox->isChecked();
  // A model without a real texture shows "None" without a choice; the format the
  // user chose before is kept for the next textured model.
  if (textureSelectable_) options.TextureFormat = static_cast<TVRMLTextureFormat>(TextureFormatButtons->checkedId());
  options.JPEGQuality = JPEGQuality->Value();
  return options;
}

void TVRMLExportForm::TextureFormatGroupClick() {
  JPEGQuality->setEnabled(TextureFormatButtons->checkedId() == static_cast<int>(TVRMLTextureFormat::JPEG));
}

TVRMLExportOptions& RememberedVRMLExportOptions() {
  static TVRMLExportOptions options;
  return options;
}

bool QueryVRMLExportOptions(const TBase3DModel& model, TVRMLExportOptions& options, QWidget* parent) {
  TVRMLExportForm form(parent);
  form.SetOptions(options, VRMLTextureSelectable(model));
  if (form.exec() != QDialog::Accepted) return false;
  options = form.Options();
  return true;
}

}  // namespace sq
