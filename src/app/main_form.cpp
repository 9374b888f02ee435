// Self
#include "app/main_form.h"

// Qt
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

// Local
#include <cstdlib>
#include <cstring>

#include "app/accommodate_form.h"
#include "app/color_mapper_form.h"
#include "app/format_associate_form.h"
#include "app/image_annotate_form.h"
#include "app/mdi_child.h"
#include "app/noise_reduction_form.h"
#include "app/open_picture_dialog.h"
#include "app/print_form.h"
#include "app/resize_form.h"
#include "app/rotate_form.h"
#include "app/tool_icons.h"
#include "app/twain_window.h"
#include "app/view_3d_model_form.h"
#include "base/progress.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/codecs/image_dll_loader.h"
#include "imaging/gray.h"
#include "imaging/ops/auto_color.h"
#include "imaging/ops/filters.h"
#include "platform/file_association.h"
#include "platform/program_paths.h"
#include "platform/program_setup.h"
#include "platform/twain.h"
#include "project/accommodation.h"
#include "project/project_file.h"

namespace sq {

std::string NativeName(const QString& fileName) { return QFile::encodeName(fileName).toStdString(); }
QString FromNativeName(const std::string& fileName) { return QFile::decodeName(QByteArray::fromStdString(fileName)); }

TBusyCursor::TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
TBusyCursor::~TBusyCursor() { QApplication::restoreOverrideCursor(); }

namespace {

const char* const kTitle = "Stereoquill";

// Model files open in the 3D viewer rather than as images.
bool IsModelFileName(const QString& fileName) {
  const QString extension = QFileInfo(fileName).suffix().toUpper();
  return extension == "M3D" || extension == "PLY";
}

// What the clipboard carries besides an ordinary image: the packed bitmap itself, and
// the same bytes behind a file header for programs that read BMP data.
const char* const kDibMime = "application/x-stereoquill-dib";
const char* const kBmpMime = "image/bmp";

QByteArray BmpFromDib(const std::vector<uint8_t>& dib) {
  if (dib.size() < 40) return {};
  uint32_t headerSize = 0, colors = 0;
  uint16_t bits = 0;
  std::memcpy(&headerSize, dib.data(), 4);
  std::memcpy(&bits, dib.data() + 14, 2);
  std::memcpy(&colors, dib.data() + 32, 4);
  if (bits <= 8 && colors == 0) colors = 1u << bits;
  const uint32_t offset = 14 + headerSize + (bits <= 8 ? colors * 4 : 0);
  const uint32_t size = static_cast<uint32_t>(14 + dib.size());
  QByteArray bmp(14, '\0');
  bmp[0] = 'B';
  bmp[1] = 'M';
  std::memcpy(bmp.data() + 2, &size, 4);
  std::memcpy(bmp.data() + 10, &offset, 4);
  bmp.append(reinterpret_cast<const char*>(dib.data()), static_cast<qsizetype>(dib.size()));
  return bmp;
}

bool BitmapFromQImage(const QImage& source, TLinearBitmap& bitmap) {
  if (source.isNull()) return false;
  if (source.format() == QImage::Format_Grayscale8) {
    bitmap.New(source.width(), source.height(), pf8bit);
    std::memcpy(bitmap.Palette, GrayPalette(), 768);
    for (int y = 0; y < source.height(); ++y)
      std::memcpy(bitmap.ScanLine(y), source.constScanLine(y), size_t(source.width()));
    return true;
  }
  const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
  bitmap.New(rgb.width(), rgb.height(), pf24bit);
  for (int y = 0; y < rgb.height(); ++y) {
    const uchar* in = rgb.constScanLine(y);
    uint8_t* out = bitmap.ScanLine(y);
    for (int x = 0; x < rgb.width(); ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return true;
}

QString StripAccelerator(QString text) {
  text.remove(QRegularExpression("&(?!&)"));
  text.replace("&&", "&");
  if (text.endsWith("...")) text.chop(3);
  return text;
}

}  // namespace

TMainForm::TMainForm(const QString& programDir, QWidget* parent)
    : QMainWindow(parent), ProgramDir_(programDir.isEmpty() ? QApplication::applicationDirPath() : programDir) {
  setWindowTitle(kTitle);
  setWindowIcon(ToolIcon(TToolIcon::Model3D));
  MdiArea_ = new QMdiArea(this);
  MdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MdiArea_->setBackground(QColor(96, 104, 116));
  setCentralWidget(MdiArea_);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  connect(MdiArea_, &QMdiArea::subWindowActivated, this, &TMainForm::SubWindowActivated);
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &TMainForm::UpdateClipboardState);

  SetProgressHandler([this](int percent) { ShowProgress(percent); });
  resize(1024, 768);
  ReadSettings();
  // Image formats from plug-in libraries, registered behind the built-in ones.
  LoadPlugins(NativeName(HalvorixPath));
  // The animation commands of the old morphing editor stay hidden; F9 belongs to "3D model".
  AnimationMenu_->menuAction()->setVisible(false);
  ConnectPointsButton_->setVisible(false);
  for (QAction* hidden : HiddenButtons_) hidden->setVisible(false);
  SetEditMode(ZoomMode);
  UpdateMenuStates();
  UpdateClipboardState();
  setAcceptDrops(true);
}

TMainForm::~TMainForm() {
  SetProgressHandler(nullptr);
  // Document windows refer to this form; they go first, and quietly.
  MdiArea_->disconnect(this);
  for (QMdiSubWindow* window : MdiArea_->subWindowList()) delete window;
}

QAction* TMainForm::MakeAction(const QString& caption, const QString& shortcut, const QString& hint,
                               void (TMainForm::*slot)()) {
  auto* action = new QAction(caption, this);
  if (!shortcut.isEmpty()) action->setShortcut(QKeySequence(shortcut));
  if (!hint.isEmpty()) {
    action->setStatusTip(hint);
    action->setToolTip(hint);
  }
  if (slot) connect(action, &QAction::triggered, this, slot);
  return action;
}

void TMainForm::CreateActions() {
  NewAction_ = MakeAction("&New", "", "Begin new animation", &TMainForm::NewClick);
  OpenProjectAction_ =
      MakeAction("Open animation...", "F3", "Open an existing animation", &TMainForm::OpenProjectClick);
  SaveProjectAction_ = MakeAction("Save animation", "F2", "Save animation to file", &TMainForm::SaveProjectClick);
  SaveProjectAsAction_ = MakeAction("Save &as...", "", "Save animation to new file", &TMainForm::SaveProjectAsClick);
  OpenImageAction_ = MakeAction("Open image...", "F4", "Load image file", &TMainForm::OpenImageClick);
  ReloadImageAction_ = MakeAction("&Reload image", "F5", "Reload image from disk", &TMainForm::ReloadImageClick);
  SaveImageAction_ = MakeAction("Save &image", "", "Save current image", &TMainForm::SaveImageClick);
  SaveImageAsAction_ =
      MakeAction("Save i&mage as...", "", "Save current image to new file", &TMainForm::SaveImageAsClick);
  PrintAction_ = MakeAction("&Print...", "", "Print current image", &TMainForm::PrintClick);
  ScanAction_ = MakeAction("Scan", "", "Aquire image from TWAIN source", &TMainForm::ScanClick);
  SelectTwainSourceAction_ =
      MakeAction("Select &TWAIN source", "", "Select TWAIN source", &TMainForm::SelectTwainSourceClick);
  FileAssociationAction_ = MakeAction("File format association", "", "", &TMainForm::FileAssociationClick);
  ExitAction_ = MakeAction("E&xit", "Alt+X", "Exit the application", nullptr);
  connect(ExitAction_, &QAction::triggered, this, &QWidget::close);

  UndoAction_ = MakeAction("&Undo ", "Alt+Backspace", "", &TMainForm::UndoClick);
  RedoAction_ = MakeAction("&Redo ", "Shift+Alt+Backspace", "", &TMainForm::RedoClick);
  CopyAction_ = MakeAction("&Copy", "Ctrl+Ins", "Copy image to clipboard", &TMainForm::CopyClick);
  PasteAction_ = MakeAction("&Paste", "Shift+Ins", "Get image from clipboard", &TMainForm::PasteClick);
  RemovePointAction_ = MakeAction("&Remove point", "Del", "Remove selected point", &TMainForm::RemovePointClick);
  RemoveAllPointsAction_ =
      MakeAction("Remove &all points", "", "Remove ALL defined points in animation", &TMainForm::RemoveAllPointsClick);
  AddCornerPointsAction_ =
      MakeAction("Add &corner points", "", "Add points in the four image corners", &TMainForm::AddCornerPointsClick);
  SwapImagesAction_ = MakeAction("&Swap images", "", "Swap image numbers", &TMainForm::SwapImagesClick);

  ResizeAction_ = MakeAction("&Resize", "Ctrl+R", "High quality image resize", &TMainForm::ResizeClick);
  MirrorAction_ = MakeAction("&Mirror image", "Ctrl+M", "Mirror image left <-> right", &TMainForm::MirrorClick);
  RotateAction_ = MakeAction("R&otate", "", "Rotate image", &TMainForm::RotateClick);
  AccommodateAction_ = MakeAction("Accommodate images...", "Ctrl+A",
                                  "Move and crop two images so similar features are placed as close as possible",
                                  &TMainForm::AccommodateClick);
  GrayscaleAction_ = MakeAction("&Grayscale", "", "Convert image to grayscale", &TMainForm::GrayscaleClick);
  To24BitAction_ = MakeAction("&24 bit color", "", "Convert image to 24 bit colors", &TMainForm::To24BitClick);
  InvertAction_ = MakeAction("&Invert", "", "Make negative image", &TMainForm::InvertClick);
  ColorMapperAction_ =
      MakeAction("Color mapper", "", "Image enhancement by color/histogram mapping", &TMainForm::ColorMapperClick);
  AutoColorAction_ =
      MakeAction("Auto color correction", "",
                 "Find the black/whitepoint and gamma setting that gvies the closest match to an equalized histogram",
                 &TMainForm::AutoColorClick);
  NoiseReductionAction_ =
      MakeAction("Noise reduction", "", "Adaptive filter for removing noise", &TMainForm::NoiseReductionClick);
  SmoothAction_ = MakeAction("&Smooth", "", "Smooth image", &TMainForm::SmoothClick);
  SharpenAction_ = MakeAction("Sh&arpen", "", "Sharpen image", &TMainForm::SharpenClick);
  JpegFilterAction_ = MakeAction("JPEG Filter", "", "Adaptive filter image for removing noise at 8 x 8 block edges",
                                 &TMainForm::JpegFilterClick);
  DeinterlaceAction_ =
      MakeAction("&De-interlace", "", "De-interlace image from TV-tuner", &TMainForm::DeinterlaceClick);
  Model3DAction_ = MakeAction("3D model", "F9", "", &TMainForm::Model3DClick);

  UpdateScreenAction_ = MakeAction("&Update screen", "", "Repaint screen", &TMainForm::UpdateScreenClick);
  TileAction_ = MakeAction("&Tile", "F6", "Arrange windows without overlap. Click twice to tile vertical.",
                           &TMainForm::TileClick);
  CascadeAction_ = MakeAction("&Cascade", "", "Arrange windows to overlap", &TMainForm::CascadeClick);
  ArrangeIconsAction_ =
      MakeAction("&Arrange Icons", "", "Arrange window icons at bottom of main window", &TMainForm::ArrangeIconsClick);
  MinimizeAllAction_ = MakeAction("&Minimize All", "", "Minimize all windows", &TMainForm::MinimizeAllClick);
  CloseAction_ = MakeAction("&Close", "", "Close current file", &TMainForm::CloseClick);
  ZoomInAction_ = MakeAction("Zoom &in", "PgUp", "Zoom in", &TMainForm::ZoomInClick);
  ZoomOutAction_ = MakeAction("Zoom &out", "PgDown", "Zoom out", &TMainForm::ZoomOutClick);

  HelpContentsAction_ = MakeAction("Help Contents", "", "Program help", &TMainForm::HelpContentsClick);
  FeatureDescriptionAction_ = MakeAction("Feature description...", "", "Very short description of menu items",
                                         &TMainForm::FeatureDescriptionClick);
  AboutAction_ = MakeAction("About...", "F1", "About Stereoquill", &TMainForm::AboutClick);

  PointModeAction_ = MakeAction("Add/move points", "", "Add/move points", &TMainForm::PointModeClick);
  ZoomModeAction_ = MakeAction("Zoom in/out", "", "Zoom in/out", &TMainForm::ZoomModeClick);
  ConnectPointsAction_ = MakeAction("Connect points", "", "Connect points", &TMainForm::ConnectPointsClick);
  for (QAction* mode : {PointModeAction_, ZoomModeAction_, ConnectPointsAction_}) mode->setCheckable(true);
  PointModeAction_->setIcon(ToolIcon(TToolIcon::PointMode));
  ZoomModeAction_->setIcon(ToolIcon(TToolIcon::ZoomMode));
  ConnectPointsAction_->setIcon(ToolIcon(TToolIcon::ConnectPoints));
  OpenProjectAction_->setIcon(ToolIcon(TToolIcon::OpenProject));
  SaveProjectAction_->setIcon(ToolIcon(TToolIcon::SaveProject));
  OpenImageAction_->setIcon(ToolIcon(TToolIcon::OpenImage));
  ScanAction_->setIcon(ToolIcon(TToolIcon::Scan));
  AccommodateAction_->setIcon(ToolIcon(TToolIcon::Accommodate));
  Model3DAction_->setIcon(ToolIcon(TToolIcon::Model3D));
  Model3DAction_->setToolTip("3D model");

  // The old morphing editor's commands: kept, hidden, and without work of their own.
  RunAnimationAction_ = MakeAction("Run...", "", "", nullptr);
  TestAnimationAction_ = MakeAction("Test...", "F8", "", nullptr);
  SaveVideoAction_ = MakeAction("Save as &video...", "", "", nullptr);
  AnimationSetupAction_ = MakeAction("Animation setup...", "", "", nullptr);
}

void TMainForm::CreateMenus() {
  FileMenu_ = menuBar()->addMenu("&File");
  FileMenu_->menuAction()->setStatusTip("File related commands");
  FileMenu_->addActions({NewAction_, OpenProjectAction_, SaveProjectAction_, SaveProjectAsAction_});
  FileMenu_->addSeparator();
  FileMenu_->addActions({OpenImageAction_, ReloadImageAction_, SaveImageAction_, SaveImageAsAction_});
  FileMenu_->addSeparator();
  FileMenu_->addActions({PrintAction_, ScanAction_, SelectTwainSourceAction_});
  FileMenu_->addSeparator();
  FileMenu_->addAction(FileAssociationAction_);
  FileMenu_->addSeparator();
  FileMenu_->addAction(ExitAction_);

  EditMenu_ = menuBar()->addMenu("&Edit");
  EditMenu_->addActions({UndoAction_, RedoAction_});
  EditMenu_->addSeparator();
  EditMenu_->addActions({CopyAction_, PasteAction_});
  EditMenu_->addSeparator();
  EditMenu_->addActions({RemovePointAction_, RemoveAllPointsAction_, AddCornerPointsAction_, SwapImagesAction_});

  ImageMenu_ = menuBar()->addMenu("&Image");
  ImageMenu_->menuAction()->setStatusTip("Image related commands");
  ImageMenu_->addActions({ResizeAction_, MirrorAction_, RotateAction_, AccommodateAction_});
  ColorsMenu_ = ImageMenu_->addMenu("Colors");
  ColorsMenu_->addActions({GrayscaleAction_, To24BitAction_, InvertAction_, ColorMapperAction_, AutoColorAction_});
  FiltersMenu_ = ImageMenu_->addMenu("&Filters");
  FiltersMenu_->addActions(
      {NoiseReductionAction_, SmoothAction_, SharpenAction_, JpegFilterAction_, DeinterlaceAction_});
  ImageMenu_->addSeparator();
  ImageMenu_->addAction(Model3DAction_);

  AnimationMenu_ = menuBar()->addMenu("&Animation");
  AnimationMenu_->addActions({RunAnimationAction_, TestAnimationAction_, SaveVideoAction_, AnimationSetupAction_});

  WindowMenu_ = menuBar()->addMenu("&Window");
  WindowMenu_->menuAction()->setStatusTip("Window related commands such as Tile and Cascade");
  WindowMenu_->addActions(
      {UpdateScreenAction_, TileAction_, CascadeAction_, ArrangeIconsAction_, MinimizeAllAction_, CloseAction_});
  WindowMenu_->addSeparator();
  WindowMenu_->addActions({ZoomInAction_, ZoomOutAction_});
  WindowListSeparator_ = WindowMenu_->addSeparator();
  connect(WindowMenu_, &QMenu::aboutToShow, this, &TMainForm::UpdateWindowMenu);

  HelpMenu_ = menuBar()->addMenu("&Help");
  HelpMenu_->addActions({HelpContentsAction_, FeatureDescriptionAction_, AboutAction_});
  connect(HelpMenu_, &QMenu::aboutToShow, this, [this] {
    if (HelpMenuPrepared_) return;
    HelpMenuPrepared_ = true;
    if (!HelpFile().isEmpty()) {
      AboutAction_->setShortcut(QKeySequence());
      HelpContentsAction_->setShortcut(QKeySequence("F1"));
    } else {
      HelpContentsAction_->setVisible(false);
    }
  });
}

void TMainForm::CreateToolBar() {
  ToolBar_ = addToolBar("Tools");
  ToolBar_->setObjectName("ToolBar");
  ToolBar_->setMovable(false);
  ToolBar_->setIconSize(QSize(22, 22));
  ToolBar_->addActions({OpenProjectAction_, SaveProjectAction_});
  ToolBar_->addSeparator();
  ToolBar_->addActions({OpenImageAction_, ScanAction_});
  ToolBar_->addSeparator();
  ToolBar_->addAction(AccommodateAction_);
  ToolBar_->addSeparator();
  ToolBar_->addActions({PointModeAction_, ZoomModeAction_});
  ConnectPointsButton_ = ToolBar_->addAction(ConnectPointsAction_->icon(), "Connect points");
  ConnectPointsButton_->setToolTip("Connect points");
  ConnectPointsButton_->setStatusTip("Connect points");
  ConnectPointsButton_->setCheckable(true);
  connect(ConnectPointsButton_, &QAction::triggered, ConnectPointsAction_, &QAction::trigger);
  ToolBar_->addSeparator();
  ToolBar_->addAction(Model3DAction_);
  HiddenButtons_ = {ToolBar_->addAction(TestAnimationAction_->text()), ToolBar_->addAction(SaveVideoAction_->text())};
  for (QAction* button : ToolBar_->actions())
    if (QWidget* widget = ToolBar_->widgetForAction(button)) widget->setMinimumWidth(27);
}

void TMainForm::CreateStatusBar() {
  const int widths[4] = {300, 100, 120, 20};
  for (int i = 0; i < 4; ++i) {
    Panels_[i] = new QLabel(this);
    Panels_[i]->setObjectName(QString("StatusPanel%1").arg(i));
    if (i < 3) Panels_[i]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    if (i == 0) {
      Panels_[i]->setMinimumWidth(120);
      statusBar()->addWidget(Panels_[i], 1);
    } else {
      Panels_[i]->setFixedWidth(widths[i]);
      statusBar()->addPermanentWidget(Panels_[i]);
    }
  }
}

// Menu hints land in panel 0 rather than over the whole bar.
bool TMainForm::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // Hints arrive in the middle of other events, paints included: no repaint here.
    Panels_[0]->setText(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void TMainForm::ReadSettings() {
  try {
    TProgramSetup& setup = CreateProgramSetup(kProgramKey);
    AnimPath = QString::fromStdString(setup.ReadString("AnimPath", NativeName(ProgramDir_)));
    ImagePath = QString::fromStdString(setup.ReadString("ImagePath", NativeName(ProgramDir_)));
    // Stored as text: a pixel count may not fit an integer value.
    SetMaxImagePixels(std::atoll(setup.ReadString("MaxImagePixels", "0").c_str()));
    const int state = setup.ReadInteger("WindowState", 2);
    TColorMapperForm::SimpleModeSetting() = setup.ReadBool("SimpleColorMapper", false);
    if (state == 2) setWindowState(Qt::WindowMaximized);
    if (state == 1) setWindowState(Qt::WindowMinimized);
    TProgramSetup sibling(kSiblingProgramKey);
    // Installed, the plug-ins live in the program's library folder, not beside it.
    const std::string plugins =
        ProgramDir_ == QApplication::applicationDirPath() ? DefaultPluginDirectory() : NativeName(ProgramDir_);
    HalvorixPath = QString::fromStdString(sibling.ReadString("HalvorixPath", plugins));
  } catch (const std::exception& error) {
    // Settings that cannot be stored must not stop the program.
    AnimPath = ImagePath = HalvorixPath = ProgramDir_;
    qWarning("Settings unavailable: %s", error.what());
  }
}

void TMainForm::WriteSettings() {
  try {
    TProgramSetup& setup = ProgramSetup();
    setup.WriteString("AnimPath", NativeName(AnimPath));
    setup.WriteString("ImagePath", NativeName(ImagePath));
    setup.WriteInteger("WindowState", isMaximized() ? 2 : isMinimized() ? 1 : 0);
    setup.WriteBool("SimpleColorMapper", TColorMapperForm::SimpleModeSetting());
  } catch (const std::exception& error) {
    qWarning("Settings not saved: %s", error.what());
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!CloseAllChildren()) {
    event->ignore();
    return;
  }
  WriteSettings();
  UndoList_.Clear();
  event->accept();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  SetEditMode(ZoomMode);
}

void TMainForm::ProcessCommandLine(const QStringList& arguments) {
  if (arguments.isEmpty()) return;
  if (arguments.first() == "*") {
    ShowFormatAssociation(kProjectFormatFilter, 0, true, this);
    return;
  }
  for (const QString& argument : arguments) {
    const QString fileName = QFileInfo(argument).absoluteFilePath();
    const QString extension = QFileInfo(argument).suffix().toUpper();
    if (extension == "KST")
      OpenProjectFile(fileName);
    else if (IsModelFileName(fileName))
      OpenModelFile(fileName);
    else
      OpenImageFile(fileName);
  }
}

// ---- The 3D viewer's command-line entry ----
bool TMainForm::OpenModelFile(const QString& fileName) {
  ShowModelViewerOnFile(NativeName(fileName), this);
  return true;
}

// --- State ---

void TMainForm::SetEditMode(TEditMode mode) {
  EditMode_ = mode;
  PointModeAction_->setChecked(mode == PointMode);
  ZoomModeAction_->setChecked(mode == ZoomMode);
  ConnectPointsAction_->setChecked(mode == TriangleMode);
  if (ConnectPointsButton_) ConnectPointsButton_->setChecked(mode == TriangleMode);
  for (TMDIChild* child : Children()) child->View()->viewport()->setCursor(ModeCursor());
}

QCursor TMainForm::ModeCursor() const { return EditMode_ == PointMode ? QCursor(Qt::ArrowCursor) : ZoomCursor(); }

void TMainForm::SetProjectFileName(const QString& fileName) {
  ProjectFileName_ = fileName;
  setWindowTitle(fileName.isEmpty() ? QString(kTitle) : fileName + " - " + kTitle);
}

QList<TMDIChild*> TMainForm::Children() const {
  QList<TMDIChild*> children;
  for (QMdiSubWindow* window : MdiArea_->subWindowList(QMdiArea::CreationOrder))
    if (auto* child = qobject_cast<TMDIChild*>(window); child && !child->Closing) children << child;
  return children;
}

TMDIChild* TMainForm::ActiveChild() const {
  auto* child = qobject_cast<TMDIChild*>(MdiArea_->currentSubWindow());
  if (child && !child->Closing) return child;
  const auto children = Children();
  return children.size() == 1 ? children.first() : nullptr;
}

QSize TMainForm::AvailableSize() const { return MdiArea_->viewport()->size(); }

void TMainForm::SetStatusText(int panel, const QString& text) {
  if (panel < 0 || panel > 3) return;
  Panels_[panel]->setText(text);
  // Panel 0 tells about work in progress, which may not give the event loop a turn.
  if (panel == 0) Panels_[panel]->repaint();
}

QString TMainForm::StatusText(int panel) const { return panel >= 0 && panel <= 3 ? Panels_[panel]->text() : QString(); }

void TMainForm::ShowProgress(int percent) {
  // The preview loader and the core's row workers report too; only the user-interface
  // thread may touch the window.
  if (QThread::currentThread() != thread()) return;
  static int last = -1;
  SetStatusText(0, percent < 100 ? QString("%1%").arg(percent) : QString());
  if (percent != last) {
    last = percent;
    // Windows repaint while the work runs; user input waits until it is done.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
}

void TMainForm::ShowError(const QString& message) { QMessageBox::critical(this, kTitle, message); }

// --- Opening and saving ---

int TMainForm::NextImageNumber(bool abandon) {
  const auto children = Children();
  if (children.isEmpty()) return 1;
  TMDIChild* active = ActiveChild();
  if (!active) active = children.last();
  if (children.size() == 1) return active->ImageNumber == 1 ? 2 : 1;
  const int number = active->ImageNumber;
  active->close();
  QCoreApplication::processEvents();
  if (abandon && Children().size() >= 2) return 0;
  return number;
}

TMDIChild* TMainForm::CreateChild(const QString& fileName, int imageNumber) {
  auto* child = new TMDIChild(this, fileName);
  child->ImageNumber = imageNumber;
  MdiArea_->addSubWindow(child);
  child->resize(320, 240);
  child->show();
  child->UpdateCaption();
  MdiArea_->setActiveSubWindow(child);
  return child;
}

TMDIChild* TMainForm::OpenImageFile(const QString& fileName) {
  ImagePath = QFileInfo(fileName).absolutePath();
  SetStatusText(0, "Loading...");
  // The file is read before any window is touched, so a damaged file costs nothing.
  TLinearBitmap loaded;
  QString warning;
  try {
    ReadImageFile(fileName, loaded, &warning);
  } catch (const std::exception& error) {
    SetStatusText(0, {});
    ShowError(QString("%1\n%2").arg(fileName, QString::fromLocal8Bit(error.what())));
    return nullptr;
  }
  if (loaded.PixelFormat != pf8bit && loaded.PixelFormat != pf24bit) {
    SetStatusText(0, {});
    ShowError(QString("%1\nUnsupported pixel format").arg(fileName));
    return nullptr;
  }
  const int number = NextImageNumber(true);
  if (number == 0) {
    SetStatusText(0, {});
    return nullptr;
  }
  TMDIChild* child = CreateChild(fileName, number);
  child->SetLoadedImage(loaded);
  SetStatusText(0, {});
  UpdateMenuStates();
  if (!warning.isEmpty()) QMessageBox::warning(this, kTitle, QString("%1\n%2").arg(fileName, warning));
  return child;
}

void TMainForm::ReadImageFile(const QString& fileName, TLinearBitmap& bitmap, QString* warning) {
  try {
    TMDIChild::ReadImageFile(fileName, bitmap, warning);
  } catch (const EImageTooLarge& error) {
    // The limit guards against hostile files; a real photograph above it may pass
    // once the user agrees, and the new limit is remembered.
    const int64_t pixels = error.Width * error.Height;
    const QString question =
        QString("%1\n%2 x %3 pixels is more than the limit of %4 pixels. Raise the limit and open it?")
            .arg(fileName)
            .arg(error.Width)
            .arg(error.Height)
            .arg(MaxImagePixels());
    if (QMessageBox::question(this, kTitle, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) throw;
    SetMaxImagePixels(pixels);
    try {
      ProgramSetup().WriteString("MaxImagePixels", std::to_string(pixels));
    } catch (const std::exception&) {
      // The limit still holds for this run.
    }
    TMDIChild::ReadImageFile(fileName, bitmap, warning);
  }
}

bool TMainForm::CloseAllChildren() {
  auto children = Children();
  for (auto it = children.rbegin(); it != children.rend(); ++it) (*it)->close();
  QCoreApplication::processEvents();
  return Children().isEmpty();
}

bool TMainForm::LoadProject(const QString& fileName) {
  if (fileName.isEmpty()) throw Exception("Read error");
  if (!CloseAllChildren()) return false;
  TProjectFile file;
  file.Project.Antialiasing = Project_.Antialiasing;
  file.LoadFromFile(NativeName(fileName), NativeName(AnimPath));
  Project_ = file.Project;
  SelectedPoint = 0;
  QStringList problems;
  const std::string paths[2] = {file.Image1Path, file.Image2Path};
  for (int number = 1; number <= 2; ++number) {
    const QString path = FromNativeName(paths[number - 1]);
    if (path.isEmpty()) continue;
    TLinearBitmap loaded;
    QString warning;
    try {
      ReadImageFile(path, loaded, &warning);
    } catch (const std::exception& error) {
      problems << QString("%1\n%2").arg(path, QString::fromLocal8Bit(error.what()));
      continue;
    }
    if (!warning.isEmpty()) problems << QString("%1\n%2").arg(path, warning);
    TMDIChild* child = CreateChild(path, number);
    if (!child->SetLoadedImage(loaded)) {
      child->close();
      problems << QString("%1\nUnsupported pixel format").arg(path);
    }
  }
  UpdateMenuStates();
  RedrawAll();
  if (!problems.isEmpty()) ShowError(problems.join("\n\n"));
  return true;
}

void TMainForm::SaveProject(const QString& fileName) {
  if (fileName.isEmpty()) throw Exception("Write error");
  TProjectFile file;
  file.Project = Project_;
  for (int number = 2; number >= 1; --number) {
    for (TMDIChild* child : Children()) {
      if (child->ImageNumber != number) continue;
      (number == 1 ? file.Image1Path : file.Image2Path) = NativeName(child->FileName);
      break;
    }
  }
  TBusyCursor busy;
  file.SaveToFile(NativeName(fileName));
}

void TMainForm::OpenProjectFile(const QString& fileName) {
  AnimPath = QFileInfo(fileName).absolutePath();
  SetStatusText(0, "Loading...");
  try {
    if (LoadProject(fileName)) SetProjectFileName(fileName);
  } catch (const std::exception& error) {
    ShowError(QString::fromLocal8Bit(error.what()));
  }
  SetEditMode(ZoomMode);
  SetStatusText(0, {});
  UpdateMenuStates();
}

// --- Menu states ---

void TMainForm::UpdateMenuStates() {
  const auto children = Children();
  const bool w = !children.isEmpty();
  const bool two = children.size() > 1;
  TMDIChild* active = ActiveChild();
  const int kind = active ? active->PixelKind() : 0;
  ReloadImageAction_->setEnabled(w && active && active->HasFile);
  for (QAction* action :
       {PrintAction_,           SaveImageAction_,   SaveImageAsAction_,  CopyAction_,   RemovePointAction_,
        AddCornerPointsAction_, PointModeAction_,   ZoomModeAction_,     ResizeAction_, MirrorAction_,
        RotateAction_,          InvertAction_,      UpdateScreenAction_, TileAction_,   CascadeAction_,
        ArrangeIconsAction_,    MinimizeAllAction_, CloseAction_,        ZoomInAction_, ZoomOutAction_})
    action->setEnabled(w);
  ImageMenu_->menuAction()->setEnabled(w);
  WindowMenu_->menuAction()->setEnabled(w);
  for (QAction* action : {SwapImagesAction_, AccommodateAction_, ConnectPointsAction_, ConnectPointsButton_,
                          RunAnimationAction_, TestAnimationAction_, SaveVideoAction_, Model3DAction_})
    action->setEnabled(two);
  const bool filters = w && active && kind != 1;
  FiltersMenu_->menuAction()->setEnabled(filters);
  for (QAction* action : {NoiseReductionAction_, SmoothAction_, SharpenAction_, JpegFilterAction_, DeinterlaceAction_,
                          ColorMapperAction_, AutoColorAction_})
    action->setEnabled(filters);
  GrayscaleAction_->setEnabled(w && active && kind != 0);
  To24BitAction_->setEnabled(w && active && kind != 2);
  UpdateEditMenu();
}

void TMainForm::UpdateEditMenu() {
  const bool hasWindow = ActiveChild() != nullptr;
  UndoAction_->setEnabled(hasWindow && UndoList_.UndoCount() >= 1);
  UndoAction_->setText("&Undo " + QString::fromStdString(UndoList_.UndoCaption()));
  RedoAction_->setEnabled(hasWindow && UndoList_.RedoCount() >= 1);
  RedoAction_->setText("&Redo " + QString::fromStdString(UndoList_.RedoCaption()));
}

void TMainForm::UpdateClipboardState() {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  PasteAction_->setEnabled(data && (data->hasFormat(kDibMime) || data->hasFormat(kBmpMime) || data->hasImage()));
}

void TMainForm::SubWindowActivated(QMdiSubWindow* window) {
  auto* child = qobject_cast<TMDIChild*>(window);
  if (!child && !Children().isEmpty()) return;  // the frame lost the focus; nothing changed
  if (window != LastActive_.data()) {
    UndoList_.Clear();
    LastActive_ = child;
    emit ActiveChildChanged(child);
  }
  UpdateMenuStates();
}

void TMainForm::ChildClosed(TMDIChild* child) {
  child->Closing = true;
  if (LastActive_.data() == child) {
    UndoList_.Clear();
    LastActive_ = nullptr;
  }
  UpdateMenuStates();
}

void TMainForm::UpdateWindowMenu() {
  qDeleteAll(WindowListActions_);
  WindowListActions_.clear();
  const auto children = Children();
  TMDIChild* active = ActiveChild();
  for (int i = 0; i < children.size(); ++i) {
    TMDIChild* child = children[i];
    auto* action = WindowMenu_->addAction(QString("&%1 %2").arg(i + 1).arg(child->windowTitle()));
    action->setCheckable(true);
    action->setChecked(child == active);
    connect(action, &QAction::triggered, this, [this, child] { MdiArea_->setActiveSubWindow(child); });
    WindowListActions_ << action;
  }
  WindowListSeparator_->setVisible(!children.isEmpty());
}

void TMainForm::RedrawAll() {
  for (TMDIChild* child : Children()) child->Redraw();
}

void TMainForm::TakeSnapshot(TMDIChild* child, const QString& caption) {
  if (!child) return;
  if (child != LastActive_.data()) {
    UndoList_.Clear();
    LastActive_ = child;
  }
  UndoList_.Store(UndoList_.NewItem(), caption.toStdString(), child->Bitmap());
  UpdateEditMenu();
}

template <typename Work>
void TMainForm::ImageCommand(QAction* action, Work work) {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present) return;
  TBusyCursor busy;
  TakeSnapshot(child, action->text());
  try {
    TMDIChild::BusyScope painting(child);
    work(child->Bitmap());
  } catch (const std::exception& error) {
    // The snapshot holds the image as it was before the command began.
    UndoList_.Undo(child->Bitmap());
    UndoList_.Clear();
    child->ImageChanged();
    UpdateEditMenu();
    SetStatusText(0, {});
    ShowError(QString::fromLocal8Bit(error.what()));
    return;
  }
  child->AddModified(1);
  child->ImageChanged();
  SetStatusText(0, {});
}

// --- File menu ---

void TMainForm::NewClick() {
  RemoveAllPointsClick();
  if (Project_.PointCount == 0) {
    Project_.ResetSettings();
    SetProjectFileName({});
  }
}

void TMainForm::OpenProjectClick() {
  const QString fileName =
      QFileDialog::getOpenFileName(this, "Open animation", AnimPath, "Animations (*.kst);;All files (*)");
  if (fileName.isEmpty()) return;
  OpenProjectFile(fileName);
}

void TMainForm::SaveProjectClick() {
  if (ProjectFileName_.isEmpty()) {
    SaveProjectAsClick();
    return;
  }
  SetStatusText(0, "Saving...");
  try {
    SaveProject(ProjectFileName_);
  } catch (const std::exception& error) {
    ShowError(QString::fromLocal8Bit(error.what()));
  }
  SetStatusText(0, {});
}

void TMainForm::SaveProjectAsClick() {
  QFileDialog dialog(this, "Save animation", AnimPath, "Animations (*.kst)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("kst");
  if (!ProjectFileName_.isEmpty()) dialog.selectFile(ProjectFileName_);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString fileName = dialog.selectedFiles().first();
  AnimPath = QFileInfo(fileName).absolutePath();
  SetProjectFileName(fileName);
  SaveProjectClick();
}

void TMainForm::OpenImageClick() {
  const std::string filter = BitmapLoaders().GetLoadFilter();
  QStringList filters = ToDialogFilters(filter);
  // The first entry offers every readable extension at once.
  if (!filters.isEmpty()) {
    const QString& all = filters.first();
    filters.first() = "Supported images (" + all.mid(all.lastIndexOf('(') + 1);
  }
  filters << "All files (*)";
  TOpenPictureDialog dialog(this, "Open image", ImagePath, filters.join(";;"));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (dialog.exec() != QDialog::Accepted) return;
  for (const QString& fileName : dialog.selectedFiles()) OpenImageFile(fileName);
}

void TMainForm::ReloadImageClick() {
  if (TMDIChild* child = ActiveChild()) child->ReloadImage();
}

void TMainForm::SaveImageClick() {
  if (TMDIChild* child = ActiveChild()) child->SaveImage();
}

void TMainForm::SaveImageAsClick() {
  if (TMDIChild* child = ActiveChild()) child->SaveImageAs();
}

// ---- Printing: the print dialog's command ----
void TMainForm::PrintClick() {
  if (TMDIChild* child = ActiveChild()) PrintImage(child->Bitmap(), this);
}

// ---- Scanner acquisition and file association: their commands ----
void TMainForm::ScanClick() {
  ScanAction_->setEnabled(false);
  TQtTwainWindow window(this);
  try {
    TwainAcquisition().AcquireWithCallback(&window, nullptr,
                                           [this](twain::TW_HANDLE image) { ReceiveScannedImage(image); });
  } catch (const std::exception& error) {
    ShowError(QString::fromLocal8Bit(error.what()));
  }
  ScanAction_->setEnabled(true);
}

void TMainForm::SelectTwainSourceClick() {
  TQtTwainWindow window(this);
  try {
    TwainAcquisition().SelectSource(&window);
  } catch (const std::exception& error) {
    ShowError(QString::fromLocal8Bit(error.what()));
  }
}

void TMainForm::ReceiveScannedImage(void* image) {
  TLinearBitmap scanned;
  try {
    scanned.GetFromDIB({twain::GlobalBlockData(image), twain::GlobalBlockSize(image)});
  } catch (const std::exception&) {
    scanned.Dispose();  // a page that does not read is dropped like an empty one
  }
  twain::GlobalFreeBlock(image);
  const int number = NextImageNumber(true);
  if (number == 0) return;
  TMDIChild* child = CreateChild(QString("NONAME%1").arg(TMDIChild::OpenCount() + 1), number);
  if (scanned.Present && scanned.PixelFormat == pf24bit && scanned.IsGrayScale()) GrayscaleCommand(scanned);
  if (!child->TakeImage(scanned)) {
    child->close();
    return;
  }
  child->Modified = 1;
  child->UpdateCaption();
  UpdateMenuStates();
}

void TMainForm::FileAssociationClick() { ShowFormatAssociation(kProjectFormatFilter, 0, false, this); }

// --- Edit menu ---

void TMainForm::UndoClick() {
  TMDIChild* child = ActiveChild();
  if (!child || UndoList_.UndoCount() < 1) return;
  UndoList_.Undo(child->Bitmap());
  child->AddModified(-1);
  child->ImageChanged();
  UpdateEditMenu();
}

void TMainForm::RedoClick() {
  TMDIChild* child = ActiveChild();
  if (!child || UndoList_.RedoCount() < 1) return;
  UndoList_.Redo(child->Bitmap());
  child->AddModified(1);
  child->ImageChanged();
  UpdateEditMenu();
}

void TMainForm::CopyClick() {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present) return;
  TBusyCursor busy;
  TLinearBitmap copy(child->Bitmap());
  if (copy.PixelFormat != pf8bit && copy.PixelFormat != pf24bit) copy.SetPixelFormat(pf24bit);
  const std::vector<uint8_t> dib = copy.MakeDIB();
  auto* data = new QMimeData;
  data->setData(kDibMime, QByteArray(reinterpret_cast<const char*>(dib.data()), static_cast<qsizetype>(dib.size())));
  data->setData(kBmpMime, BmpFromDib(dib));
  data->setImageData(ToQImage(copy));
  QApplication::clipboard()->setMimeData(data);
}

void TMainForm::PasteClick() {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  if (!data) return;
  TLinearBitmap pasted;
  try {
    if (data->hasFormat(kDibMime)) {
      const QByteArray dib = data->data(kDibMime);
      pasted.GetFromDIB({reinterpret_cast<const uint8_t*>(dib.constData()), static_cast<size_t>(dib.size())});
    } else if (data->hasFormat(kBmpMime) && data->data(kBmpMime).size() > 14) {
      const QByteArray bmp = data->data(kBmpMime);
      pasted.GetFromDIB({reinterpret_cast<const uint8_t*>(bmp.constData()) + 14, static_cast<size_t>(bmp.size() - 14)});
    } else if (data->hasImage()) {
      BitmapFromQImage(qvariant_cast<QImage>(data->imageData()), pasted);
    }
  } catch (const std::exception& error) {
    ShowError(QString::fromLocal8Bit(error.what()));
    return;
  }
  if (!pasted.Present) {
    SetStatusText(0, "The clipboard holds no image");
    return;
  }
  const int number = NextImageNumber(false);
  TMDIChild* child = CreateChild(QDir(ImagePath).filePath(QString("Image%1").arg(number)), number);
  if (!child->TakeImage(pasted)) {
    child->close();
    return;
  }
  child->Modified = 1;
  UpdateMenuStates();
}

void TMainForm::RemovePointClick() {
  if (SelectedPoint <= 0) return;
  Project_.DeletePoint(SelectedPoint);
  SelectedPoint = 0;
  RedrawAll();
}

void TMainForm::RemoveAllPointsClick() {
  if (Project_.PointCount <= 0) return;
  if (QMessageBox::question(this, kTitle, "Remove ALL defined points?", QMessageBox::Yes | QMessageBox::No) !=
      QMessageBox::Yes)
    return;
  Project_.PointCount = 0;
  SelectedPoint = 0;
  if (EditMode_ == TriangleMode) SetEditMode(ZoomMode);
  RedrawAll();
}

void TMainForm::AddCornerPointsClick() {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present) return;
  Project_.AddCornerPoints(child->Bitmap().Width, child->Bitmap().Height);
  if (EditMode_ == TriangleMode) SetEditMode(ZoomMode);
  RedrawAll();
}

void TMainForm::SwapImagesClick() {
  const auto children = Children();
  if (children.size() != 2) return;
  Project_.SwapPointSets();
  for (TMDIChild* child : children) {
    child->ImageNumber = 3 - child->ImageNumber;
    child->UpdateCaption();
  }
}

// --- Image menu ---

// ---- The resize dialog's command ----
void TMainForm::ResizeClick() {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present) return;
  child->TakeSnapshot(ResizeAction_->text());
  TResizeForm form(child->Bitmap(), this);
  if (!form.Execute()) {
    child->DiscardSnapshot();
    return;
  }
  Project_.ScalePointSet(child->ImageNumber, form.FactorX, form.FactorY);
  if (EditMode_ == TriangleMode) SetEditMode(ZoomMode);
  child->AddModified(1);
  child->ImageChanged();
  child->FitWindow();
  RedrawAll();
}

void TMainForm::MirrorClick() {
  ImageCommand(MirrorAction_, [](TLinearBitmap& bitmap) { MirrorImage(bitmap); });
}

// ---- The rotation dialog's command ----
void TMainForm::RotateClick() {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present) return;
  child->TakeSnapshot(RotateAction_->text());
  TRotateForm form(this);
  if (!form.Execute(child->Bitmap())) {
    child->DiscardSnapshot();
    return;
  }
  child->AddModified(1);
  child->ImageChanged();
}

// ---- The accommodate dialog's command ----
void TMainForm::AccommodateClick() {
  TMDIChild* windows[2] = {nullptr, nullptr};
  for (TMDIChild* child : Children())
    if (child->ImageNumber == 1 || child->ImageNumber == 2) windows[child->ImageNumber - 1] = child;
  if (Children().size() != 2 || !windows[0] || !windows[1]) return;
  const TLinearBitmap& one = windows[0]->Bitmap();
  const TLinearBitmap& two = windows[1]->Bitmap();
  TAccommodation accommodation;
  try {
    accommodation = FindAccommodation(Project_.ValidPoints(), one.Width, one.Height, two.Width, two.Height);
  } catch (const std::exception& error) {
    QMessageBox::warning(this, kTitle, QString::fromLocal8Bit(error.what()));
    return;
  }
  TAccommodateForm form(accommodation, Project_.PointCount, one.Width, one.Height, two.Width, two.Height, this);
  if (form.exec() != QDialog::Accepted) return;

  // The history belongs to the active window: the other window's snapshot would be
  // cleared the moment the active one is stored, so only the active image's goes in.
  TMDIChild* active = ActiveChild();
  if (active == windows[0] || active == windows[1]) active->TakeSnapshot(AccommodateAction_->text());
  try {
    TBusyCursor busy;
    TLinearBitmap first(one), second(two);
    CropBitmap(first, accommodation.Crop1);
    CropBitmap(second, accommodation.Crop2);
    windows[0]->Bitmap().TakeOver(first);
    windows[1]->Bitmap().TakeOver(second);
  } catch (const std::exception& error) {
    if (active == windows[0] || active == windows[1]) active->DiscardSnapshot();
    ShowError(QString::fromLocal8Bit(error.what()));
    return;
  }
  AccommodatePoints(Project_, accommodation);
  if (EditMode_ == TriangleMode) SetEditMode(ZoomMode);
  for (TMDIChild* child : windows) {
    child->AddModified(1);
    child->ImageChanged();
    child->FitWindow();
  }
  RedrawAll();
}

void TMainForm::GrayscaleClick() {
  TMDIChild* child = ActiveChild();
  if (!child || child->PixelKind() == 0) return;
  ImageCommand(GrayscaleAction_, [](TLinearBitmap& bitmap) { GrayscaleCommand(bitmap); });
}

void TMainForm::To24BitClick() {
  TMDIChild* child = ActiveChild();
  if (!child || child->PixelKind() >= 2) return;
  ImageCommand(To24BitAction_, [](TLinearBitmap& bitmap) { To24BitCommand(bitmap); });
}

void TMainForm::InvertClick() {
  ImageCommand(InvertAction_, [](TLinearBitmap& bitmap) { InvertImage(bitmap); });
}

// ---- The colour mapper's and auto colour correction's commands ----
void TMainForm::ColorMapperClick() {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present || !FiltersMenu_->menuAction()->isEnabled()) return;
  child->TakeSnapshot(ColorMapperAction_->text());
  if (ExecuteColorMapper(
          child->Bitmap(), [child] { child->Repaint(); }, this))
    child->AddModified(1);
  else
    child->DiscardSnapshot();
  child->ImageChanged();
}

