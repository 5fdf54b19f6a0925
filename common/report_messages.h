#pragma once

// The texts a report request ends with when it cannot be shown. They are
// shown to people as they stand (message box, standard error).

#include <string_view>

namespace common {

inline constexpr std::string_view kReportPrinterNotMonitored =
    "The selected printer is not monitored. Please check the Printers menu.";
inline constexpr std::string_view kReportDefaultPrinterNotMonitored =
    "The default printer is not monitored. Please check the Printers menu.";
inline constexpr std::string_view kReportMissing = "The report your are trying to view does not exists.";
inline constexpr std::string_view kReportCannotBeDisplayed =
    "The report your are trying to view cannot be displayed. File could not be copyed to report "
    "folder.";

}  // namespace common
