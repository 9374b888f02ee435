// Answers the next modal dialog a Qt test runs into (message boxes, questions): the
// dialog's text is kept for the test to check, and the button with the given text
// (or the default/escape button when empty) is clicked.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <memory>

namespace sq::test {

struct TModalAnswer {
  QString Text;
  bool Seen = false;
};

// Call before the action that opens the dialog; the returned record fills in when
// the dialog appears.  buttonText "" closes it with Escape's button.
inline std::shared_ptr<TModalAnswer> AnswerNextModal(const QString& buttonText = {}) {
  auto answer = std::make_shared<TModalAnswer>();
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, answer, buttonText] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    timer->stop();
    timer->deleteLater();
    answer->Seen = true;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      answer->Text = box->text();
      for (QAbstractButton* button : box->buttons()) {
        if (QString(button->text()).remove(QChar('&')) == buttonText) {
          button->click();
          return;
        }
      }
      if (box->escapeButton()) {
        box->escapeButton()->click();
        return;
      }
    }
    modal->close();
  });
  timer->start();
  return answer;
}

}  // namespace sq::test
