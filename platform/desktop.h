#pragma once

// Handing a web address or a document to the desktop: the desktop's opener
// chooses the browser or viewer. Opening never waits for the program it
// starts and nothing comes back from it.

#include <memory>
#include <string>

#include "platform/export.h"
#include "platform/status.h"

namespace platform {

class QM_PLATFORM_API DesktopOpener {
 public:
  virtual ~DesktopOpener();

  // Starts the opener on `target` (a URL or a file path) and returns at
  // once; an error saying why when the opener could not be started.
  virtual Status Open(const std::string& target) = 0;

  // The process-wide opener: the program named by $QUILLMARK_OPENER when
  // set and not empty, else the desktop's own (MakeSystemOpener).
  static DesktopOpener& Default();
  // Replaces the process-wide opener (tests); returns the previous one.
  // The caller keeps ownership and must restore it before destroying it.
  static DesktopOpener* SetDefault(DesktopOpener* opener);
};

// An opener that runs `program target`, looked up on PATH, directly (no
// shell sees the target), detached so that it outlives the caller and
// leaves no child behind.
QM_PLATFORM_API std::unique_ptr<DesktopOpener> MakeProgramOpener(std::string program);

// The desktop's own opener: "xdg-open" on POSIX desktops, the shell's
// choice (ShellExecute) on Windows.
QM_PLATFORM_API std::unique_ptr<DesktopOpener> MakeSystemOpener();

}  // namespace platform
