// Stereoquill, the desktop program.
#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Stereoquill");
  QLabel placeholder("Stereoquill");
  placeholder.show();
  return QApplication::exec();
}
