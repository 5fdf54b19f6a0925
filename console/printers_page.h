#pragma once

#include "console/console_page.h"

// The printers page: the printers installed and the ones monitored, with their cost.
class CPrintersPage : public CConsolePage {
  Q_OBJECT

 public:
  CPrintersPage(CPagePanel* owner, QWidget* parent);
  ~CPrintersPage() override;

  void RefreshPrinters();

 protected:
  void OnRefresh() override { RefreshPrinters(); }
};
