#pragma once

#include <string>

#include "console/console_page.h"

class CSkinButton;
class QCheckBox;
class QComboBox;
class QLineEdit;

// The settings page: switches the scheduled e-mail report on and off,
// opens the e-mail settings, and sets the cost per page of a monitored
// printer.
class CSettingsPage : public CConsolePage {
  Q_OBJECT

 public:
  CSettingsPage(CPagePanel* owner, QWidget* parent);
  ~CSettingsPage() override;

  void RefreshSettings();
  // Writes "EmailAlert" from the check box at once.
  void ApplyEmailSwitch();
  // Shows the stored cost of the selected printer.
  void LoadPrinterCost();
  // Stores the cost for the selected printer.
  void ApplyCost();
  // Runs the e-mail settings dialog, then shows this page's data again.
  void ConfigureEmail();

  // Saving the e-mail settings switches the reports on.
  void SetEmailSwitch(int on) { emailSwitch_ = on; }
  int EmailSwitch() const { return emailSwitch_; }
  int Cost() const { return cost_; }

  QCheckBox* EmailCheck() const { return emailCheck_; }
  CSkinButton* ConfigureButton() const { return configure_; }
  QComboBox* PrinterList() const { return printers_; }
  QLineEdit* CostEdit() const { return costEdit_; }
  CSkinButton* ApplyButton() const { return apply_; }

 protected:
  void OnRefresh() override { RefreshSettings(); }

 private:
  // Takes the controls into the data members, with the standard checks of
  // the cost (their message is shown); false when a check failed.
  bool TakeData();
  // Shows the data members in the controls.
  void ShowData();
  std::string SelectedPrinter() const;

  int emailSwitch_ = 0;
  int cost_ = 0;
  QCheckBox* emailCheck_ = nullptr;
  CSkinButton* configure_ = nullptr;
  QComboBox* printers_ = nullptr;
  QLineEdit* costEdit_ = nullptr;
  CSkinButton* apply_ = nullptr;
};

inline constexpr const char* kCostApplied =
    "From now on all jobs printed will have this cost assigned. The jobs monitored util now will "
    "have the old cost.";
