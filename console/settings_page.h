#pragma once

#include "console/console_page.h"

// The settings page: e-mail reports and the cost per page.
class CSettingsPage : public CConsolePage {
  Q_OBJECT

 public:
  CSettingsPage(CPagePanel* owner, QWidget* parent);
  ~CSettingsPage() override;

  void RefreshSettings();

 protected:
  void OnRefresh() override { RefreshSettings(); }
};
