// The error box for what a dialog's own work raises: the application's title and the
// exception's text, as the main window shows the errors of its commands.
#pragma once

// Qt
#include <QApplication>
#include <QMessageBox>

// Local
#include <exception>

namespace sq {

inline void ShowError(QWidget* parent, const std::exception& error) {
  QMessageBox::critical(parent, QApplication::applicationName(), QString::fromLocal8Bit(error.what()));
}

}  // namespace sq
