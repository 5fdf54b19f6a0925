#pragma once

// The catalogue file (settings.xml) as the programs read and change it.
// Every change is one read-edit-write done while holding a lock shared by
// all processes ("settings.xml.lock" beside the file), and the new text
// replaces the file atomically, so concurrent writers never lose each
// other's entries and a crash never leaves a truncated catalogue.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/catalogue_text.h"

namespace common {

// The whole catalogue text, or the empty text when it is missing.
std::string ReadCatalogue(const std::string& path);

// Runs `edit` on the current text under the lock and writes the result when
// `edit` returns true. Returns false only when a needed write failed.
bool EditCatalogue(const std::string& path, const std::function<bool(std::string&)>& edit);

// Adds a user seen on a logged job unless the name occurs anywhere in the
// catalogue already.
bool RegisterCatalogueUser(const std::string& path, std::string_view user);

// Makes `chosen` the monitored set, then asks the engine to reload
// ("Reset" = 1).
bool ApplyMonitoredPrinters(const std::string& path, const std::vector<ChosenPrinter>& chosen);

// Sets the cost of the printer named `name`, then asks the engine to reload.
bool ChangePrinterCost(const std::string& path, std::string_view name, int cost);

}  // namespace common
