// Stereoquill, the desktop program: stereoquill [FILE...] opens each project (.kst),
// model (.m3d, .ply, in the 3D viewer) and image named; "*" opens the file-format
// association dialog.
// Qt
#include <QApplication>
#include <QTimer>

// Local
#include "app/main_form.h"
#include "base/large_pages.h"
#include "imaging/codecs/bitmap_loader.h"
#include "numeric/library.h"
#include "platform/program_setup.h"

int main(int argc, char* argv[]) {
  // Before the first allocation worth keeping.
  sq::ReuseFreedMemory();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Stereoquill");
  QApplication::setApplicationVersion(SQ_VERSION);
  QApplication::setOrganizationName("Tavirel");

  // The process-wide tables come first: the image formats and the expression names.
  sq::BitmapLoaders();
  sq::StandardSymbols();

  int result;
  {
    sq::TMainForm form;
    form.show();
    const QStringList arguments = QApplication::arguments().mid(1);
    QTimer::singleShot(0, &form, [&form, arguments] { form.ProcessCommandLine(arguments); });
    result = QApplication::exec();
  }
  sq::FreeProgramSetup();
  return result;
}
