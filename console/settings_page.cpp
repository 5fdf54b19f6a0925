#include "console/settings_page.h"

#include "console/page_heading.h"
#include "console/resources.h"

CSettingsPage::CSettingsPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_SETTINGS_PAGE, owner, parent) {
  AddPageHeading(this, "Settings");
}

CSettingsPage::~CSettingsPage() = default;

void CSettingsPage::RefreshSettings() {}
