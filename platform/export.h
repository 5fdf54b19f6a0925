#pragma once

// Symbols of the platform library, which every program and the engine
// library share as one shared object (like the system libraries they stand
// in for), so that process-wide state such as thread message queues exists
// once per process.
#if defined(_WIN32)
#if defined(QM_PLATFORM_BUILD)
#define QM_PLATFORM_API __declspec(dllexport)
#else
#define QM_PLATFORM_API __declspec(dllimport)
#endif
#else
#define QM_PLATFORM_API __attribute__((visibility("default")))
#endif
