#pragma once

#include "console/console_page.h"

// The reports page: the report periods, printers and users to report on.
class CReportsPage : public CConsolePage {
  Q_OBJECT

 public:
  CReportsPage(CPagePanel* owner, QWidget* parent);
  ~CReportsPage() override;

  void FillReportLists();

 protected:
  void OnRefresh() override { FillReportLists(); }
};