void TMainForm::AutoColorClick() {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present || !FiltersMenu_->menuAction()->isEnabled()) return;
  TAutoColorMode mode = TAutoColorMode::Saturation;
  if (child->Bitmap().PixelFormat == pf24bit) {
    QMessageBox box(QMessageBox::Question, kTitle, "Select color corection mode", QMessageBox::NoButton, this);
    QPushButton* saturation = box.addButton("&Saturation", QMessageBox::AcceptRole);
    QPushButton* luminance = box.addButton("&Luminance plane", QMessageBox::AcceptRole);
    QPushButton* split = box.addButton("RGB split &planes", QMessageBox::AcceptRole);
    box.setEscapeButton(box.addButton("Cancel", QMessageBox::RejectRole));
    box.exec();
    if (box.clickedButton() == saturation)
      mode = TAutoColorMode::Saturation;
    else if (box.clickedButton() == luminance)
      mode = TAutoColorMode::Luminance;
    else if (box.clickedButton() == split)
      mode = TAutoColorMode::RGBSplit;
    else
      return;
  }
  ImageCommand(AutoColorAction_, [mode](TLinearBitmap& bitmap) { AutoColorCorrect(bitmap, {}, mode); });
}

// ---- The noise reduction dialog's command ----
void TMainForm::NoiseReductionClick() {
  TMDIChild* child = ActiveChild();
  if (!child || !child->Bitmap().Present || !FiltersMenu_->menuAction()->isEnabled()) return;
  child->TakeSnapshot(NoiseReductionAction_->text());
  TNoiseReductionForm form(
      child->Bitmap(), [child] { child->Repaint(); }, this);
  if (form.Execute())
    child->AddModified(1);
  else
    child->DiscardSnapshot();
  child->ImageChanged();
}

