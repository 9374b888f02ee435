// Self
#include "app/view_3d_model_form.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

// Qt
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

// Local
#include "app/main_form.h"
#include "app/model_render_panel.h"
#include "app/open_picture_dialog.h"
#include "app/vrml_export_form.h"
#include "base/exception.h"
#include "base/format.h"
#include "imaging/linear_bitmap.h"
#include "model3d/light.h"
#include "model3d/melax_reduce.h"
#include "model3d/texture_model.h"
#include "model3d/vrml_loader.h"
#include "numeric/expression.h"
#include "platform/program_setup.h"

namespace sq {

namespace {

// A full drawing slower than this cannot follow the mouse smoothly (30 pictures a
// second); drags then draw points only and the full picture follows on release.
constexpr double kDragFrameBudgetMs = 33.0;

// The ambient level is the program's, not one viewer's: it is kept between viewers.
float RememberedAmbientLight = TViewSettings().AmbientLight;

QString Caption(const QAction* action) { return action->text().remove('&'); }

std::string FolderOf(const std::string& fileName) {
  return NativeName(QFileInfo(FromNativeName(fileName)).absolutePath());
}

// The extension of a dialog filter entry "Name (*.ext)": ".ext".
QString FilterExtension(const QString& entry) {
  const int star = entry.lastIndexOf("*.");
  if (star < 0) return {};
  return entry.mid(star + 1).remove(')').trimmed();
}

bool IsVRMLFileName(const std::string& fileName) { return UpperCase(ExtractFileExtNoDot(fileName)) == "WRL"; }

}  // namespace

const std::array<uint32_t, 8> TView3DModelForm::kRenderModes{rmDefault, rmPoints,  rmColorBlocks, rmWireframe,
                                                             rmFlat,    rmGouraud, rmTexture,     rmGouraudTexture};

TView3DModelForm::TView3DModelForm(bool allowFiles, QWidget* parent) : QDialog(parent) {
  setWindowTitle("3D model viewer");
  resize(441, 458);
  MakeLampModel(lampModel_);
  settings_.Reflection = TReflection::None;
  settings_.AmbientLight = RememberedAmbientLight;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    settings_.ScreenWidthPixels = std::max(1, screen->geometry().width());
  renderer_ = MakeRenderer(settings_);
  CreateControls(allowFiles);
  qApp->installEventFilter(this);
}

TView3DModelForm::~TView3DModelForm() { qApp->removeEventFilter(this); }

void TView3DModelForm::CreateControls(bool allowFiles) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* toolBar = new QWidget(this);
  toolBar->setFixedHeight(45);
  auto* toolLayout = new QHBoxLayout(toolBar);
  toolLayout->setContentsMargins(6, 4, 6, 4);
  toolLayout->setSpacing(4);
  MenuButton = new QToolButton(toolBar);
  CopyButton = new QToolButton(toolBar);
  ResetViewButton = new QToolButton(toolBar);
  CloseButton = new QToolButton(toolBar);
  MenuButton->setText("&Menu");
  CopyButton->setText("&Copy");
  ResetViewButton->setText("&Reset view");
  CloseButton->setText("Close");
  CopyButton->setToolTip("Copy the picture to the clipboard");
  for (QToolButton* button : {MenuButton, CopyButton, ResetViewButton, CloseButton}) toolLayout->addWidget(button);
  toolLayout->addSpacing(10);
  layout->addWidget(toolBar);

  panel_ = new TModelRenderPanel(this);
  layout->addWidget(panel_, 1);
  panel_->installEventFilter(this);
  connect(panel_, &TModelRenderPanel::Resized, this, Guarded(&TView3DModelForm::PanelResized));

  // Every action also belongs to the window, so its short-cut works while the menu
  // is closed; a hidden action's short-cut does nothing.
  auto makeAction = [this](const QString& text, QKeySequence shortcut = {}) {
    auto* action = new QAction(text, this);
    action->setShortcut(shortcut);
    addAction(action);
    return action;
  };

