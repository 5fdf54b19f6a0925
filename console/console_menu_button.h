#pragma once

#include "console/menu_button.h"

class CQuillmarkApp;

// The main window's menu button: help, the maker's web pages and About.
class CConsoleMenuButton : public CMenuButton {
  Q_OBJECT

 public:
  CConsoleMenuButton(CQuillmarkApp& app, QWidget* parent);
  ~CConsoleMenuButton() override;

  // Appends the button's eleven entries.
  void AppendEntries();

  void OnMenuCommand(int id) override;

 private:
  CQuillmarkApp& app_;
};
