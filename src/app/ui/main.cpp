// Korvelo Converter's window program. File names on the command line are added to the
// conversion list, as if chosen with Add.
#include <QStringList>
#include <QTimer>

#include "app/ui/application.h"
#include "app/ui/main_window.h"

int main(int argc, char **argv) {
  TKorveloApplication app(argc, argv);
  TfrmMain window;
  window.show();
  QStringList files = QCoreApplication::arguments();
  files.removeFirst();
  if (!files.isEmpty())
    QTimer::singleShot(0, &window, [&window, files] { window.AddFiles(files); });
  return app.exec();
}