  PopupMenu = new QMenu(this);
  FileMenu = PopupMenu->addMenu("File");
  OpenAction = makeAction("Open...", Qt::Key_F3);
  SaveAction = makeAction("Save...", Qt::Key_F2);
  FileMenu->addAction(OpenAction);
  FileMenu->addAction(SaveAction);
  FileMenu->menuAction()->setVisible(allowFiles);
  OpenAction->setEnabled(allowFiles);
  SaveAction->setEnabled(allowFiles);
  connect(OpenAction, &QAction::triggered, this, Guarded(&TView3DModelForm::OpenClick));
  connect(SaveAction, &QAction::triggered, this, Guarded(&TView3DModelForm::SaveClick));

  QMenu* rendererMenu = PopupMenu->addMenu("Renderer");
  renderGroup_ = new QActionGroup(this);
  static const char* const renderCaptions[8] = {"Default", "Points",  "Color blocks", "Wireframe",
                                                "Flat",    "Gouraud", "Texture",      "Gouraud texture"};
  for (int tag = 0; tag < 8; ++tag) {
    QAction* action = makeAction(renderCaptions[tag], QKeySequence(Qt::SHIFT | Qt::Key(Qt::Key_F1 + tag)));
    action->setCheckable(true);
    action->setVisible(tag < 2);
    renderGroup_->addAction(action);
    rendererMenu->addAction(action);
    connect(action, &QAction::triggered, this, [this, tag] {
      try {
        RenderActionTriggered(tag);
      } catch (const std::exception& error) {
        ShowError(error);
      }
    });
    RenderActions[tag] = action;
  }
  RenderActions[0]->setChecked(true);

  ReflectionMenu = PopupMenu->addMenu("Surface reflection");
  reflectionGroup_ = new QActionGroup(this);
  ReflectionNoneAction = makeAction("None");
  ReflectionStandardAction = makeAction("Standard");
  ReflectionShinyAction = makeAction("Shiny");
  for (QAction* action : {ReflectionNoneAction, ReflectionStandardAction, ReflectionShinyAction}) {
    action->setCheckable(true);
    reflectionGroup_->addAction(action);
    ReflectionMenu->addAction(action);
  }
  ReflectionNoneAction->setChecked(true);
  connect(reflectionGroup_, &QActionGroup::triggered, this, [this](QAction* action) {
    try {
      ReflectionTriggered(action);
    } catch (const std::exception& error) {
      ShowError(error);
    }
  });
  ReflectionMenu->addSeparator();
  AmbientLightAction = makeAction("Set ambient light");
  ReflectionMenu->addAction(AmbientLightAction);
  connect(AmbientLightAction, &QAction::triggered, this, Guarded(&TView3DModelForm::SetAmbientLightClick));

  StereoAction = makeAction("Red-blue stereo 3D");
  StereoAction->setCheckable(true);
  PopupMenu->addAction(StereoAction);
  connect(StereoAction, &QAction::triggered, this, Guarded(&TView3DModelForm::StereoClick));

  BackSidesAction = makeAction("Show back sides");
  BackSidesAction->setCheckable(true);
  PopupMenu->addAction(BackSidesAction);
  connect(BackSidesAction, &QAction::triggered, this, Guarded(&TView3DModelForm::BackSidesClick));

  SetColorAction = makeAction("Set color...");
  PopupMenu->addAction(SetColorAction);
  connect(SetColorAction, &QAction::triggered, this, Guarded(&TView3DModelForm::SetColorClick));

  OptimizationMenu = PopupMenu->addMenu("Optimization");
  MelaxAction = makeAction("Melax polygon reduction");
  RemoveDuplicatesAction = makeAction("Remove dublicate points");
  OptimizationMenu->addAction(MelaxAction);
  OptimizationMenu->addAction(RemoveDuplicatesAction);
  connect(MelaxAction, &QAction::triggered, this, Guarded(&TView3DModelForm::MelaxClick));
  connect(RemoveDuplicatesAction, &QAction::triggered, this, Guarded(&TView3DModelForm::RemoveDuplicatesClick));

