// The numeric edit controls as a user types into them.
#include <QSignalSpy>
#include <QtTest>

#include "app/float_edit.h"
#include "app/integer_edit.h"

using namespace sq;

class TNumericEditTest : public QObject {
  Q_OBJECT

 private slots:
  void IntegerEditWarnsAndKeepsItsLastValidValue() {
    TIntegerEdit edit;
    edit.SetMax(100);
    edit.SetValue(42);
    const QColor normal = edit.palette().color(QPalette::Text);
    QSignalSpy changed(&edit, &TIntegerEdit::Changed);
    edit.clear();
    QTest::keyClicks(&edit, "101");
    QVERIFY(!edit.Valid());
    QCOMPARE(edit.Value(), 10);  // "10" was valid on the way
    QCOMPARE(edit.palette().color(QPalette::Text), QColor(0x80, 0, 0));
    edit.setText("99.99999");
    QVERIFY(edit.Valid());
    QCOMPARE(edit.Value(), 100);
    QCOMPARE(edit.palette().color(QPalette::Text), normal);
    edit.setText("5.5");
    QVERIFY(!edit.Valid());
    QCOMPARE(edit.Value(), 100);
    edit.setText("2^3+1");
    QCOMPARE(edit.Value(), 9);
    QVERIFY(changed.count() >= 4);
  }

  void FloatEditTakesExpressionsUnlessSimple() {
    TFloatEdit edit;
    edit.SetMax(1000);
    edit.setText("1,5*2");
    QCOMPARE(double(edit.Value()), 3.0);
    edit.SetSimpleValue(true);
    edit.setText("2*3");
    QVERIFY(!edit.Valid());
    QCOMPARE(double(edit.Value()), 3.0);
    edit.SetValue(2.5);
    QCOMPARE(edit.text(), QString("2.5"));
    QVERIFY(edit.Valid());
  }
};

QTEST_MAIN(TNumericEditTest)
#include "numeric_edit_test.moc"
