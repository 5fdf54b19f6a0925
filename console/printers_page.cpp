#include "console/printers_page.h"

#include "console/page_heading.h"
#include "console/resources.h"

CPrintersPage::CPrintersPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_PRINTERS_PAGE, owner, parent) {
  AddPageHeading(this, "Printers");
}

CPrintersPage::~CPrintersPage() = default;

void CPrintersPage::RefreshPrinters() {}
