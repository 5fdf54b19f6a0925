// Quillmark, the desktop console.

#include <QApplication>

#include "console/default_printer.h"
#include "console/qt_tray_area.h"
#include "console/quillmark_app.h"
#include "console/single_instance.h"
#include "console/web_engine_setup.h"
#include "platform/log.h"

int main(int argc, char* argv[]) {
  platform::SetLogIdentity("Quillmark");
  PrepareWebEngine();
  QApplication application(argc, argv);
  // Hidden into the notification area, the console has no window, and a
  // box closed then must not end it: only Exit does.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));

  QtTrayArea tray;
  CSpoolerDefaultPrinter printers;
  CQuillmarkApp app({&tray, nullptr, &printers});
  return app.Run(DefaultInstanceName());
}
