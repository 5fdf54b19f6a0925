#pragma once

#include <string>
#include <vector>

#include "console/console_page.h"

class CSkinButton;
class QLabel;
class QListWidget;
class QTreeWidget;

// The printers page: the printers installed (from the print spooler) and,
// below, the ones chosen for monitoring with their cost per page. Choices
// take effect on apply, which rewrites the catalogue and asks the engine
// to reload it; at most three printers are monitored.
class CPrintersPage : public CConsolePage {
  Q_OBJECT

 public:
  CPrintersPage(CPagePanel* owner, QWidget* parent);
  ~CPrintersPage() override;

  // Rebuilds both lists from the spooler and the catalogue.
  void RefreshPrinters();
  // Enables add when the selected installed printer is not chosen yet.
  void UpdateAddRemove();
  void AddPrinter();
  void RemovePrinter();
  void ApplyPrinters();

  QListWidget* InstalledList() const { return installed_; }
  QTreeWidget* ChosenList() const { return chosen_; }
  CSkinButton* AddButton() const { return add_; }
  CSkinButton* RemoveButton() const { return remove_; }
  CSkinButton* ApplyButton() const { return apply_; }
  CSkinButton* ResetButton() const { return reset_; }
  // The spooler's complaint of the last refresh, or the empty text.
  std::string EnumerationError() const;

  // Rows of the chosen list: name and cost text (Latin-1).
  std::vector<std::pair<std::string, std::string>> ChosenRows() const;

 protected:
  void OnRefresh() override { RefreshPrinters(); }

 private:
  std::string SelectedInstalled() const;
  bool IsChosen(const std::string& name) const;
  void AppendRow(const std::string& name, const std::string& cost);
  void OnChosenClicked();

  QListWidget* installed_ = nullptr;
  QTreeWidget* chosen_ = nullptr;
  QLabel* error_ = nullptr;
  CSkinButton* add_ = nullptr;
  CSkinButton* remove_ = nullptr;
  CSkinButton* apply_ = nullptr;
  CSkinButton* reset_ = nullptr;
};

inline constexpr const char* kThreePrinters =
    "There are already 3 printers monitored. Please remove one in order to add another one.";
