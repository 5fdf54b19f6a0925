#include "console/reports_page.h"

#include "console/page_heading.h"
#include "console/resources.h"

CReportsPage::CReportsPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_REPORTS_PAGE, owner, parent) {
  AddPageHeading(this, "Reports");
}

CReportsPage::~CReportsPage() = default;

void CReportsPage::FillReportLists() {}
