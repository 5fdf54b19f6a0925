#pragma once

#include <string>

#include "console/console_page.h"

class CSkinButton;
class QLabel;
class QTimer;

// The status page: whether monitoring is on, who the current user is and
// which printer is the default; the Start and Stop buttons switch
// monitoring by writing "Monitoring". The two report buttons open today's
// report for the default printer and for the current user.
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

  // The texts of the last refresh.
  const std::string& StatusText() const { return status_; }
  const std::string& UserText() const { return user_; }
  const std::string& PrinterText() const { return printer_; }
  // Shown when monitoring is on but the engine gives no sign of life.
  bool EngineWarningShown() const;

  CSkinButton* StartButton() const { return start_; }
  CSkinButton* StopButton() const { return stop_; }
  CSkinButton* PrinterReportButton() const { return printerReport_; }
  CSkinButton* UserReportButton() const { return userReport_; }

 protected:
  void OnRefresh() override { RefreshStatus(); }

 private:
  void UpdateEngineWarning();

  CSkinButton* start_ = nullptr;
  CSkinButton* stop_ = nullptr;
  CSkinButton* printerReport_ = nullptr;
  CSkinButton* userReport_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QLabel* engineLabel_ = nullptr;
  QLabel* userLabel_ = nullptr;
  QLabel* printerLabel_ = nullptr;
  QTimer* engineTimer_ = nullptr;
  std::string status_;
  std::string user_;
  std::string printer_;
};

inline constexpr const char* kEngineNotRunning = "The monitoring engine is not running.";