void TMainForm::SmoothClick() {
  if (!FiltersMenu_->menuAction()->isEnabled()) return;
  ImageCommand(SmoothAction_, [](TLinearBitmap& bitmap) { SmoothImage(bitmap); });
}

void TMainForm::SharpenClick() {
  if (!FiltersMenu_->menuAction()->isEnabled()) return;
  ImageCommand(SharpenAction_, [](TLinearBitmap& bitmap) { SharpenImage(bitmap); });
}

void TMainForm::JpegFilterClick() {
  if (!FiltersMenu_->menuAction()->isEnabled()) return;
  ImageCommand(JpegFilterAction_, [](TLinearBitmap& bitmap) { JPEGFilter(bitmap); });
}

void TMainForm::DeinterlaceClick() {
  if (!FiltersMenu_->menuAction()->isEnabled() || !ActiveChild()) return;
  QMessageBox box(QMessageBox::Question, kTitle, "Select lines to remove:", QMessageBox::NoButton, this);
  QPushButton* even = box.addButton("&Even", QMessageBox::YesRole);
  QPushButton* odd = box.addButton("&Odd", QMessageBox::NoRole);
  box.addButton("Cancel", QMessageBox::RejectRole);
  box.exec();
  if (box.clickedButton() != even && box.clickedButton() != odd) return;
  const bool oddLines = box.clickedButton() == odd;
  ImageCommand(DeinterlaceAction_, [oddLines](TLinearBitmap& bitmap) { Deinterlace(bitmap, oddLines); });
}