  ModelInfoAction = makeAction("Model info...");
  PopupMenu->addAction(ModelInfoAction);
  connect(ModelInfoAction, &QAction::triggered, this, Guarded(&TView3DModelForm::ModelInfoClick));

  navigationGroup_ = new QActionGroup(this);
  RotateAction = makeAction("Rotate", Qt::Key_F9);
  MoveAction = makeAction("Move", Qt::Key_F10);
  ZoomAction = makeAction("Zoom", Qt::Key_F11);
  for (QAction* action : {RotateAction, MoveAction, ZoomAction}) {
    action->setCheckable(true);
    action->setToolTip(QString("%1 (%2)").arg(action->text(), action->shortcut().toString(QKeySequence::NativeText)));
    navigationGroup_->addAction(action);
    auto* button = new QToolButton(toolBar);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolLayout->addWidget(button);
  }
  RotateAction->setChecked(true);
  toolLayout->addStretch(1);

  connect(MenuButton, &QToolButton::clicked, this,
          [this] { PopupMenu->popup(MenuButton->mapToGlobal(QPoint(0, MenuButton->height()))); });
  connect(CopyButton, &QToolButton::clicked, this, Guarded(&TView3DModelForm::CopyClick));
  connect(ResetViewButton, &QToolButton::clicked, this, Guarded(&TView3DModelForm::ResetView));
  connect(CloseButton, &QToolButton::clicked, this, &QDialog::reject);
}

void TView3DModelForm::SetModel(TBase3DModel* model) {
  ownedModel_.reset();
  shownModel_ = model;
  if (isVisible()) {
    ShowModel();
    Redraw(false);
  }
}

void TView3DModelForm::ShowModel() {
  if (!shownModel_) {
    auto sphere = std::make_unique<TSurfaceColorModel>();
    sphere->MakeSphere(30);
    sphere->FillColor(0xFF0000);
    sphere->ShowBackSides = sphere->UseNormals = sphere->Shading = true;
    shownModel_ = sphere.get();
    ownedModel_ = std::move(sphere);
  }
  auto* colored = dynamic_cast<TColorPoint3DModel*>(shownModel_);
  auto* surface = dynamic_cast<TSurfaceColorModel*>(shownModel_);
  auto* textured = dynamic_cast<TTextureModel*>(shownModel_);

  ReflectionMenu->menuAction()->setVisible(surface != nullptr);
  SetColorAction->setVisible(surface != nullptr);
  MelaxAction->setVisible(surface != nullptr);
  BackSidesAction->setVisible(surface != nullptr);
  RenderActions[2]->setVisible(colored != nullptr);
  for (int tag : {3, 4, 5}) RenderActions[tag]->setVisible(surface != nullptr);
  for (int tag : {6, 7}) RenderActions[tag]->setVisible(textured != nullptr);
  RemoveDuplicatesAction->setVisible(textured == nullptr);

  if (surface) {
    BackSidesAction->setChecked(surface->ShowBackSides);
    settings_.ShowBackSides = surface->ShowBackSides;
    if (surface->UseNormals && surface->Shading) {
      ReflectionStandardAction->setChecked(true);
      settings_.Reflection = TReflection::Standard;
    }
    settings_.AmbientInLightRoutine =
        surface->LightFunction == LightStandardAmbient || surface->LightFunction == LightShinyAmbient;
  }
  StereoAction->setChecked(settings_.Stereo);
  settings_.RenderMode = shownModel_->RenderMode;
  for (int tag = 0; tag < 8; ++tag)
    if (kRenderModes[tag] == shownModel_->RenderMode) RenderActions[tag]->setChecked(true);
  ApplyViewSettings(settings_, *shownModel_);
}

void TView3DModelForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ShowModel();
  if (!shownBefore_) {
    shownBefore_ = true;
    if (!fileName_.empty()) {
      try {
        OpenModel(fileName_);
      } catch (const std::exception& error) {
        ShowError(error);
      }
    }
  }
  Redraw(false);
}

