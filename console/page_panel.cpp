#include "console/page_panel.h"

#include "console/console_page.h"
#include "console/resources.h"
#include "console/skin_button.h"

CPagePanel::CPagePanel(QWidget* parent) : CBitmapDlg(res::IDD_PAGE_PANEL, parent, Kind::kChild) {}

CPagePanel::~CPagePanel() = default;

int CPagePanel::AddPage(CConsolePage* page, CSkinButton* button) {
  pages_[next_] = page;
  buttons_[next_] = button;
  ++next_;
  connect(button, &QAbstractButton::clicked, this, [this, button] { OnButtonClicked(button); });
  return 1;
}

CConsolePage* CPagePanel::Page(int index) const {
  auto it = pages_.find(index);
  return it == pages_.end() ? nullptr : it->second;
}

CSkinButton* CPagePanel::Button(int index) const {
  auto it = buttons_.find(index);
  return it == buttons_.end() ? nullptr : it->second;
}

void CPagePanel::OnButtonClicked(QAbstractButton* button) {
  for (int i = 0; i < next_; ++i) {
    if (Button(i) == button) {
      SelectPage(i);
      return;
    }
  }
}

void CPagePanel::SelectPage(int index) {
  if (!enabled_) return;
  for (int i = 0; i < next_; ++i) {
    if (CConsolePage* page = Page(i)) page->hide();
    if (CSkinButton* b = Button(i)) b->setEnabled(true);
  }
  CConsolePage* page = Page(index);
  if (page != nullptr) page->show();
  if (CSkinButton* b = Button(index)) b->setEnabled(false);
  if (page != nullptr) page->Refresh();
}
