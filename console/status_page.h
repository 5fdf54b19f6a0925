#pragma once

#include "console/console_page.h"

// The status page: whether monitoring is on; switching it on and off.
class CStatusPage : public CConsolePage {
  Q_OBJECT

 public:
  CStatusPage(CPagePanel* owner, QWidget* parent);
  ~CStatusPage() override;

  // Re-reads everything the page shows.
  void RefreshStatus();

  // true: the Start action, false: the Stop action. The registry value
  // "Monitoring" is written even when it already holds the value.
  void SetMonitoring(bool on);

 protected:
  void OnRefresh() override { RefreshStatus(); }
};