void TView3DModelForm::PanelResized() {
  settings_.Width = panel_->width();
  settings_.Height = panel_->height();
  Redraw(false);
}

void TView3DModelForm::Redraw(bool quick) {
  const Frame32 frame = panel_->Frame();
  if (!shownModel_) {
    frame.Fill(0);
    return;
  }
  QElapsedTimer timer;
  timer.start();
  RenderView(*renderer_, *shownModel_, settings_, frame, &lampModel_, quick);
  if (!quick) fullFrameMs_ = timer.nsecsElapsed() / 1e6;
  pictureIsQuick_ = quick;
  panel_->update();
}

void TView3DModelForm::ResetView() {
  settings_.ResetView();
  Redraw(false);
}

bool TView3DModelForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel_) {
    try {
      switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
          PanelMouseDown(static_cast<QMouseEvent*>(event));
          return true;
        case QEvent::MouseMove:
          PanelMouseMove(static_cast<QMouseEvent*>(event));
          return true;
        case QEvent::MouseButtonRelease:
          PanelMouseUp(static_cast<QMouseEvent*>(event));
          return true;
        case QEvent::Wheel:
          PanelWheel(static_cast<QWheelEvent*>(event));
          return true;
        default:
          break;
      }
    } catch (const std::exception& error) {
      ShowError(error);
      return true;
    }
  } else if (event->type() == QEvent::KeyRelease && isActiveWindow()) {
    // Releasing Ctrl anywhere in the window ends quick drawing.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Control && !key->isAutoRepeat() && pictureIsQuick_) {
      Redraw(false);
      panel_->repaint();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TView3DModelForm::PanelMouseDown(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  lastX_ = position.x();
  lastY_ = position.y();
  if (event->button() == Qt::RightButton && settings_.Lighting()) {
    settings_.LightDrag = true;
    PanelMouseMove(event);
  }
}

void TView3DModelForm::PanelMouseMove(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  const int x = position.x(), y = position.y();
  if ((event->buttons() & Qt::LeftButton) && lastX_ != -1) {
    if (MoveAction->isChecked() || (event->modifiers() & Qt::ShiftModifier)) {
      settings_.ShiftX += x - lastX_;
      settings_.ShiftY += y - lastY_;
    } else if (RotateAction->isChecked()) {
      // A drag of Zoom pixels turns the model by 60 degrees.
      const double a = (y - lastY_) / settings_.Zoom * std::numbers::pi / 3;
      const double b = (x - lastX_) / settings_.Zoom * std::numbers::pi / 3;
      settings_.Rotate(a, b);
    } else if (ZoomAction->isChecked()) {
      settings_.Zoom = std::max(settings_.Zoom - (y - lastY_), 1.0);
    }
    lastX_ = x;
    lastY_ = y;
    DragRedraw(event->modifiers());
  } else if (settings_.LightDrag && ((event->buttons() & Qt::RightButton) || event->button() == Qt::RightButton)) {
    const double halfSize = std::min(panel_->width(), panel_->height()) / 2.0;
    const double lx = (x - panel_->width() / 2) / halfSize;
    const double ly = (panel_->height() / 2 - y) / halfSize;
    const double length = std::sqrt(lx * lx + ly * ly + 1.0);
    settings_.LightVector = T3DPoint{float(lx / length), float(ly / length), float(1.0 / length)};
    renderer_->LightDirection = settings_.LightVector;
    Redraw(false);
    panel_->repaint();
  }
}

void TView3DModelForm::PanelMouseUp(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && settings_.LightDrag) {
    settings_.LightDrag = false;
    // The lamp goes with the drag.
    Redraw(false);
  } else if (event->button() == Qt::LeftButton && pictureIsQuick_ && !(event->modifiers() & Qt::ControlModifier)) {
    // The drag drew points because full pictures were too slow; show the full one.
    Redraw(false);
  }
}

