#include "console/console_services.h"

namespace {

CConsoleServices* g_current = nullptr;

}  // namespace

CConsoleServices::CConsoleServices() { g_current = this; }

CConsoleServices::~CConsoleServices() {
  if (g_current == this) g_current = nullptr;
}

CConsoleServices* CConsoleServices::Current() { return g_current; }
