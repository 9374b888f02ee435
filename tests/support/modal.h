// Driving modal dialogs from QtTest: the action runs once the dialog's event loop is
// up, on the dialog that is then the active modal widget.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace sq::test {

// Call before the code that opens the dialog.  Waits up to a few seconds for it.
inline void WhenModal(std::function<void(QWidget*)> action, int attempts = 200) {
  QTimer::singleShot(10, [action = std::move(action), attempts]() mutable {
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      // A failed check returns early from the action; close the dialog then, so the
      // test reports the failure instead of waiting forever.  The watchdog ends with
      // this showing of the dialog, so a dialog shown again is left alone.
      auto* watchdog = new QTimer(dialog);
      watchdog->setSingleShot(true);
      QObject::connect(watchdog, &QTimer::timeout, dialog, [dialog] { dialog->close(); });
      if (auto* modal = qobject_cast<QDialog*>(dialog))
        QObject::connect(modal, &QDialog::finished, watchdog, &QObject::deleteLater);
      watchdog->start(30000);
      action(dialog);
    } else if (attempts > 0) {
      WhenModal(std::move(action), attempts - 1);
    }
  });
}

template <class T>
inline void WhenModal(std::function<void(T*)> action) {
  WhenModal([action = std::move(action)](QWidget* widget) { action(qobject_cast<T*>(widget)); });
}

}  // namespace sq::test
