#pragma once

// The Windows registry behind platform::Registry. Declares no system
// types, so tests may include it.

#include <memory>
#include <string>

#include "platform/export.h"
#include "platform/registry.h"

namespace platform {

// The system's registry. With an empty `redirect` the hives are the
// system's own (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER). Otherwise every
// hive is a key below HKEY_CURRENT_USER\`redirect` ("HKLM", "HKCU"), so
// that a test works on registry keys of its own without administrator
// rights, through the same system calls.
QM_PLATFORM_API std::unique_ptr<Registry> MakeSystemRegistry(const std::string& redirect = {});

}  // namespace platform
