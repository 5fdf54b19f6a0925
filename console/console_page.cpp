#include "console/console_page.h"

#include <QPainter>
#include <algorithm>

CConsolePage::CConsolePage(int templateId, CPagePanel* owner, QWidget* parent)
    : CBitmapDlg(templateId, parent, Kind::kChild), owner_(owner) {
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  setPalette(p);
  // Only the paper is painted; the strip beside it shows the window.
  setAutoFillBackground(false);
}

CConsolePage::~CConsolePage() = default;

void CConsolePage::Refresh() {
  ++refreshes_;
  OnRefresh();
}

QRect CConsolePage::PaperRect() const { return QRect(0, 0, std::max(0, width() - kRightMargin), height()); }

void CConsolePage::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.fillRect(PaperRect(), palette().color(QPalette::Window));
  }
  CBitmapDlg::paintEvent(event);
}
