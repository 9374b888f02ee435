// Self
#include "app/image_annotate_form.h"

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

// Local
#include "app/float_edit.h"
#include "app/integer_edit.h"
#include "app/main_form.h"
#include "app/stereo_preview_panel.h"
#include "app/view_3d_model_form.h"
#include "base/exception.h"
#include "base/progress.h"
#include "recon/reconstruction_method.h"

namespace sq {

TImageAnnotateForm::TImageAnnotateForm(const TLinearBitmap& image1, const TLinearBitmap& image2,
                                       const CorrespondenceProject& project, QWidget* parent)
    : QDialog(parent), pipeline_(std::make_unique<TReconstructionPipeline>(image1, image2, project)) {
  setWindowTitle("Create 3D model");
  CreateControls();
  PanelFrame1->SetImage(&image1);
  PanelFrame2->SetImage(&image2);
  pipeline_->SetStageHandler([this](const std::string& stage) { ShowStage(stage); });
  ShowViewer = [this](TSurfaceColorModel& model) { ShowModelViewer(&model, true, this); };
  ShowModelButton->setFocus();
}

TImageAnnotateForm::~TImageAnnotateForm() = default;

void TImageAnnotateForm::CreateControls() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(7, 7, 7, 7);
  layout->setSpacing(6);
  auto* panels = new QHBoxLayout;
  panels->setSpacing(7);
  PanelFrame1 = new TStereoPreviewPanel(1, this);
  PanelFrame2 = new TStereoPreviewPanel(2, this);
  panels->addWidget(PanelFrame1);
  panels->addWidget(PanelFrame2);
  layout->addLayout(panels);

  // Below the previews, one pair of grid columns per step: its button on top, its
  // settings under it, so that the rows line up across the steps.
  auto* steps = new QGridLayout;
  steps->setVerticalSpacing(3);
  steps->setHorizontalSpacing(4);
  layout->addLayout(steps);
  int columns = 0;
  auto column = [steps, &columns](QPushButton* button) {
    const int first = columns;
    steps->addWidget(button, 0, first, 1, 2);
    steps->setColumnMinimumWidth(first + 2, 8);  // the gap to the next step
    columns += 3;
    return first;
  };
  auto floatEdit = [this](double value, double min, double max) {
    auto* edit = new TFloatEdit(this);
    edit->SetMin(min);
    edit->SetMax(max);
    edit->SetFormatString("0.##");
    edit->SetValue(value);
    return edit;
  };
  auto integerEdit = [this](int value, int min, int max) {
    auto* edit = new TIntegerEdit(this);
    edit->SetMin(min);
    edit->SetMax(max);
    edit->SetValue(value);
    return edit;
  };
  auto addField = [this, steps](int column, int row, const QString& caption, QWidget* edit) {
    auto* label = new QLabel(caption, this);
    label->setBuddy(edit);
    edit->setFixedWidth(80);
    steps->addWidget(label, row, column);
    steps->addWidget(edit, row, column + 1);
  };
  const TReconstructionParams defaults;

  WarpButton = new QPushButton("&Warp", this);
  const int warp = column(WarpButton);
  CropCheckBox = new QCheckBox("&Auto crop", this);
  CropCheckBox->setChecked(defaults.AutoCrop);
  ResultLabel = new QLabel(this);
  ResultLabel->setMinimumWidth(ResultLabel->fontMetrics().horizontalAdvance("Point error: 00000.0000"));
  WarpMethodBox = new QComboBox(this);
  for (TWarpMethod method : WarpMethods()) {
    WarpMethodBox->addItem(WarpMethodCaption(method), static_cast<int>(method));
    WarpMethodBox->setItemData(WarpMethodBox->count() - 1, WarpMethodHint(method), Qt::ToolTipRole);
  }
  steps->addWidget(CropCheckBox, 1, warp, 1, 2);
  steps->addWidget(ResultLabel, 2, warp, 1, 2);
  steps->addWidget(WarpMethodBox, 3, warp, 1, 2);