// ---- The "Create 3D model" dialog's command ----
void TMainForm::Model3DClick() {
  const QList<TMDIChild*> children = Children();
  if (children.size() != 2) return;
  const int first = children[0]->ImageNumber == 1 ? 0 : 1;
  ShowCreate3DModelDialog(children[first]->Bitmap(), children[1 - first]->Bitmap(), Project_, this);
}

// --- Window menu ---

void TMainForm::UpdateScreenClick() {
  repaint();
  for (TMDIChild* child : Children()) child->Repaint();
}

void TMainForm::TileClick() {
  const auto children = Children();
  QList<TMDIChild*> shown;
  for (TMDIChild* child : children)
    if (!child->isMinimized()) shown << child;
  if (!shown.isEmpty()) {
    const QSize area = AvailableSize();
    const int n = static_cast<int>(shown.size());
    for (int i = 0; i < n; ++i) {
      shown[i]->showNormal();
      if (TileVertical_)
        shown[i]->setGeometry(area.width() * i / n, 0, area.width() * (i + 1) / n - area.width() * i / n,
                              area.height());
      else
        shown[i]->setGeometry(0, area.height() * i / n, area.width(),
                              area.height() * (i + 1) / n - area.height() * i / n);
    }
  }
  TileVertical_ = !TileVertical_;
}

