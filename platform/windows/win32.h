#pragma once

// The Windows backends include the system's headers through this file
// only, never <windows.h> directly, and before any other system header.
//
// The system's headers turn many function names into macros that pick the
// ANSI or the wide function (GetMessage becomes GetMessageW, OpenPrinter
// OpenPrinterW, ...). Several of those names are the platform layer's own
// (platform::GetMessage, Spooler::OpenPrinter, ...), which the macros would
// silently rename wherever a backend uses them. The rule: this file removes
// the A/W macro of every name the platform layer uses itself, and the
// backends call the system's functions by their explicit wide names
// (GetMessageW, OpenPrinterW, EnumJobsW, ...).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
#include <winspool.h>

#undef AddPrinter
#undef EnumJobs
#undef EnumPrinters
#undef FindFirstChangeNotification
#undef GetMessage
#undef GetPrinter
#undef OpenPrinter
#undef PostThreadMessage
#undef ReplaceFile
#undef SendMessage
#undef SetDefaultPrinter
