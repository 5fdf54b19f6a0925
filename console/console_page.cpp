#include "console/console_page.h"

CConsolePage::CConsolePage(int templateId, CPagePanel* owner, QWidget* parent)
    : CBitmapDlg(templateId, parent, Kind::Child), owner_(owner) {
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  setPalette(p);
}

CConsolePage::~CConsolePage() = default;

void CConsolePage::Refresh() {
  ++refreshes_;
  OnRefresh();
}
