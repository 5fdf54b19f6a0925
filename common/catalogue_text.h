#pragma once

// The printer and user catalogue (settings.xml) is kept as a flat text and
// edited by plain substring search, exactly as it is stored on disk:
//
//   <log><printers>
//     <name>N</name><ID>I</ID><cost>C</cost><monitored>F</monitored> ...
//   </printers><users>
//     <username>U</username> ...
//   </users></log>
//
// Nothing here parses XML; every function tolerates damaged text and always
// terminates.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace common {

struct MonitoredPrinter {
  std::string name;
  std::string cost;
};

// Printers whose monitored flag is exactly "1", in file order, at most
// `capacity` of them (later ones are ignored).
std::vector<MonitoredPrinter> ScanMonitoredPrinters(std::string_view text, std::size_t capacity = 999);

// The ID of the printer named exactly `name` (case-sensitive). If the name
// appears more than once the last entry wins; empty when there is none.
std::string FindPrinterId(std::string_view text, std::string_view name);

// Adds a <username> entry unless `user` already occurs anywhere in the
// text, creating the <users> section (and <printers>/<log> around it) when
// missing. Returns true when the text changed; an empty user changes nothing.
bool AddUserIfMissing(std::string& text, std::string_view user);

// The same for a non-empty `user` already known not to occur in the text:
// adds its entry without searching for it again.
void AddUserEntry(std::string& text, std::string_view user);

// Whether `name` occurs anywhere in the text, as AddUserIfMissing decides
// it, searched with skips rather than byte by byte.
bool OccursInText(std::string_view text, std::string_view name);

// Every <username> value in file order.
std::vector<std::string> ListUsers(std::string_view text);

struct ChosenPrinter {
  std::string name;
  std::string cost;
};

// Makes `chosen` the monitored set: every entry's flag drops to "0", then
// each chosen printer is flagged "1" (its stored cost is kept) or, when it
// is not yet in the catalogue, added with the next free ID and its cost
// ("0" when empty). Creates the <printers> section when missing.
void ApplyMonitoredSet(std::string& text, const std::vector<ChosenPrinter>& chosen);

// Replaces the cost of every entry named exactly `name`.
void SetPrinterCost(std::string& text, std::string_view name, int cost);

struct CataloguePrinter {
  std::string name;
  std::string id;
  std::string cost;
  std::string monitored;
};

// Every printer entry in file order.
std::vector<CataloguePrinter> ListPrinters(std::string_view text);

// Leading decimal digits as a number; no digits reads as 0. Saturates
// instead of overflowing.
long ParseLeadingInt(std::string_view s);

}  // namespace common
