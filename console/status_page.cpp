#include "console/status_page.h"

#include <QFont>
#include <QLabel>
#include <QTimer>

#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "console/console_services.h"
#include "console/control_id.h"
#include "console/engine_heartbeat.h"
#include "console/page_heading.h"
#include "console/page_text.h"
#include "console/report_operations.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "platform/user_account.h"

namespace {

// While the page is on show, the engine line follows the heartbeat at
// about the engine's own pace.
constexpr int kEngineCheckMs = 10000;

CSkinButton* AddButton(QWidget* page, int id, QRect geometry, int normal, int pressed) {
  auto* button = new CSkinButton(page);
  SetControlId(button, id);
  button->setGeometry(geometry);
  button->LoadImages(normal, pressed, normal);
  return button;
}

QLabel* AddValue(QWidget* page, int id, QRect geometry) {
  QLabel* label = AddPageText(page, "", geometry, Qt::black);
  SetControlId(label, id);
  label->setTextFormat(Qt::PlainText);
  return label;
}

void Show(QLabel* label, const std::string& text) { label->setText(QString::fromLatin1(text)); }

}  // namespace

CStatusPage::CStatusPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_STATUS_PAGE, owner, parent) {
  AddPageHeading(this, "Status");

  AddPageText(this, "Application Status:", QRect(24, 56, 130, 20), Qt::black);
  statusLabel_ = AddValue(this, res::IDC_STATUS_TEXT, QRect(160, 56, 240, 20));
  QFont bold = statusLabel_->font();
  bold.setBold(true);
  statusLabel_->setFont(bold);
  engineLabel_ = AddPageText(this, kEngineNotRunning, QRect(160, 76, 250, 18), QColor(176, 32, 32));
  engineLabel_->hide();
  AddPageText(this, "Current User:", QRect(24, 100, 130, 20), Qt::black);
  userLabel_ = AddValue(this, res::IDC_USER_TEXT, QRect(160, 100, 240, 20));
  AddPageText(this, "Default Printer:", QRect(24, 124, 130, 20), Qt::black);
  printerLabel_ = AddValue(this, res::IDC_PRINTER_TEXT, QRect(160, 124, 240, 20));

  start_ =
      AddButton(this, res::IDC_START, QRect(24, 168, 99, 25), res::IDB_START_NORMAL, res::IDB_START_PRESSED);
  stop_ =
      AddButton(this, res::IDC_STOP, QRect(136, 168, 99, 25), res::IDB_STOP_NORMAL, res::IDB_STOP_PRESSED);
  AddPageText(this, "Today's reports:", QRect(24, 212, 240, 20), Qt::black);
  printerReport_ = AddButton(this, res::IDC_PRINTER_REPORT, QRect(24, 236, 99, 25),
                             res::IDB_PRINTER_REPORT_NORMAL, res::IDB_PRINTER_REPORT_PRESSED);
  userReport_ = AddButton(this, res::IDC_USER_REPORT, QRect(136, 236, 99, 25), res::IDB_USER_REPORT_NORMAL,
                          res::IDB_USER_REPORT_PRESSED);
  printerReport_->setToolTip(QStringLiteral("Today's report for the default printer"));
  userReport_->setToolTip(QStringLiteral("Today's report for the current user"));

  connect(start_, &QAbstractButton::clicked, this, [this] { SetMonitoring(true); });
  connect(stop_, &QAbstractButton::clicked, this, [this] { SetMonitoring(false); });
  // Today's report of the default printer and of the current user, by the
  // texts of the last refresh.
  connect(printerReport_, &QAbstractButton::clicked, this,
          [this] { ShowDefaultPrinterReport(this, printer_); });
  connect(userReport_, &QAbstractButton::clicked, this, [this] { ShowCurrentUserReport(this, user_); });

  engineTimer_ = new QTimer(this);
  engineTimer_->setInterval(kEngineCheckMs);
  connect(engineTimer_, &QTimer::timeout, this, [this] {
    if (isVisible()) UpdateEngineWarning();
  });
  engineTimer_->start();

  RefreshStatus();
}

CStatusPage::~CStatusPage() = default;

void CStatusPage::RefreshStatus() {
  const bool on = CRegDword(common::QuillmarkValue("Monitoring")).Get() == 1;
  start_->setEnabled(!on);
  stop_->setEnabled(on);
  status_ = on ? "Monitoring" : "NOT Monitoring";
  Show(statusLabel_, status_);

  user_ = platform::CurrentUserName();
  if (user_.size() > 256) user_.resize(256);
  CConsoleServices* app = CConsoleServices::Current();
  printer_ = app != nullptr ? app->GetDefaultPrinterName() : kNoDefaultPrinter;
  Show(userLabel_, user_);
  Show(printerLabel_, printer_);
  UpdateEngineWarning();
}

void CStatusPage::UpdateEngineWarning() { engineLabel_->setVisible(EngineLooksStopped()); }

bool CStatusPage::EngineWarningShown() const { return !engineLabel_->isHidden(); }

void CStatusPage::SetMonitoring(bool on) {
  CRegDword monitoring(common::QuillmarkValue("Monitoring"));
  monitoring.Set(on ? 1 : 0);
  monitoring.Write();
  start_->setEnabled(!on);
  stop_->setEnabled(on);
  RefreshStatus();
}
