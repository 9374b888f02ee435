// TView3DModelForm: the 3D viewer.  Turns mouse drags into rotation, movement and
// zoom of the shown model, and offers through its pop-up menu the render modes, the
// surface reflection, red-blue stereo, back sides, the model colour, the two mesh
// optimisations, model information and, when files are allowed, opening and saving
// model files.  The view state is the core's TViewSettings, the same one the command
// line's render command draws with, so both show the same picture.
#pragma once

#include <array>
#include <memory>
#include <string>

// Qt
#include <QDialog>

// Local
#include "model3d/base_3d_renderer.h"
#include "model3d/surface_color_model.h"
#include "model3d/view_settings.h"

class QAction;
class QActionGroup;
class QMenu;
class QToolButton;

namespace sq {

class TModelRenderPanel;

class TView3DModelForm : public QDialog {
  Q_OBJECT

 public:
  // allowFiles shows the File menu with "Open..." and "Save...".
  explicit TView3DModelForm(bool allowFiles, QWidget* parent = nullptr);
  ~TView3DModelForm() override;

  // Shows model, which stays the caller's; null shows the built-in sphere.
  void SetModel(TBase3DModel* model);
  // A model file to open when the window is first shown.
  void SetFileName(const std::string& fileName) { fileName_ = fileName; }

  // Opens a model file as "Open..." does after its dialog.  Load errors are shown and
  // the part that was read is kept; an unsupported name raises.
  void OpenModel(const std::string& fileName);
  // Saves the model as "Save..." does after its dialog (".wrl" asks for the export
  // options first; cancelling them writes nothing).
  void SaveModel(const std::string& fileName);

  void Redraw(bool quick);
  void ResetView();

  const TViewSettings& Settings() const { return settings_; }
  TBase3DModel* ShownModel() const { return shownModel_; }
  bool OwnsModel() const { return ownedModel_ != nullptr; }
  const TBase3DRenderer& Renderer() const { return *renderer_; }
  TModelRenderPanel* Panel() const { return panel_; }
  // Whether the picture on show was drawn with points only.
  bool PictureIsQuick() const { return pictureIsQuick_; }

  // The tool bar and the menu, for keyboard users and tests.
  QToolButton* MenuButton;
  QToolButton* CopyButton;
  QToolButton* ResetViewButton;
  QToolButton* CloseButton;
  QMenu* PopupMenu;
  QMenu* FileMenu;
  QAction* OpenAction;
  QAction* SaveAction;
  // Default, Points, Color blocks, Wireframe, Flat, Gouraud, Texture, Gouraud texture.
  std::array<QAction*, 8> RenderActions;
  QMenu* ReflectionMenu;
  QAction* ReflectionNoneAction;
  QAction* ReflectionStandardAction;
  QAction* ReflectionShinyAction;
  QAction* AmbientLightAction;
  QAction* StereoAction;
  QAction* BackSidesAction;
  QAction* SetColorAction;
  QMenu* OptimizationMenu;
  QAction* MelaxAction;
  QAction* RemoveDuplicatesAction;
  QAction* ModelInfoAction;
  QAction* RotateAction;
  QAction* MoveAction;
  QAction* ZoomAction;

  // The render mode codes of the eight render actions.
  static const std::array<uint32_t, 8> kRenderModes;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls(bool allowFiles);
  // Menu visibility and checks for the shown model (the sphere when there is none).
  void ShowModel();
  void PanelResized();

  void PanelMouseDown(QMouseEvent* event);
  void PanelMouseMove(QMouseEvent* event);
  void PanelMouseUp(QMouseEvent* event);
  void PanelWheel(QWheelEvent* event);
  // Draws a drag step: points only with Ctrl held or while full frames are too slow
  // to follow the mouse.
  void DragRedraw(Qt::KeyboardModifiers modifiers);

  void RenderActionTriggered(int tag);
  void ReflectionTriggered(QAction* action);
  void SetAmbientLightClick();
  void StereoClick();
  void BackSidesClick();
  void SetColorClick();
  void MelaxClick();
  void RemoveDuplicatesClick();
  void ModelInfoClick();
  void CopyClick();
  void OpenClick();
  void SaveClick();
  // Shows a command's error as the application's error box does.
  void ShowError(const std::exception& error);
  // A command as a slot: what it raises reaches the user, not the event loop.
  template <class Command>
  auto Guarded(Command command) {
    return [this, command] {
      try {
        (this->*command)();
      } catch (const std::exception& error) {
        ShowError(error);
      }
    };
  }

  TSurfaceColorModel lampModel_;
  std::unique_ptr<TBase3DRenderer> renderer_;
  TViewSettings settings_;
  int lastX_ = -1;
  int lastY_ = -1;
  std::unique_ptr<TBase3DModel> ownedModel_;
  TBase3DModel* shownModel_ = nullptr;
  std::string fileName_;
  bool shownBefore_ = false;
  bool pictureIsQuick_ = false;
  // How long the last full drawing took, in milliseconds.
  double fullFrameMs_ = 0;

  TModelRenderPanel* panel_;
  QActionGroup* renderGroup_;
  QActionGroup* reflectionGroup_;
  QActionGroup* navigationGroup_;
};

// Shows model (null: the built-in sphere) in a modal viewer; the model stays the
// caller's.  With allowFiles the File menu is shown and its commands work.
void ShowModelViewer(TBase3DModel* model, bool allowFiles, QWidget* parent = nullptr);
// Shows a modal viewer on a model file, with files allowed.
void ShowModelViewerOnFile(const std::string& fileName, QWidget* parent = nullptr);

}  // namespace sq