  DispMapButton = new QPushButton("&Dispersion map", this);
  const int map = column(DispMapButton);
  FloatEditSpread = floatEdit(defaults.Spread, 0, 100);
  FloatEditOcclusion = floatEdit(defaults.Occlusion, 0, 100);
  addField(map, 1, "Spread:", FloatEditSpread);
  addField(map, 2, "Occlusion:", FloatEditOcclusion);
  MatcherMethodBox = new QComboBox(this);
  for (TMatcherMethod method : MatcherMethods()) {
    MatcherMethodBox->addItem(MatcherMethodCaption(method), static_cast<int>(method));
    MatcherMethodBox->setItemData(MatcherMethodBox->count() - 1, MatcherMethodHint(method), Qt::ToolTipRole);
  }
  steps->addWidget(MatcherMethodBox, 3, map, 1, 2);

  ApplyFiltersButton = new QPushButton("Apply &filters", this);
  const int filters = column(ApplyFiltersButton);
  MedianFilterEdit = integerEdit(defaults.MedianSize, 1, 100);
  SmoothFilterEdit = integerEdit(defaults.SmoothSize, 1, 100);
  addField(filters, 1, "Median filter:", MedianFilterEdit);
  addField(filters, 2, "Smooth filter:", SmoothFilterEdit);

  ShowModelButton = new QPushButton("&Show 3D", this);
  const int model = column(ShowModelButton);
  FloatEditZf = floatEdit(defaults.Zf, -1e102, 1e102);
  FloatEditD = floatEdit(defaults.D, -1e102, 1e102);
  addField(model, 1, "Zf =", FloatEditZf);
  addField(model, 2, "d =", FloatEditD);

  ResetButton = new QPushButton("&Reset", this);
  const int last = column(ResetButton);
  CloseButton = new QPushButton("Close", this);
  ProgressLabel = new QLabel(this);
  ProgressLabel->setMinimumWidth(130);
  steps->addWidget(CloseButton, 1, last, 1, 2);
  steps->addWidget(ProgressLabel, 2, last, 1, 2);

  for (QPushButton* button : {WarpButton, DispMapButton, ApplyFiltersButton, ResetButton, CloseButton})
    button->setAutoDefault(false);
  ShowModelButton->setDefault(true);

  connect(WarpButton, &QPushButton::clicked, this, [this] { RunCommand(&TImageAnnotateForm::Warp); });
  connect(DispMapButton, &QPushButton::clicked, this, [this] { RunCommand(&TImageAnnotateForm::DispersionMap); });
  connect(ApplyFiltersButton, &QPushButton::clicked, this, [this] { RunCommand(&TImageAnnotateForm::ApplyFilters); });
  connect(ShowModelButton, &QPushButton::clicked, this, [this] { RunCommand(&TImageAnnotateForm::ShowModel); });
  connect(ResetButton, &QPushButton::clicked, this, [this] { RunCommand(&TImageAnnotateForm::Reset); });
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(MatcherMethodBox, &QComboBox::activated, this, [this] { MatcherMethodChange(); });

  // A fixed dialog, as large as its controls need and no smaller than 821 x 509.
  setFixedSize(sizeHint().expandedTo(QSize(821, 509)));
}

void TImageAnnotateForm::RunCommand(void (TImageAnnotateForm::*step)()) {
  QString failure;
  try {
    TProgressScope progress([this](int percent) { ShowProgress(percent); });
    (this->*step)();
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    // The core ends lines with "\r".
    failure = QString::fromLocal8Bit(error.what()).replace('\r', '\n');
  }
  // The dialog shows the state the command reached, also when it failed.
  stage_.clear();
  ProgressLabel->clear();
  UpdatePanels();
  if (!failure.isEmpty()) QMessageBox::critical(this, windowTitle(), failure);
}

