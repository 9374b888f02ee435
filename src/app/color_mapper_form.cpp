// Self
#include "app/color_mapper_form.h"

// Qt
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

// Local
#include "app/color_map_panel.h"
#include "app/error_box.h"
#include "app/float_edit.h"
#include "app/histogram_panel.h"
#include "app/main_form.h"
#include "base/rounding.h"
#include "imaging/codecs/color_map_file.h"
#include "imaging/ops/tone_map_ycbcr.h"

namespace sq {

namespace {

// Track-bar units per parameter unit.
int BarScale(const TPresetParameter& parameter) { return parameter.Step < 1 ? RoundInt(1 / parameter.Step) : 1; }

}  // namespace

bool& TColorMapperForm::SimpleModeSetting() {
  static bool simple = false;
  return simple;
}

TColorMapperForm::TColorMapperForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Color mapper");

  PlaneLabel = new QLabel("Color plane", this);
  PlaneBox = new QComboBox(this);
  for (const char* name : {"Blue", "Green", "Red", "All", "Luminance"}) PlaneBox->addItem(name);
  PlaneBox->setCurrentIndex(mpAll);
  PresetBox = new QComboBox(this);
  for (int i = 0; i < cpPresetCount; ++i) PresetBox->addItem(PresetInfo(i).Name);

  auto makeParameter = [this](QLabel*& label, TFloatEdit*& edit, QSlider*& bar) {
    label = new QLabel(this);
    label->setWordWrap(true);
    edit = new TFloatEdit(this);
    edit->setMaximumWidth(80);
    bar = new QSlider(Qt::Vertical, this);
    bar->setMinimumHeight(160);
  };
  makeParameter(Parameter1Label, Parameter1Edit, Parameter1Bar);
  makeParameter(Parameter2Label, Parameter2Edit, Parameter2Bar);
  ExpressionLabel = new QLabel(PresetInfo(cpExpression).TextLabel, this);
  ExpressionEdit = new QLineEdit(kDefaultMapExpression, this);
  UnitRangeCheckBox = new QCheckBox("Color range [0;1]", this);
  UnitRangeCheckBox->setChecked(true);

  MapPanel = new TColorMapPanel(this);
  SmoothButton = new QPushButton("&Smooth", this);
  AutoButton = new QPushButton("Auto", this);
  LoadButton = new QPushButton("&Load", this);
  SaveButton = new QPushButton("Sa&ve", this);

  HistogramGroup = new QGroupBox("Histogram", this);
  HistogramPanel = new THistogramPanel(HistogramGroup);
  SqrtCheckBox = new QCheckBox("Sqrt. histogram", HistogramGroup);
  StatisticsLabel = new QLabel(HistogramGroup);
  LevelLabel = new QLabel(this);
  PixelCountLabel = new QLabel(this);
  auto* histogramLayout = new QVBoxLayout(HistogramGroup);
  histogramLayout->addWidget(HistogramPanel);
  histogramLayout->addWidget(StatisticsLabel);
  histogramLayout->addWidget(SqrtCheckBox);
  histogramLayout->addWidget(LevelLabel);
  histogramLayout->addWidget(PixelCountLabel);
  histogramLayout->addStretch();

