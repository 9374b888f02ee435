// Self
#include "app/twain_window.h"

// Qt
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

namespace sq {

void TQtTwainWindow::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void TQtTwainWindow::SetEnabled(bool enabled) {
  if (widget_) widget_->setEnabled(enabled);
}

bool TQtTwainWindow::ProcessMessage() {
  if (QCoreApplication::closingDown()) return false;
  // Wait up to a few milliseconds for the next event, so an idle source costs nothing.
  QEventLoop loop;
  QTimer::singleShot(15, &loop, &QEventLoop::quit);
  loop.exec();
  return true;
}

}  // namespace sq