void TImageAnnotateForm::ReadParams() {
  TReconstructionParams& params = pipeline_->Params;
  params.Warp = static_cast<TWarpMethod>(WarpMethodBox->currentData().toInt());
  params.Matcher = static_cast<TMatcherMethod>(MatcherMethodBox->currentData().toInt());
  params.AutoCrop = CropCheckBox->isChecked();
  params.Spread = static_cast<double>(FloatEditSpread->Value());
  params.Occlusion = static_cast<double>(FloatEditOcclusion->Value());
  params.MedianSize = MedianFilterEdit->Value();
  params.SmoothSize = SmoothFilterEdit->Value();
  params.Zf = static_cast<double>(FloatEditZf->Value());
  params.D = static_cast<double>(FloatEditD->Value());
}

void TImageAnnotateForm::BeginStep(QPushButton* button) {
  button->setFocus();
  repaint();
  ReadParams();
}

void TImageAnnotateForm::Warp() {
  TBusyCursor busy;
  BeginStep(WarpButton);
  pipeline_->Warp();
  ResultLabel->setText(QString::fromStdString(pipeline_->PointErrorText()));
  PanelFrame1->SetImage(&pipeline_->Warped1());
  PanelFrame2->SetImage(&pipeline_->Warped2());
  UpdatePanels();
  DispMapButton->setFocus();
}

void TImageAnnotateForm::DispersionMap() {
  if (!pipeline_->HasWarp()) Warp();
  TBusyCursor busy;
  BeginStep(DispMapButton);
  pipeline_->ComputeDispersionMap();
  UpdatePanels();
}

void TImageAnnotateForm::ApplyFilters() {
  if (!pipeline_->HasMap()) DispersionMap();
  TBusyCursor busy;
  BeginStep(ApplyFiltersButton);
  pipeline_->ApplyFilters();
  UpdatePanels();
}

void TImageAnnotateForm::ShowModel() {
  if (!pipeline_->HasMap()) ApplyFilters();
  {
    TBusyCursor busy;
    BeginStep(ShowModelButton);
    pipeline_->BuildModel();
  }
  TSurfaceColorModel& model = *pipeline_->Model();
  model.ShowBackSides = true;
  ShowViewer(model);
}

void TImageAnnotateForm::Reset() {
  pipeline_->Reset();
  UpdatePanels();
}

void TImageAnnotateForm::UpdatePanels() {
  const TFloatMap* map = pipeline_->HasMap() ? &pipeline_->Map() : nullptr;
  PanelFrame1->SetMap(map);
  PanelFrame2->SetMap(map);
  PanelFrame1->repaint();
  PanelFrame2->repaint();
}

void TImageAnnotateForm::ShowStage(const std::string& stage) {
  stage_ = QString::fromStdString(stage);
  ProgressLabel->setText(stage_ + "...");
  ProgressLabel->repaint();
}

void TImageAnnotateForm::ShowProgress(int percent) {
  const QString text = percent >= 100 ? stage_ + "..." : QString("%1 %2%").arg(stage_).arg(percent);
  if (text == ProgressLabel->text()) return;
  ProgressLabel->setText(text);
  ProgressLabel->repaint();
}

void TImageAnnotateForm::MatcherMethodChange() {
  const auto matcher = static_cast<TMatcherMethod>(MatcherMethodBox->currentData().toInt());
  MedianFilterEdit->SetValue(SuggestedFilterSize(matcher));
  SmoothFilterEdit->SetValue(SuggestedFilterSize(matcher));
  FloatEditSpread->setEnabled(matcher == TMatcherMethod::DynamicProgramming);
  FloatEditOcclusion->setEnabled(matcher == TMatcherMethod::DynamicProgramming);
}

void ShowCreate3DModelDialog(const TLinearBitmap& image1, const TLinearBitmap& image2,
                             const CorrespondenceProject& project, QWidget* parent) {
  TImageAnnotateForm dialog(image1, image2, project, parent);
  dialog.exec();
}

}  // namespace sq
