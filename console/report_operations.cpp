#include "console/report_operations.h"

#include "common/report_messages.h"
#include "common/report_periods.h"
#include "common/text_file.h"
#include "console/console_services.h"
#include "console/message_dlg.h"
#include "console/report_viewer_dlg.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/report_folder.h"

namespace {

std::string AppFolder() {
  CConsoleServices* app = CConsoleServices::Current();
  return app != nullptr ? app->AppPathText() : std::string();
}

}  // namespace

bool ShowReport(QWidget* parent, const std::string& appPath, const common::ReportRequest& request) {
  // The console's report documents go to a folder of the user's own: the
  // data folder's Logs belongs to the engine. The stylesheets stay there.
  const platform::Result<std::string> folder = platform::UserReportFolder();
  if (!folder) {
    platform::LogWarning("report not shown: no private folder for it", folder.Status());
    ShowMessage(parent, common::kReportCannotBeDisplayed);
    return false;
  }
  common::ReportResult r =
      common::AssembleReport(appPath, request, platform::Clock::Default(), *folder + "/DisplayReport.xml");
  if (!r) {
    if (!r.why.IsOk()) platform::LogWarning("report not shown", r.why);
    ShowMessage(parent, r.message);
    return false;
  }
  CReportViewerDlg viewer(parent);
  viewer.SetStylesheetFolder(common::NativePath(appPath + "\\Logs"));
  viewer.SetReportPath(r.documentPath);
  viewer.exec();
  return true;
}

bool ShowAggregatedReport(QWidget* parent, const std::string& appPath, std::string_view periodLabel) {
  std::optional<common::ReportPeriod> period = common::ReportPeriodFromLabel(periodLabel);
  if (!period) return false;
  return ShowReport(parent, appPath, {*period, common::ReportScope::kAllPrinting, {}, false});
}

bool ShowDefaultPrinterReport(QWidget* parent, const std::string& defaultPrinterName) {
  return ShowReport(parent, AppFolder(),
                    {common::ReportPeriod::kToday, common::ReportScope::kPrinter, defaultPrinterName, true});
}

bool ShowCurrentUserReport(QWidget* parent, const std::string& userName) {
  return ShowReport(parent, AppFolder(),
                    {common::ReportPeriod::kToday, common::ReportScope::kUser, userName, false});
}
