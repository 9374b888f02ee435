// The colour mapper (TColorMapperForm): builds a tone map per colour plane from a
// preset, control points or free drawing, shows the histogram, and previews the result
// live on the document.  "&Apply" keeps the preview as the new base; Cancel returns the
// document to the last applied state.
#pragma once

// Qt
#include <QDialog>

// Local
#include <functional>

#include "imaging/linear_bitmap.h"
#include "imaging/ops/tone_map_mapper.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace sq {

class TColorMapPanel;
class TFloatEdit;
class THistogramPanel;

class TColorMapperForm : public QDialog {
  Q_OBJECT

 public:
  explicit TColorMapperForm(QWidget* parent = nullptr);
  ~TColorMapperForm() override;

  // Works on bitmap while shown modally; repaint redraws the document.  True when
  // changes were kept ("&OK" or "&Apply" used at least once).
  bool Execute(TLinearBitmap& bitmap, std::function<void()> repaint);

  // The simple window mode hides the histogram and the preview controls.
  bool SimpleMode() const { return Simple; }
  void SetSimpleMode(bool simple);

  // Remembered between runs of the program under "SimpleColorMapper"; the main window
  // reads and writes the setting.
  static bool& SimpleModeSetting();

  const TColorMapperState& State() const { return Mapper; }
  const LevelHistogram& ShownHistogram() const;

  QLabel* PlaneLabel;
  QComboBox* PlaneBox;
  QComboBox* PresetBox;
  QLabel* Parameter1Label;
  TFloatEdit* Parameter1Edit;
  QSlider* Parameter1Bar;
  QLabel* Parameter2Label;
  TFloatEdit* Parameter2Edit;
  QSlider* Parameter2Bar;
  QLabel* ExpressionLabel;
  QLineEdit* ExpressionEdit;
  QCheckBox* UnitRangeCheckBox;
  TColorMapPanel* MapPanel;
  QPushButton* SmoothButton;
  QPushButton* AutoButton;
  QPushButton* LoadButton;
  QPushButton* SaveButton;
  QGroupBox* HistogramGroup;
  THistogramPanel* HistogramPanel;
  QCheckBox* SqrtCheckBox;
  QLabel* StatisticsLabel;
  QLabel* LevelLabel;
  QLabel* PixelCountLabel;
  QCheckBox* AutoPreviewCheckBox;
  QPushButton* PreviewButton;
  QPushButton* ApplyButton;
  QPushButton* OkButton;
  QPushButton* CancelButton;
  QPushButton* ModeButton;
  QLabel* StatusLabel;

 protected:
  void reject() override;

 private:
  int CurrentPlaneIndex() const;  // 0..3 of the histogram library
  LevelHistogram BaseHistogram() const;
  void PlaneBoxChange();
  void PresetBoxChange();
  // Sets up the parameter controls for the preset with its defaults.
  void SetupPreset(int preset);
  void ParameterEditChange(int parameter);
  void ParameterBarChange(int parameter);
  void RebuildMap();
  void MapChanged();
  void DoPreview();
  void UpdateHistogram();
  void ShowLevel(int level);
  void MapPanelPress(int input, int output);
  void MapPanelDrag(int input, int output);
  void MapPanelRelease();
  void MapPanelDelete();
  void SmoothButtonClick();
  void AutoButtonClick();
  void LoadButtonClick();
  void SaveButtonClick();
  void ApplyButtonClick();
  void OkButtonClick();
  void ModeButtonClick();
  void SetStatus(const QString& text);

  TLinearBitmap* Bitmap = nullptr;
  std::function<void()> Repaint;
  TLinearBitmap Base;   // the document's pixels as of the last "&Apply"
  TLinearBitmap BaseY;  // their luminance while "Luminance" is chosen
  TColorMapperState Mapper;
  LevelHistogram Shown;  // of the previewed pixels, current plane
  bool Changed = false;
  bool Simple = false;
  bool Updating = false;
  QString Folder;  // of the last map file
};

// Runs the one colour mapper (made on first use, kept until parent goes) on bitmap.
// False at once for an empty bitmap.
bool ExecuteColorMapper(TLinearBitmap& bitmap, std::function<void()> repaint, QWidget* parent);

}  // namespace sq
