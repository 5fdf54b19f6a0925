#include "console/web_engine_setup.h"

#include <QCoreApplication>

#include "platform/effective_user.h"

void PrepareWebEngine() {
  // The browser's helper processes refuse to start as the administrator
  // with their sandbox on; for everyone else the sandbox stays.
  if (platform::RunningAsAdministrator()) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // The browser shares its drawing contexts with the windows around it.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
