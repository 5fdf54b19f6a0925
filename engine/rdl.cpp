// The engine library's one export.

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "engine/app_folder.h"
#include "engine/control_thread.h"
#include "platform/message_queue.h"

namespace {

// Library load: the application folder is read once.
struct LoadApplicationFolder {
  LoadApplicationFolder() { engine::SetAppFolder(CRegString(common::QuillmarkValue("AppPath")).Get()); }
} g_loadApplicationFolder;

}  // namespace

// The library's only export, on Windows by dllexport (which also keeps the
// linker from exporting everything else), elsewhere by visibility.
#if defined(_WIN32)
#define QUILLCORE_ENTRY __declspec(dllexport)
#else
#define QUILLCORE_ENTRY __attribute__((visibility("default")))
#endif

extern "C" QUILLCORE_ENTRY void rdl() {
  CRegDword(common::QuillmarkValue("Monitoring")).Set(1);

  engine::ControlThread control;
  control.Start();

  platform::Message message;
  while (platform::GetMessage(message)) {
    // The engine has no windows; messages other than quit are dropped.
  }

  control.Stop(true);
}
