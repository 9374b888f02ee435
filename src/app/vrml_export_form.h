// TVRMLExportForm: the "VRML export" dialog, asked before every ".wrl" save for
// vertex normals, the texture file format and the JPEG quality.  The choices are
// kept while the program runs.
#pragma once

// Qt
#include <QDialog>

// Local
#include "model3d/vrml_loader.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QPushButton;

namespace sq {

class TIntegerEdit;

class TVRMLExportForm : public QDialog {
  Q_OBJECT

 public:
  explicit TVRMLExportForm(QWidget* parent = nullptr);

  // textureSelectable: the model has a real texture (not the 2 x 1 placeholder);
  // otherwise the texture format shows "None" and cannot be changed.
  void SetOptions(const TVRMLExportOptions& options, bool textureSelectable);
  // The choices; a texture format that could not be changed stays as it was in the
  // options given to SetOptions.
  TVRMLExportOptions Options() const;

  QCheckBox* NormalsCheckBox;
  QGroupBox* TextureFormatGroup;
  QButtonGroup* TextureFormatButtons;  // ids: None 0, PNG 1, JPEG 2
  TIntegerEdit* JPEGQuality;
  QPushButton* OkButton;
  QPushButton* CancelButton;

 private:
  void TextureFormatGroupClick();

  TVRMLExportOptions given_;
  bool textureSelectable_ = true;
};

// The options the dialog starts from; the last confirmed ones while the program runs.
TVRMLExportOptions& RememberedVRMLExportOptions();

// Asks for the options of saving model as VRML, starting from options; on OK they
// take the choices and true is returned, on Cancel nothing changes.
bool QueryVRMLExportOptions(const TBase3DModel& model, TVRMLExportOptions& options, QWidget* parent);

}  // namespace sq
