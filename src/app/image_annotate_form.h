// TImageAnnotateForm: the "Create 3D model" dialog.  Runs the reconstruction chain
// warp, dispersion map, filters and model over the shared pipeline; each button first
// runs the steps before it that have not run yet.  The two previews show the images
// of the current stage with guide lines, and "&Show 3D" hands the model to the viewer.
#pragma once

#include <functional>
#include <memory>

// Qt
#include <QDialog>

// Local
#include "recon/pipeline.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace sq {

class TFloatEdit;
class TIntegerEdit;
class TStereoPreviewPanel;

class TImageAnnotateForm : public QDialog {
  Q_OBJECT

 public:
  // The images and the project stay the caller's and must outlive the dialog.
  TImageAnnotateForm(const TLinearBitmap& image1, const TLinearBitmap& image2, const CorrespondenceProject& project,
                     QWidget* parent = nullptr);
  ~TImageAnnotateForm() override;

  const TReconstructionPipeline& Pipeline() const { return *pipeline_; }
  // Opens the viewer on the built model; the dialog keeps the model.  The default
  // shows it modally with files allowed.
  std::function<void(TSurfaceColorModel& model)> ShowViewer;

  QPushButton* WarpButton;
  QCheckBox* CropCheckBox;
  QLabel* ResultLabel;
  // How the pair is warped onto common rows; the projective fit first.
  QComboBox* WarpMethodBox;
  QPushButton* DispMapButton;
  TFloatEdit* FloatEditSpread;
  TFloatEdit* FloatEditOcclusion;
  // How the map is found; the row-by-row dispersion map first.
  QComboBox* MatcherMethodBox;
  QPushButton* ApplyFiltersButton;
  TIntegerEdit* MedianFilterEdit;
  TIntegerEdit* SmoothFilterEdit;
  QPushButton* ShowModelButton;
  TFloatEdit* FloatEditZf;
  TFloatEdit* FloatEditD;
  QPushButton* ResetButton;
  QPushButton* CloseButton;
  TStereoPreviewPanel* PanelFrame1;
  TStereoPreviewPanel* PanelFrame2;
  // What the running step is doing, with its progress.
  QLabel* ProgressLabel;

 private:
  void CreateControls();
  // The steps; each raises on failure, leaving the dialog as the failure found it.
  void Warp();
  void DispersionMap();
  void ApplyFilters();
  void ShowModel();
  void Reset();
  // A button's command: its errors reach the user and the dialog stays as it is.
  void RunCommand(void (TImageAnnotateForm::*step)());
  // Hands the fields' last valid values to the pipeline.
  void ReadParams();
  // Points the previews at the current map and repaints them.
  void UpdatePanels();
  // Focus to the step's button, and the dialog repainted before the work starts.
  void BeginStep(QPushButton* button);
  void ShowStage(const std::string& stage);
  // The filter sizes that suit the chosen matcher; Spread and Occlusion only steer
  // the dispersion map.
  void MatcherMethodChange();
  void ShowProgress(int percent);

  std::unique_ptr<TReconstructionPipeline> pipeline_;
  QString stage_;
};

// Creates the dialog for the two images and the project's point pairs and shows it
// modally.
void ShowCreate3DModelDialog(const TLinearBitmap& image1, const TLinearBitmap& image2,
                             const CorrespondenceProject& project, QWidget* parent = nullptr);

}  // namespace sq
