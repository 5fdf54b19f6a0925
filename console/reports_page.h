#pragma once

#include <string>

#include "console/console_page.h"

class CSkinButton;
class QComboBox;

// The reports page: a period, then a report for one monitored printer, for
// one user, or for all printing. Each show button assembles the report
// and opens it in the report viewer; a list without a selection makes its
// button do nothing.
class CReportsPage : public CConsolePage {
  Q_OBJECT

 public:
  CReportsPage(CPagePanel* owner, QWidget* parent);
  ~CReportsPage() override;

  // Refills the period list (with "Today" selected) and, from the
  // catalogue, the monitored printers and the users (none selected).
  void FillReportLists();

  void ShowPrinterReport();
  void ShowUserReport();
  void ShowAggregatedReport();

  QComboBox* PeriodList() const { return periods_; }
  QComboBox* PrinterList() const { return printers_; }
  QComboBox* UserList() const { return users_; }
  CSkinButton* PrinterButton() const { return showPrinter_; }
  CSkinButton* UserButton() const { return showUser_; }
  CSkinButton* AggregatedButton() const { return showAggregated_; }

 protected:
  void OnRefresh() override { FillReportLists(); }

 private:
  std::string AppFolder() const;

  QComboBox* periods_ = nullptr;
  QComboBox* printers_ = nullptr;
  QComboBox* users_ = nullptr;
  CSkinButton* showPrinter_ = nullptr;
  CSkinButton* showUser_ = nullptr;
  CSkinButton* showAggregated_ = nullptr;
};
