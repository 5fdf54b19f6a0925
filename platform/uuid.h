#pragma once

#include <string>

#include "platform/export.h"

namespace platform {

// Source of fresh UUIDs in their text form: 36 characters, lower-case
// hexadecimal in groups of 8-4-4-4-12 joined by hyphens. Tests replace the
// process-wide source to get predictable texts (MIME boundaries, ...).
class QM_PLATFORM_API UuidSource {
 public:
  virtual ~UuidSource();

  virtual std::string NewUuidText() = 0;

  // The replacement set by SetDefault, else the system's generator.
  static UuidSource& Default();
  // Replaces the process-wide source (null restores the system's); returns
  // the previous replacement. The caller keeps ownership.
  static UuidSource* SetDefault(UuidSource* source);
};

// The system's generator (random UUIDs where the system has them).
QM_PLATFORM_API UuidSource& SystemUuidSource();

// Shorthand for UuidSource::Default().NewUuidText().
QM_PLATFORM_API std::string NewUuidText();

}  // namespace platform
