#include "console/status_page.h"

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "console/page_heading.h"
#include "console/resources.h"

CStatusPage::CStatusPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_STATUS_PAGE, owner, parent) {
  AddPageHeading(this, "Status");
}

CStatusPage::~CStatusPage() = default;

void CStatusPage::RefreshStatus() {}

void CStatusPage::SetMonitoring(bool on) {
  CRegDword monitoring(common::QuillmarkValue("Monitoring"));
  monitoring.Set(on ? 1 : 0);
  monitoring.Write();
  RefreshStatus();
}