void TView3DModelForm::PanelWheel(QWheelEvent* event) {
  if (!MoveAction->isChecked() && !(event->modifiers() & Qt::ShiftModifier)) return;
  settings_.ShiftZ += event->angleDelta().y() / 2;
  // No release follows a wheel step to bring the full picture back: only Ctrl makes it quick.
  Redraw(event->modifiers() & Qt::ControlModifier);
  panel_->repaint();
}

void TView3DModelForm::DragRedraw(Qt::KeyboardModifiers modifiers) {
  Redraw((modifiers & Qt::ControlModifier) || fullFrameMs_ > kDragFrameBudgetMs);
  panel_->repaint();
}

void TView3DModelForm::RenderActionTriggered(int tag) {
  if (RenderActions[tag]->isVisible()) {
    RenderActions[tag]->setChecked(true);
    settings_.RenderMode = kRenderModes[tag];
    ApplyViewSettings(settings_, *shownModel_);
  }
  Redraw(false);
}

void TView3DModelForm::ReflectionTriggered(QAction* action) {
  settings_.ChooseReflection(action == ReflectionShinyAction      ? TReflection::Shiny
                             : action == ReflectionStandardAction ? TReflection::Standard
                                                                  : TReflection::None);
  ApplyViewSettings(settings_, *shownModel_);
  Redraw(false);
}

void TView3DModelForm::SetAmbientLightClick() {
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, Caption(AmbientLightAction), "Ambient light level (0-1):", QLineEdit::Normal,
                            QString::fromStdString(Format("%.4g", double(settings_.AmbientLight))), &ok);
  if (!ok) return;
  const long double level = EvaluateExpression(text.toStdString());
  // The level scales colours: outside 0-1 it would darken or wash out every model.
  if (!(level >= 0 && level <= 1)) throw Exception("The ambient light level must lie between 0 and 1");
  settings_.SetAmbientLight(static_cast<float>(level));
  RememberedAmbientLight = settings_.AmbientLight;
  ApplyViewSettings(settings_, *shownModel_);
  Redraw(false);
}

void TView3DModelForm::StereoClick() {
  settings_.Stereo = StereoAction->isChecked();
  renderer_ = MakeRenderer(settings_);
  Redraw(false);
}

void TView3DModelForm::BackSidesClick() {
  settings_.ShowBackSides = BackSidesAction->isChecked();
  ApplyViewSettings(settings_, *shownModel_);
  Redraw(false);
}

void TView3DModelForm::SetColorClick() {
  auto* colored = dynamic_cast<TColorPoint3DModel*>(shownModel_);
  if (!colored) return;
  const uint32_t c = settings_.ModelColor;
  const QColor chosen =
      QColorDialog::getColor(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF), this, Caption(SetColorAction));
  if (!chosen.isValid()) return;
  settings_.ModelColor = uint32_t(chosen.red()) | uint32_t(chosen.green()) << 8 | uint32_t(chosen.blue()) << 16;
  colored->FillColor(uint32_t(chosen.red()) << 16 | uint32_t(chosen.green()) << 8 | uint32_t(chosen.blue()));
  Redraw(false);
}

void TView3DModelForm::MelaxClick() {
  auto* surface = dynamic_cast<TSurfaceColorModel*>(shownModel_);
  if (!surface) return;
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, Caption(MelaxAction), "Enter maximum number of vertices:", QLineEdit::Normal,
                            QString::number(std::max(1, surface->VertexCount - 1)), &ok);
  if (!ok) return;
  {
    TBusyCursor busy;
    const long double value = std::ceil(EvaluateExpression(text.toStdString()));
    const int count = value >= std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                                   : static_cast<int>(std::max(1.0L, value));
    MelaxReduce(*surface, count);
    Redraw(false);
  }
  ModelInfoClick();
}

void TView3DModelForm::RemoveDuplicatesClick() {
  {
    TBusyCursor busy;
    shownModel_->RemoveDuplicatePoints();
    Redraw(false);
  }
  ModelInfoClick();
}

