// TTwainWindow over a Qt widget: scanning disables the widget while the source is
// enabled, and keeps the application's events flowing (the source's own dialog lives
// in the same event loop).
#pragma once

// Qt
#include <QPointer>
#include <QWidget>

// Local
#include "platform/twain.h"

namespace sq {

class TQtTwainWindow : public TTwainWindow {
 public:
  explicit TQtTwainWindow(QWidget* widget) : widget_(widget) {}

  bool IsWindow() const override { return !widget_.isNull(); }
  void* Handle() const override { return widget_.data(); }
  void SetBusy(bool busy) override;
  void SetEnabled(bool enabled) override;
  bool ProcessMessage() override;

 private:
  QPointer<QWidget> widget_;
  bool busy_ = false;
};

}  // namespace sq