  AutoPreviewCheckBox = new QCheckBox("A&uto preview", this);
  AutoPreviewCheckBox->setChecked(true);
  PreviewButton = new QPushButton("&Preview", this);
  PreviewButton->setEnabled(false);
  ApplyButton = new QPushButton("&Apply", this);
  OkButton = new QPushButton("&OK", this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  ModeButton = new QPushButton(this);
  ModeButton->setMaximumWidth(40);
  StatusLabel = new QLabel(this);
  StatusLabel->setWordWrap(true);

  // Left: plane, preset and its parameters.
  auto* left = new QVBoxLayout;
  auto* choices = new QGridLayout;
  choices->addWidget(PlaneLabel, 0, 0);
  choices->addWidget(PlaneBox, 0, 1);
  choices->addWidget(new QLabel("Preset", this), 1, 0);
  choices->addWidget(PresetBox, 1, 1);
  left->addLayout(choices);
  auto* parameters = new QGridLayout;
  parameters->addWidget(Parameter1Label, 0, 0);
  parameters->addWidget(Parameter1Edit, 1, 0);
  parameters->addWidget(Parameter1Bar, 2, 0, Qt::AlignHCenter);
  parameters->addWidget(Parameter2Label, 0, 1);
  parameters->addWidget(Parameter2Edit, 1, 1);
  parameters->addWidget(Parameter2Bar, 2, 1, Qt::AlignHCenter);
  left->addLayout(parameters);
  left->addWidget(ExpressionLabel);
  left->addWidget(ExpressionEdit);
  left->addWidget(UnitRangeCheckBox);
  left->addStretch();

  // Middle: the map and its buttons.
  auto* middle = new QVBoxLayout;
  middle->addWidget(MapPanel);
  auto* mapButtons = new QGridLayout;
  mapButtons->addWidget(SmoothButton, 0, 0);
  mapButtons->addWidget(AutoButton, 0, 1);
  mapButtons->addWidget(LoadButton, 1, 0);
  mapButtons->addWidget(SaveButton, 1, 1);
  middle->addLayout(mapButtons);
  middle->addStretch();

  auto* top = new QHBoxLayout;
  top->addLayout(left, 1);
  top->addLayout(middle);
  top->addWidget(HistogramGroup);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(AutoPreviewCheckBox);
  bottom->addWidget(PreviewButton);
  bottom->addStretch();
  bottom->addWidget(ApplyButton);
  bottom->addWidget(OkButton);
  bottom->addWidget(CancelButton);
  bottom->addWidget(ModeButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(StatusLabel);
  layout->addLayout(bottom);

  connect(PlaneBox, &QComboBox::currentIndexChanged, this, &TColorMapperForm::PlaneBoxChange);
  connect(PresetBox, &QComboBox::currentIndexChanged, this, &TColorMapperForm::PresetBoxChange);
  connect(Parameter1Edit, &TFloatEdit::Changed, this, [this] { ParameterEditChange(1); });
  connect(Parameter2Edit, &TFloatEdit::Changed, this, [this] { ParameterEditChange(2); });
  connect(Parameter1Bar, &QSlider::valueChanged, this, [this] { ParameterBarChange(1); });
  connect(Parameter2Bar, &QSlider::valueChanged, this, [this] { ParameterBarChange(2); });
  connect(ExpressionEdit, &QLineEdit::textChanged, this, &TColorMapperForm::RebuildMap);
  connect(UnitRangeCheckBox, &QCheckBox::toggled, this, &TColorMapperForm::RebuildMap);
  connect(MapPanel, &TColorMapPanel::Pressed, this, &TColorMapperForm::MapPanelPress);
  connect(MapPanel, &TColorMapPanel::Dragged, this, &TColorMapperForm::MapPanelDrag);
  connect(MapPanel, &TColorMapPanel::Released, this, &TColorMapperForm::MapPanelRelease);
  connect(MapPanel, &TColorMapPanel::DeletePressed, this, &TColorMapperForm::MapPanelDelete);
  connect(MapPanel, &TColorMapPanel::Hovered, this, &TColorMapperForm::ShowLevel);
  connect(HistogramPanel, &THistogramPanel::Hovered, this, &TColorMapperForm::ShowLevel);
  connect(SqrtCheckBox, &QCheckBox::toggled, HistogramPanel, &THistogramPanel::SetSquareRoot);
  connect(SmoothButton, &QPushButton::clicked, this, &TColorMapperForm::SmoothButtonClick);
  connect(AutoButton, &QPushButton::clicked, this, &TColorMapperForm::AutoButtonClick);
  connect(LoadButton, &QPushButton::clicked, this, &TColorMapperForm::LoadButtonClick);
  connect(SaveButton, &QPushButton::clicked, this, &TColorMapperForm::SaveButtonClick);
  connect(AutoPreviewCheckBox, &QCheckBox::toggled, this, [this](bool on) {
    PreviewButton->setEnabled(!on);
    if (on) DoPreview();
  });
  connect(PreviewButton, &QPushButton::clicked, this, &TColorMapperForm::DoPreview);
  connect(ApplyButton, &QPushButton::clicked, this, &TColorMapperForm::ApplyButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &TColorMapperForm::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TColorMapperForm::reject);
  connect(ModeButton, &QPushButton::clicked, this, &TColorMapperForm::ModeButtonClick);

  SetupPreset(cpBlackWhitePoint);
  SetSimpleMode(SimpleModeSetting());
}

TColorMapperForm::~TColorMapperForm() = default;

bool TColorMapperForm::Execute(TLinearBitmap& bitmap, std::function<void()> repaint) {
  if (!bitmap.Present) return false;
  Bitmap = &bitmap;
  Repaint = std::move(repaint);
  Base.Assign(bitmap);
  BaseY.Dispose();
  Changed = false;
  Mapper = TColorMapperState();
  SetStatus({});

  Updating = true;
  const bool colour = bitmap.PixelFormat == pf24bit;
  PlaneLabel->setVisible(colour);
  PlaneBox->setVisible(colour);
  PlaneBox->setCurrentIndex(mpAll);
  Updating = false;
  // Every map starts as the identity; presets with control points start with theirs.
  SetupPreset(PresetBox->currentIndex());
  const int preset = PresetBox->currentIndex();
  if (preset == cpDefineCurve || preset == cpBrightnessContrast) RebuildMap();
  MapPanel->SetMap(&Mapper.CurrentMap(), &Mapper.Points(), Mapper.Picked());
  UpdateHistogram();

  exec();

  Bitmap = nullptr;
  Repaint = nullptr;
  Base.Dispose();
  BaseY.Dispose();
  SimpleModeSetting() = Simple;
  return Changed;
}

void TColorMapperForm::reject() {
  if (Bitmap) {
    // Back to the last applied pixels.
    Bitmap->Assign(Base);
    if (Repaint) Repaint();
  }
  QDialog::reject();
}

void TColorMapperForm::SetSimpleMode(bool simple) {
  Simple = simple;
  HistogramGroup->setVisible(!simple);
  AutoPreviewCheckBox->setVisible(!simple);
  PreviewButton->setVisible(!simple);
  LevelLabel->setVisible(!simple);
  PixelCountLabel->setVisible(!simple);
  ModeButton->setText(simple ? "< >" : "> <");
  ModeButton->setToolTip(simple ? "Show the histogram" : "Hide the histogram");
  adjustSize();
}

void TColorMapperForm::ModeButtonClick() {
  SetSimpleMode(!Simple);
  SimpleModeSetting() = Simple;
}

const LevelHistogram& TColorMapperForm::ShownHistogram() const { return Shown; }

int TColorMapperForm::CurrentPlaneIndex() const {
  if (!Bitmap || Bitmap->PixelFormat != pf24bit) return kPlaneAll;
  return Mapper.Plane() >= mpAll ? kPlaneAll : int(Mapper.Plane());
}

LevelHistogram TColorMapperForm::BaseHistogram() const {
  if (Mapper.Plane() == mpLuminance && BaseY.Present) return ComputeHistogram(BaseY, kPlaneAll);
  if (!Base.Present) return {};
  return ComputeHistogram(Base, CurrentPlaneIndex());
}

void TColorMapperForm::PlaneBoxChange() {
  if (Updating || !Bitmap) return;
  const auto plane = TMapperPlane(PlaneBox->currentIndex());
  if (plane == Mapper.Plane()) return;
  TBusyCursor busy;
  if (plane == mpLuminance) {
    ExtractLuminance(Base, BaseY);
  } else if (Mapper.Plane() == mpLuminance) {
    BaseY.Dispose();
    Bitmap->Assign(Base);
  }
  Mapper.SelectPlane(plane);
  MapChanged();
  if (!AutoPreviewCheckBox->isChecked()) UpdateHistogram();
}

void TColorMapperForm::PresetBoxChange() {
  if (Updating) return;
  SetupPreset(PresetBox->currentIndex());
  RebuildMap();
}

void TColorMapperForm::SetupPreset(int preset) {
  const TPresetInfo& info = PresetInfo(preset);
  Updating = true;
  auto setup = [](const TPresetParameter& parameter, QLabel* label, TFloatEdit* edit, QSlider* bar) {
    const bool used = parameter.Label != nullptr;
    label->setVisible(used);
    edit->setVisible(used);
    bar->setVisible(used);
    if (!used) return;
    label->setText(parameter.Label);
    edit->SetFormatString(parameter.Step < 1 ? "0.###" : "0.##");
    edit->SetMin(parameter.Min);
    edit->SetMax(parameter.Max);
    edit->SetValue(parameter.Default);
    const int scale = BarScale(parameter);
    bar->setRange(RoundInt(parameter.Min * scale), RoundInt(parameter.Max * scale));
    bar->setSingleStep(1);
    bar->setPageStep(scale == 1 ? 10 : scale / 10);
    bar->setValue(RoundInt(parameter.Default * scale));
  };
  setup(info.Parameter1, Parameter1Label, Parameter1Edit, Parameter1Bar);
  setup(info.Parameter2, Parameter2Label, Parameter2Edit, Parameter2Bar);
  const bool expression = info.TextLabel != nullptr;
  ExpressionLabel->setVisible(expression);
  ExpressionEdit->setVisible(expression);
  UnitRangeCheckBox->setVisible(expression);
  AutoButton->setEnabled(preset == cpBlackWhitePoint || preset == cpGamma);
  Updating = false;
}

void TColorMapperForm::ParameterEditChange(int parameter) {
  if (Updating) return;
  const TPresetInfo& info = PresetInfo(PresetBox->currentIndex());
  const TPresetParameter& p = parameter == 1 ? info.Parameter1 : info.Parameter2;
  TFloatEdit* edit = parameter == 1 ? Parameter1Edit : Parameter2Edit;
  QSlider* bar = parameter == 1 ? Parameter1Bar : Parameter2Bar;
  Updating = true;
  bar->setValue(RoundInt(double(edit->Value()) * BarScale(p)));
  Updating = false;
  RebuildMap();
}

void TColorMapperForm::ParameterBarChange(int parameter) {
  if (Updating) return;
  const TPresetInfo& info = PresetInfo(PresetBox->currentIndex());
  const TPresetParameter& p = parameter == 1 ? info.Parameter1 : info.Parameter2;
  TFloatEdit* edit = parameter == 1 ? Parameter1Edit : Parameter2Edit;
  QSlider* bar = parameter == 1 ? Parameter1Bar : Parameter2Bar;
  Updating = true;
  edit->SetValue(double(bar->value()) / BarScale(p));
  Updating = false;
  RebuildMap();
}

void TColorMapperForm::RebuildMap() {
  if (Updating || !Bitmap) return;
  try {
    Mapper.ApplyPreset(PresetBox->currentIndex(), double(Parameter1Edit->Value()), double(Parameter2Edit->Value()),
                       BaseHistogram(), ExpressionEdit->text().toStdString(), UnitRangeCheckBox->isChecked());
    SetStatus({});
  } catch (const std::exception& error) {
    // The map stays as it was, as with any field that does not evaluate.
    SetStatus(QString::fromLocal8Bit(error.what()));
    return;
  }
  MapChanged();
}

void TColorMapperForm::MapChanged() {
  MapPanel->SetMap(&Mapper.CurrentMap(), &Mapper.Points(), Mapper.Picked());
  if (AutoPreviewCheckBox->isChecked())
    DoPreview();
  else
    PreviewButton->setEnabled(true);
}

void TColorMapperForm::DoPreview() {
  if (!Bitmap) return;
  {
    TBusyCursor busy;
    Mapper.Preview(Base, BaseY.Present ? &BaseY : nullptr, *Bitmap);
  }
  if (Repaint) Repaint();
  UpdateHistogram();
  MapPanel->update();
}

void TColorMapperForm::UpdateHistogram() {
  if (!Bitmap) return;
  if (Mapper.Plane() == mpLuminance && Bitmap->PixelFormat == pf24bit) {
    TLinearBitmap y;
    ExtractLuminance(*Bitmap, y);
    Shown = ComputeHistogram(y, kPlaneAll);
  } else {
    Shown = ComputeHistogram(*Bitmap, CurrentPlaneIndex());
  }
  HistogramPanel->SetHistogram(Shown);
  StatisticsLabel->setText(QString::fromStdString(HistogramStatisticsText(Shown)));
}

void TColorMapperForm::ShowLevel(int level) {
  LevelLabel->setText(QString::fromStdString(LevelText(level, Mapper.CurrentMap())));
  PixelCountLabel->setText(QString::fromStdString(PixelCountText(level, Shown)));
}

void TColorMapperForm::MapPanelPress(int input, int output) {
  Mapper.Press(input, output);
  MapPanel->SetMap(&Mapper.CurrentMap(), &Mapper.Points(), Mapper.Picked());
}

void TColorMapperForm::MapPanelDrag(int input, int output) {
  Mapper.Drag(input, output);
  MapPanel->SetMap(&Mapper.CurrentMap(), &Mapper.Points(), Mapper.Picked());
  ShowLevel(input);
}

void TColorMapperForm::MapPanelRelease() { MapChanged(); }

void TColorMapperForm::MapPanelDelete() {
  if (Mapper.DeletePicked()) MapChanged();
}

void TColorMapperForm::SmoothButtonClick() {
  Mapper.Smooth();
  MapChanged();
}

void TColorMapperForm::AutoButtonClick() {
  const int preset = PresetBox->currentIndex();
  double p1 = double(Parameter1Edit->Value()), p2 = double(Parameter2Edit->Value());
  if (!TColorMapperState::AutoParameters(preset, BaseHistogram(), p1, p2)) return;
  const TPresetInfo& info = PresetInfo(preset);
  Updating = true;
  Parameter1Edit->SetValue(p1);
  Parameter1Bar->setValue(RoundInt(p1 * BarScale(info.Parameter1)));
  if (info.Parameter2.Label) {
    Parameter2Edit->SetValue(p2);
    Parameter2Bar->setValue(RoundInt(p2 * BarScale(info.Parameter2)));
  }
  Updating = false;
  RebuildMap();
}

void TColorMapperForm::LoadButtonClick() {
  const QString name =
      QFileDialog::getOpenFileName(this, "Load color map", Folder, "Color maps (*.col);;All files (*)");
  if (name.isEmpty()) return;
  Folder = QFileInfo(name).absolutePath();
  ToneMap map = Mapper.CurrentMap();
  try {
    const int count = LoadColorMapEntriesFromFile(name.toLocal8Bit().toStdString(), map);
    SetStatus(count < 256 ? QString("%1 holds only %2 of 256 entries; the others were kept")
                                .arg(QFileInfo(name).fileName())
                                .arg(count)
                          : QString());
  } catch (const std::exception& error) {
    ShowError(this, error);
    return;
  }
  Mapper.SetCurrentMap(map);
  MapChanged();
}

void TColorMapperForm::SaveButtonClick() {
  QFileDialog dialog(this, "Save color map", Folder, "Color maps (*.col);;All files (*)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(kColorMapExtension);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString name = dialog.selectedFiles().first();
  Folder = QFileInfo(name).absolutePath();
  try {
    SaveColorMapToFile(name.toLocal8Bit().toStdString(), Mapper.CurrentMap());
  } catch (const std::exception& error) {
    ShowError(this, error);
  }
}

void TColorMapperForm::ApplyButtonClick() {
  if (!Bitmap) return;
  DoPreview();
  Base.Assign(*Bitmap);
  if (BaseY.Present) ExtractLuminance(Base, BaseY);
  Changed = true;
}

void TColorMapperForm::OkButtonClick() {
  ApplyButtonClick();
  accept();
}

void TColorMapperForm::SetStatus(const QString& text) {
  StatusLabel->setText(text);
  StatusLabel->setVisible(!text.isEmpty());
}

bool ExecuteColorMapper(TLinearBitmap& bitmap, std::function<void()> repaint, QWidget* parent) {
  if (!bitmap.Present) return false;
  static QPointer<TColorMapperForm> form;
  if (!form) form = new TColorMapperForm(parent);
  return form->Execute(bitmap, std::move(repaint));
}

}  // namespace sq
