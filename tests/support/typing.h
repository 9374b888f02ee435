// Typing into a field as a person does: focus it, select what it holds, type over it.
#pragma once

#include <QLineEdit>
#include <QString>
#include <QTest>

namespace sq::test {

inline void TypeInto(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

}  // namespace sq::test
