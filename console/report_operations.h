#pragma once

// Showing a report: the period's log file is made into the report document
// "Logs/DisplayReport.xml", which the report viewer then shows modally.
// Every failure is told through ShowMessage with its fixed text. The
// reports page's buttons and the status page's two report buttons all end
// here.

#include <string>
#include <string_view>

#include "common/report_assembly.h"

class QWidget;

// Assembles the report of `request` from the application folder `appPath`
// and shows it; returns when the viewer (or the message) was closed.
// Returns whether the viewer was shown.
bool ShowReport(QWidget* parent, const std::string& appPath, const common::ReportRequest& request);

// The period list's label to a request for the aggregated report; false
// (and nothing shown) when the label is not one of the twelve.
bool ShowAggregatedReport(QWidget* parent, const std::string& appPath, std::string_view periodLabel);

// Today's report of the default printer, by its name as the status page
// shows it ("No default printer" has no catalogue entry).
bool ShowDefaultPrinterReport(QWidget* parent, const std::string& defaultPrinterName);

// Today's report of the user running the console.
bool ShowCurrentUserReport(QWidget* parent, const std::string& userName);
