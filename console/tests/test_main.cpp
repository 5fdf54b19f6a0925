// The console tests need one application object for the whole run; the
// windows are shown on the offscreen platform unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "console/web_engine_setup.h"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The reports the console shows go to the user's runtime folder: one of
  // this run's own.
  std::string runtime = (std::filesystem::temp_directory_path() / "qm-console-test-XXXXXX").string();
  if (mkdtemp(runtime.data()) == nullptr) return 2;
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  PrepareWebEngine();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(runtime, ignored);
  return status;
}
