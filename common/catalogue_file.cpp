#include "common/catalogue_file.h"

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/text_file.h"
#include "platform/file_system.h"
#include "platform/log.h"

namespace common {
namespace {

void RequestReload() { CRegDword(QuillmarkValue("Reset")).Set(1).Write(); }

}  // namespace

std::string ReadCatalogue(const std::string& path) { return ReadTextFile(path); }

bool EditCatalogue(const std::string& path, const std::function<bool(std::string&)>& edit) {
  platform::FileLock lock(path + ".lock");
  if (!lock.Locked()) platform::LogWarning("catalogue edited without its lock", lock.Status());
  std::string text = ReadTextFile(path);
  if (!edit(text)) return true;
  if (platform::Status written = ReplaceTextFile(path, text); !written) {
    platform::LogWarning("catalogue not changed", written);
    return false;
  }
  return true;
}

bool RegisterCatalogueUser(const std::string& path, std::string_view user) {
  return EditCatalogue(path, [&](std::string& text) { return AddUserIfMissing(text, user); });
}

bool ApplyMonitoredPrinters(const std::string& path, const std::vector<ChosenPrinter>& chosen) {
  bool ok = EditCatalogue(path, [&](std::string& text) {
    ApplyMonitoredSet(text, chosen);
    return true;
  });
  RequestReload();
  return ok;
}

bool ChangePrinterCost(const std::string& path, std::string_view name, int cost) {
  bool ok = EditCatalogue(path, [&](std::string& text) {
    std::string before = text;
    SetPrinterCost(text, name, cost);
    return text != before;
  });
  RequestReload();
  return ok;
}

}  // namespace common
