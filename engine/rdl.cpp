// The engine library's one export.

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "engine/app_folder.h"
#include "engine/control_thread.h"
#include "platform/message_queue.h"

namespace {

// Library load: the application folder is read once.
struct LoadApplicationFolder {
  LoadApplicationFolder() {
    engine::SetAppFolder(CRegString(common::QuillmarkValue("AppPath")).Get());
  }
} g_loadApplicationFolder;

}  // namespace

extern "C" __attribute__((visibility("default"))) void rdl() {
  CRegDword(common::QuillmarkValue("Monitoring")).Set(1);

  engine::ControlThread control;
  control.start();

  platform::Message message;
  while (platform::GetMessage(message)) {
    // The engine has no windows; messages other than quit are dropped.
  }

  control.stop(true);
}
