// TMainForm: the frame of the desktop program.  It owns the correspondence project,
// the undo history, the edit mode and the remembered folders; it builds every menu
// command, the tool bar and the status bar, runs start-up and shut-down, and routes
// commands to the active document window (TMDIChild) or to the core.
//
// Hooks for the commands other windows implement: every command has an action
// accessor (ResizeAction(), Model3DAction(), ...) and a public slot that its action
// triggers (ResizeClick(), Model3DClick(), ...).  Slots of commands whose dialogs
// live elsewhere do nothing until their dialogs fill them in.
#pragma once

// Qt
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <string>

// Local
#include "imaging/linear_bitmap.h"
#include "project/correspondence_project.h"
#include "project/undo_list.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;
class QToolButton;

namespace sq {

class TMDIChild;

// File names as the core takes them (the local 8-bit encoding) and back.
std::string NativeName(const QString& fileName);
QString FromNativeName(const std::string& fileName);

// Shows the busy cursor for the lifetime of a scope.
class TBusyCursor {
 public:
  TBusyCursor();
  ~TBusyCursor();
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // programDir is the folder of the executable: the default of every remembered
  // folder and the place of the help.
  explicit TMainForm(const QString& programDir = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Opens what the command line names: projects (.kst), images, "*" for the file
  // association dialog.  Called once the window is shown.
  void ProcessCommandLine(const QStringList& arguments);

  // Receives one scanned page (a device-independent bitmap in a global memory block,
  // which it frees) and shows it in a new "NONAME" window.
  void ReceiveScannedImage(void* image);

  // --- State shared with the document windows ---
  CorrespondenceProject& Project() { return Project_; }
  TUndoList& UndoList() { return UndoList_; }
  int SelectedPoint = 0;
  TEditMode EditMode() const { return EditMode_; }
  void SetEditMode(TEditMode mode);
  QCursor ModeCursor() const;
  QString ImagePath;
  QString AnimPath;
  QString HalvorixPath;
  const QString& ProgramDir() const { return ProgramDir_; }
  const QString& ProjectFileName() const { return ProjectFileName_; }
  void SetProjectFileName(const QString& fileName);

  // Document windows in window (creation) order, and the active one.
  QList<TMDIChild*> Children() const;
  TMDIChild* ActiveChild() const;
  QMdiArea* MdiArea() const { return MdiArea_; }
  // Width and height a document window may take: the client area below the tool bar
  // and above the status bar.
  QSize AvailableSize() const;

  // --- Status bar: panel 0 hints and progress, 1 cursor position, 2 image size ---
  void SetStatusText(int panel, const QString& text);
  QString StatusText(int panel) const;
  // Shows a percentage in panel 0 (cleared at 100) and lets the windows repaint.
  void ShowProgress(int percent);

  // --- Opening ---
  // Opens one image file in a new document window with the number the rules give.
  // Returns the window, or nullptr when nothing was opened (the error was shown).
  TMDIChild* OpenImageFile(const QString& fileName);
  // Loads a project and its images.  Returns false when it was abandoned because a
  // document window stayed open.  Raises on damaged files.
  bool LoadProject(const QString& fileName);
  void SaveProject(const QString& fileName);
  // Opens a project file as "Open animation..." does after its dialog.
  void OpenProjectFile(const QString& fileName);
  // Opens a 3D model (.m3d, .ply) named on the command line in the viewer; false when
  // nothing was opened.
  bool OpenModelFile(const QString& fileName);

  // --- Document windows call these ---
  // Re-renders every document window (the points, or the mesh in TriangleMode).
  void RedrawAll();
  // Menu states: after opening, closing, loading and every change of the active window.
  void UpdateMenuStates();
  void UpdateEditMenu();
  // Stores the active window's image in the undo history under a menu caption.
  void TakeSnapshot(TMDIChild* child, const QString& caption);
  void ChildClosed(TMDIChild* child);

  // --- Action accessors (one per command) ---
  QAction* NewAction() const { return NewAction_; }
  QAction* OpenProjectAction() const { return OpenProjectAction_; }
  QAction* SaveProjectAction() const { return SaveProjectAction_; }
  QAction* SaveProjectAsAction() const { return SaveProjectAsAction_; }
  QAction* OpenImageAction() const { return OpenImageAction_; }
  QAction* ReloadImageAction() const { return ReloadImageAction_; }
  QAction* SaveImageAction() const { return SaveImageAction_; }
  QAction* SaveImageAsAction() const { return SaveImageAsAction_; }
  QAction* PrintAction() const { return PrintAction_; }
  QAction* ScanAction() const { return ScanAction_; }
  QAction* SelectTwainSourceAction() const { return SelectTwainSourceAction_; }
  QAction* FileAssociationAction() const { return FileAssociationAction_; }
  QAction* ExitAction() const { return ExitAction_; }
  QAction* UndoAction() const { return UndoAction_; }
  QAction* RedoAction() const { return RedoAction_; }
  QAction* CopyAction() const { return CopyAction_; }
  QAction* PasteAction() const { return PasteAction_; }
  QAction* RemovePointAction() const { return RemovePointAction_; }
  QAction* RemoveAllPointsAction() const { return RemoveAllPointsAction_; }
  QAction* AddCornerPointsAction() const { return AddCornerPointsAction_; }
  QAction* SwapImagesAction() const { return SwapImagesAction_; }
  QAction* ResizeAction() const { return ResizeAction_; }
  QAction* MirrorAction() const { return MirrorAction_; }
  QAction* RotateAction() const { return RotateAction_; }
  QAction* AccommodateAction() const { return AccommodateAction_; }
  QAction* GrayscaleAction() const { return GrayscaleAction_; }
  QAction* To24BitAction() const { return To24BitAction_; }
  QAction* InvertAction() const { return InvertAction_; }
  QAction* ColorMapperAction() const { return ColorMapperAction_; }
  QAction* AutoColorAction() const { return AutoColorAction_; }
  QAction* NoiseReductionAction() const { return NoiseReductionAction_; }
  QAction* SmoothAction() const { return SmoothAction_; }
  QAction* SharpenAction() const { return SharpenAction_; }
  QAction* JpegFilterAction() const { return JpegFilterAction_; }
  QAction* DeinterlaceAction() const { return DeinterlaceAction_; }
  QAction* Model3DAction() const { return Model3DAction_; }
  QAction* UpdateScreenAction() const { return UpdateScreenAction_; }
  QAction* TileAction() const { return TileAction_; }
  QAction* CascadeAction() const { return CascadeAction_; }
  QAction* ArrangeIconsAction() const { return ArrangeIconsAction_; }
  QAction* MinimizeAllAction() const { return MinimizeAllAction_; }
  QAction* CloseAction() const { return CloseAction_; }
  QAction* ZoomInAction() const { return ZoomInAction_; }
  QAction* ZoomOutAction() const { return ZoomOutAction_; }
  QAction* HelpContentsAction() const { return HelpContentsAction_; }
  QAction* FeatureDescriptionAction() const { return FeatureDescriptionAction_; }
  QAction* AboutAction() const { return AboutAction_; }
  QAction* PointModeAction() const { return PointModeAction_; }
  QAction* ZoomModeAction() const { return ZoomModeAction_; }
  QAction* ConnectPointsAction() const { return ConnectPointsAction_; }
  QAction* RunAnimationAction() const { return RunAnimationAction_; }
  QAction* TestAnimationAction() const { return TestAnimationAction_; }
  QAction* SaveVideoAction() const { return SaveVideoAction_; }
  QAction* AnimationSetupAction() const { return AnimationSetupAction_; }
  QMenu* FileMenu() const { return FileMenu_; }
  QMenu* EditMenu() const { return EditMenu_; }
  QMenu* ImageMenu() const { return ImageMenu_; }
  QMenu* ColorsMenu() const { return ColorsMenu_; }
  QMenu* FiltersMenu() const { return FiltersMenu_; }
  QMenu* WindowMenu() const { return WindowMenu_; }
  QMenu* HelpMenu() const { return HelpMenu_; }
  QMenu* AnimationMenu() const { return AnimationMenu_; }
  QToolBar* ToolBar() const { return ToolBar_; }

  // The text of "Feature description...", built from the menus: headings are lines
  // that start with the section sign.
  QString FeatureText() const;
  // Where the help lives (index.html of the manual beside the program); empty when
  // no manual was installed.
  QString HelpFile() const;

 public slots:
  // File menu
  void NewClick();
  void OpenProjectClick();
  void SaveProjectClick();
  void SaveProjectAsClick();
  void OpenImageClick();
  void ReloadImageClick();
  void SaveImageClick();
  void SaveImageAsClick();
  void PrintClick();  // the print dialog fills this in
  void ScanClick();
  void SelectTwainSourceClick();
  void FileAssociationClick();
  // Edit menu
  void UndoClick();
  void RedoClick();
  void CopyClick();
  void PasteClick();
  void RemovePointClick();
  void RemoveAllPointsClick();
  void AddCornerPointsClick();
  void SwapImagesClick();
  // Image menu
  void ResizeClick();  // the resize dialog fills this in
  void MirrorClick();
  void RotateClick();       // the rotation dialog fills this in
  void AccommodateClick();  // the accommodate dialog fills this in
  void GrayscaleClick();
  void To24BitClick();
  void InvertClick();
  void ColorMapperClick();     // the colour mapper fills this in
  void AutoColorClick();       // auto colour correction fills this in
  void NoiseReductionClick();  // the noise reduction dialog fills this in
  void SmoothClick();
  void SharpenClick();
  void JpegFilterClick();
  void DeinterlaceClick();
  void Model3DClick();  // the "Create 3D model" dialog fills this in
  // Window menu
  void UpdateScreenClick();
  void TileClick();
  void CascadeClick();
  void ArrangeIconsClick();
  void MinimizeAllClick();
  void CloseClick();
  void ZoomInClick();
  void ZoomOutClick();
  // Help menu
  void HelpContentsClick();
  void FeatureDescriptionClick();
  void AboutClick();
  // Modes
  void PointModeClick();
  void ZoomModeClick();
  void ConnectPointsClick();

 signals:
  // The active document window changed (nullptr when none is left).
  void ActiveChildChanged(TMDIChild* child);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void ReadSettings();
  void WriteSettings();
  void SubWindowActivated(QMdiSubWindow* window);
  void UpdateWindowMenu();
  void UpdateClipboardState();
  // Runs one image command on the active window: snapshot, work, Modified + 1.
  template <typename Work>
  void ImageCommand(QAction* action, Work work);
  // The number a newly opened image gets, closing the active window when two are
  // open.  0 means: abandon (a window stayed open and abandon is true).
  int NextImageNumber(bool abandon);
  TMDIChild* CreateChild(const QString& fileName, int imageNumber);
  // Reads an image file; an image above the pixel limit may pass when the user agrees.
  void ReadImageFile(const QString& fileName, TLinearBitmap& bitmap, QString* warning);
  bool CloseAllChildren();
  void ShowError(const QString& message);
  QAction* MakeAction(const QString& caption, const QString& shortcut, const QString& hint, void (TMainForm::*slot)());

  QString ProgramDir_;
  CorrespondenceProject Project_;
  TUndoList UndoList_{4};
  TEditMode EditMode_ = ZoomMode;
  QString ProjectFileName_;
  bool TileVertical_ = true;
  bool HelpMenuPrepared_ = false;
  // The window as a plain sub-window: it is compared while being destroyed.
  QPointer<QMdiSubWindow> LastActive_;
  QMdiArea* MdiArea_ = nullptr;
  QToolBar* ToolBar_ = nullptr;
  QLabel* Panels_[4] = {};

  QMenu* FileMenu_ = nullptr;
  QMenu* EditMenu_ = nullptr;
  QMenu* ImageMenu_ = nullptr;
  QMenu* ColorsMenu_ = nullptr;
  QMenu* FiltersMenu_ = nullptr;
  QMenu* WindowMenu_ = nullptr;
  QMenu* HelpMenu_ = nullptr;
  QMenu* AnimationMenu_ = nullptr;
  QAction* WindowListSeparator_ = nullptr;
  QList<QAction*> WindowListActions_;

  QAction* NewAction_ = nullptr;
  QAction* OpenProjectAction_ = nullptr;
  QAction* SaveProjectAction_ = nullptr;
  QAction* SaveProjectAsAction_ = nullptr;
  QAction* OpenImageAction_ = nullptr;
  QAction* ReloadImageAction_ = nullptr;
  QAction* SaveImageAction_ = nullptr;
  QAction* SaveImageAsAction_ = nullptr;
  QAction* PrintAction_ = nullptr;
  QAction* ScanAction_ = nullptr;
  QAction* SelectTwainSourceAction_ = nullptr;
  QAction* FileAssociationAction_ = nullptr;
  QAction* ExitAction_ = nullptr;
  QAction* UndoAction_ = nullptr;
  QAction* RedoAction_ = nullptr;
  QAction* CopyAction_ = nullptr;
  QAction* PasteAction_ = nullptr;
  QAction* RemovePointAction_ = nullptr;
  QAction* RemoveAllPointsAction_ = nullptr;
  QAction* AddCornerPointsAction_ = nullptr;
  QAction* SwapImagesAction_ = nullptr;
  QAction* ResizeAction_ = nullptr;
  QAction* MirrorAction_ = nullptr;
  QAction* RotateAction_ = nullptr;
  QAction* AccommodateAction_ = nullptr;
  QAction* GrayscaleAction_ = nullptr;
  QAction* To24BitAction_ = nullptr;
  QAction* InvertAction_ = nullptr;
  QAction* ColorMapperAction_ = nullptr;
  QAction* AutoColorAction_ = nullptr;
  QAction* NoiseReductionAction_ = nullptr;
  QAction* SmoothAction_ = nullptr;
  QAction* SharpenAction_ = nullptr;
  QAction* JpegFilterAction_ = nullptr;
  QAction* DeinterlaceAction_ = nullptr;
  QAction* Model3DAction_ = nullptr;
  QAction* UpdateScreenAction_ = nullptr;
  QAction* TileAction_ = nullptr;
  QAction* CascadeAction_ = nullptr;
  QAction* ArrangeIconsAction_ = nullptr;
  QAction* MinimizeAllAction_ = nullptr;
  QAction* CloseAction_ = nullptr;
  QAction* ZoomInAction_ = nullptr;
  QAction* ZoomOutAction_ = nullptr;
  QAction* HelpContentsAction_ = nullptr;
  QAction* FeatureDescriptionAction_ = nullptr;
  QAction* AboutAction_ = nullptr;
  QAction* PointModeAction_ = nullptr;
  QAction* ZoomModeAction_ = nullptr;
  QAction* ConnectPointsAction_ = nullptr;
  QAction* RunAnimationAction_ = nullptr;
  QAction* TestAnimationAction_ = nullptr;
  QAction* SaveVideoAction_ = nullptr;
  QAction* AnimationSetupAction_ = nullptr;
  QAction* ConnectPointsButton_ = nullptr;  // the tool bar entry, hidden at start-up
  QList<QAction*> HiddenButtons_;
};

}  // namespace sq
