#pragma once

#include "console/menu_button.h"

class CConsoleServices;

// The main window's menu button: help, the maker's web pages and About,
// which it leaves to whoever listens to AboutRequested.
class CConsoleMenuButton : public CMenuButton {
  Q_OBJECT

 public:
  CConsoleMenuButton(CConsoleServices& services, QWidget* parent);
  ~CConsoleMenuButton() override;

  // Appends the button's eleven entries.
  void AppendEntries();

  void OnMenuCommand(int id) override;

 signals:
  void AboutRequested();

 private:
  CConsoleServices& services_;
};