void TMainForm::CascadeClick() { MdiArea_->cascadeSubWindows(); }

void TMainForm::ArrangeIconsClick() {
  int x = 0;
  const int bottom = AvailableSize().height();
  for (TMDIChild* child : Children()) {
    if (!child->isMinimized()) continue;
    child->move(x, bottom - child->height());
    x += child->width();
  }
}

void TMainForm::MinimizeAllClick() {
  auto children = Children();
  for (auto it = children.rbegin(); it != children.rend(); ++it) (*it)->showMinimized();
}

void TMainForm::CloseClick() {
  if (TMDIChild* child = ActiveChild()) child->close();
}

void TMainForm::ZoomInClick() {
  if (TMDIChild* child = ActiveChild()) child->ZoomAt(Qt::LeftButton);
}

void TMainForm::ZoomOutClick() {
  if (TMDIChild* child = ActiveChild()) child->ZoomAt(Qt::RightButton);
}

// --- Help menu ---

QString TMainForm::HelpFile() const {
  for (const QString& candidate :
       {ProgramDir_ + "/help/index.html", ProgramDir_ + "/../share/stereoquill/help/index.html"})
    if (QFileInfo::exists(candidate)) return QFileInfo(candidate).absoluteFilePath();
  return {};
}

void TMainForm::HelpContentsClick() {
  const QString file = HelpFile();
  if (!file.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

QString TMainForm::FeatureText() const {
  QStringList lines;
  std::function<void(const QList<QAction*>&, const QString&)> walk = [&](const QList<QAction*>& actions,
                                                                         const QString& prefix) {
    for (QAction* action : actions) {
      if (action->isSeparator() || !action->isVisible() || WindowListActions_.contains(action)) continue;
      const QString text = StripAccelerator(action->text()).trimmed();
      if (action->menu()) {
        walk(action->menu()->actions(), prefix + text + " | ");
        continue;
      }
      QString hint = action->statusTip();
      if (hint.isEmpty()) continue;
      if (const int bar = hint.indexOf('|'); bar >= 0) hint = hint.mid(bar + 1);
      while (hint.endsWith(' ')) hint.chop(1);
      if (!hint.endsWith('.')) hint += '.';
      lines << QString(QChar(0xA7)) + prefix + text << hint;
    }
  };
  walk(menuBar()->actions(), {});
  return lines.join('\n');
}

void TMainForm::FeatureDescriptionClick() {
  QDialog dialog(this);
  dialog.setWindowTitle("Feature description");
  dialog.resize(500, 400);
  auto* text = new QTextEdit(&dialog);
  text->setReadOnly(true);
  text->setLineWrapMode(QTextEdit::WidgetWidth);
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text->setFont(QFont("Arial", 10));
  QString html;
  for (const QString& line : FeatureText().split('\n')) {
    if (line.startsWith(QChar(0xA7)))
      html += "<p style='margin:6px 0 0 0'><b><i>" + line.mid(1).toHtmlEscaped() + "</i></b></p>";
    else
      html += "<p style='margin:0'>" + line.toHtmlEscaped() + "</p>";
  }
  text->setHtml(html);
  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text);
  if (const QScreen* screen = this->screen()) dialog.move(screen->geometry().center() - QPoint(250, 200));
  dialog.exec();
}

void TMainForm::AboutClick() {
  QMessageBox::about(this, "About Stereoquill",
                     QString("<h3>Stereoquill %1</h3><p>Turns two photographs of a scene into a coloured 3D "
                             "model, with a small image editor around it.</p>")
                         .arg(SQ_VERSION));
}

// --- Modes ---

void TMainForm::PointModeClick() {
  const TEditMode before = EditMode_;
  SetEditMode(PointMode);
  if (before == TriangleMode) RedrawAll();
}

void TMainForm::ZoomModeClick() {
  const TEditMode before = EditMode_;
  SetEditMode(ZoomMode);
  if (before == TriangleMode) RedrawAll();
}

void TMainForm::ConnectPointsClick() {
  // The check state follows the mode, not the click.
  SetEditMode(EditMode_);
  if (EditMode_ == TriangleMode || Project_.PointCount < 3) return;
  TBusyCursor busy;
  SetStatusText(0, QString("Connecting %1 points...").arg(Project_.PointCount));
  std::vector<TImageWindowInfo> windows;
  for (TMDIChild* child : Children())
    windows.push_back({child->ImageNumber, child->Bitmap().Width, child->Bitmap().Height});
  int r = Project_.FirstPointOutsideWindows(windows);
  if (r != 0 && QMessageBox::warning(this, kTitle, "Point defined outside image. Remove all invalid remove points?",
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
    Project_.RemovePointsOutsideWindows(windows);
    r = 0;
  }
  if (r == 0) {
    r = Project_.Triangulate();
    if (r != 0) QMessageBox::critical(this, kTitle, "Can't avoid crossing lines");
  }
  if (r != 0) {
    if (r <= Project_.PointCount) SelectedPoint = r;
  } else {
    SetEditMode(TriangleMode);
    SelectedPoint = 0;
  }
  RedrawAll();
  SetStatusText(0, {});
}

// --- Drops ---

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    const QString fileName = url.toLocalFile();
    if (IsModelFileName(fileName))
      // The viewer is modal: open it once the drop has finished, not inside it.
      QTimer::singleShot(0, this, [this, fileName] { OpenModelFile(fileName); });
    else if (QFileInfo(fileName).suffix().toUpper() == "KST")
      OpenProjectFile(fileName);
    else
      OpenImageFile(fileName);
  }
  event->acceptProposedAction();
}

}  // namespace sq