void TView3DModelForm::ModelInfoClick() {
  QString text = QString("Number of points: \t%1").arg(shownModel_->VertexCount);
  if (const auto* surface = dynamic_cast<const TSurfaceColorModel*>(shownModel_))
    text += QString("\nNumber of faces: \t%1").arg(surface->TriangleCount);
  QMessageBox::information(this, Caption(ModelInfoAction), text);
}

void TView3DModelForm::CopyClick() {
  TBusyCursor busy;
  TLinearBitmap picture;
  FrameToBitmap(panel_->Frame(), picture);
  const QImage image(picture.Map, picture.Width, picture.Height, picture.BytesPerLine, QImage::Format_BGR888);
  QApplication::clipboard()->setImage(image.copy());
}

void TView3DModelForm::OpenModel(const std::string& fileName) {
  lastX_ = -1;
  std::string loadError;
  {
    TBusyCursor busy;
    std::unique_ptr<TTextureModel> model = OpenModelFile(fileName, settings_, &loadError);
    RememberedAmbientLight = settings_.AmbientLight;
    fileName_ = fileName;
    ownedModel_ = std::move(model);
    shownModel_ = ownedModel_.get();
    ShowModel();
    Redraw(false);
    ProgramSetup().WriteString("ModelPath", FolderOf(fileName));
  }
  // What was read before the error is shown.
  if (!loadError.empty())
    QMessageBox::critical(this, windowTitle(), QString::fromLocal8Bit("Error loading model:\n" + loadError));
}

void TView3DModelForm::SaveModel(const std::string& fileName) {
  lastX_ = -1;
  ProgramSetup().WriteString("ModelPath", FolderOf(fileName));
  if (IsVRMLFileName(fileName)) {
    TVRMLExportOptions& options = RememberedVRMLExportOptions();
    // Cancel abandons the save: an existing file stays as it was.
    if (!QueryVRMLExportOptions(*shownModel_, options, this)) return;
    TBusyCursor busy;
    SaveVRMLFile(*shownModel_, fileName, options);
    return;
  }
  TBusyCursor busy;
  shownModel_->SaveToFile(fileName);
}

void TView3DModelForm::OpenClick() {
  const std::string folder = fileName_.empty() ? ProgramSetup().ReadString("ModelPath", "") : FolderOf(fileName_);
  lastX_ = -1;
  const std::string filter = std::string("Known formats (") + ModelFileExtensions + ")|" + ModelFileExtensions;
  const QString name = QFileDialog::getOpenFileName(this, Caption(OpenAction), FromNativeName(folder),
                                                    ToDialogFilters(filter).join(";;"));
  if (name.isEmpty()) return;
  OpenModel(NativeName(name));
}

void TView3DModelForm::SaveClick() {
  const std::string start = fileName_.empty() ? ProgramSetup().ReadString("ModelPath", "") : fileName_;
  lastX_ = -1;
  QString filter;
  QString name = QFileDialog::getSaveFileName(this, Caption(SaveAction), FromNativeName(start),
                                              ToDialogFilters(ModelFileFilter()).join(";;"), &filter);
  if (name.isEmpty()) return;
  if (QFileInfo(name).suffix().isEmpty()) name += FilterExtension(filter);
  fileName_ = NativeName(name);
  SaveModel(fileName_);
}

void TView3DModelForm::ShowError(const std::exception& error) {
  QMessageBox::critical(this, windowTitle(), QString::fromLocal8Bit(error.what()).replace('\r', '\n'));
}

void ShowModelViewer(TBase3DModel* model, bool allowFiles, QWidget* parent) {
  TView3DModelForm viewer(allowFiles, parent);
  viewer.SetModel(model);
  viewer.exec();
}

void ShowModelViewerOnFile(const std::string& fileName, QWidget* parent) {
  TView3DModelForm viewer(true, parent);
  viewer.SetFileName(fileName);
  viewer.exec();
}

}  // namespace sq
