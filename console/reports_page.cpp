#include "console/reports_page.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <optional>

#include "common/catalogue_text.h"
#include "common/report_periods.h"
#include "common/text_file.h"
#include "console/console_services.h"
#include "console/control_id.h"
#include "console/page_heading.h"
#include "console/report_operations.h"
#include "console/resources.h"
#include "console/skin_button.h"

namespace {

const QColor kTextColour(80, 80, 80);

QLabel* AddLabel(QWidget* page, const char* text, QRect where, bool section = false) {
  auto* label = new QLabel(QString::fromLatin1(text), page);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, kTextColour);
  label->setPalette(p);
  label->setAutoFillBackground(false);
  label->setAttribute(Qt::WA_TranslucentBackground);
  if (section) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  label->setGeometry(where);
  return label;
}

QComboBox* AddList(QWidget* page, int id, QRect where) {
  auto* list = new QComboBox(page);
  SetControlId(list, id);
  list->setGeometry(where);
  list->setInsertPolicy(QComboBox::NoInsert);
  list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  return list;
}

CSkinButton* AddShowButton(QWidget* page, int id, QPoint where) {
  auto* button = new CSkinButton(page);
  SetControlId(button, id);
  button->setGeometry(QRect(where, QSize(99, 25)));
  button->LoadImages(res::IDB_SHOW_NORMAL, res::IDB_SHOW_PRESSED, res::IDB_SHOW_NORMAL);
  return button;
}

void AddRule(QWidget* page, int y) {
  auto* rule = new QFrame(page);
  rule->setGeometry(16, y, 388, 1);
  rule->setStyleSheet(QStringLiteral("background: #d5dee8;"));
}

// The selected text of a list (Latin-1), or nothing when none is selected.
std::optional<std::string> Selected(const QComboBox* list) {
  if (list->currentIndex() < 0) return std::nullopt;
  return list->currentText().toLatin1().toStdString();
}

}  // namespace

CReportsPage::CReportsPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_REPORTS_PAGE, owner, parent) {
  AddPageHeading(this, "Choose a report");

  AddLabel(this, "Select period:", QRect(16, 52, 110, 24));
  periods_ = AddList(this, res::IDC_REPORT_PERIOD, QRect(130, 52, 180, 24));
  AddRule(this, 90);

  // Two columns: printer reports on the left, user reports on the right.
  AddLabel(this, "Printer Reports", QRect(16, 100, 184, 20), true);
  AddLabel(this, "Select printer:", QRect(16, 124, 184, 18));
  printers_ = AddList(this, res::IDC_REPORT_PRINTER, QRect(16, 144, 180, 24));
  AddLabel(this, "Press for report:", QRect(16, 178, 184, 18));
  showPrinter_ = AddShowButton(this, res::IDC_SHOW_PRINTER_REPORT, QPoint(16, 198));

  AddLabel(this, "User Reports", QRect(220, 100, 184, 20), true);
  AddLabel(this, "Select user:", QRect(220, 124, 184, 18));
  users_ = AddList(this, res::IDC_REPORT_USER, QRect(220, 144, 180, 24));
  AddLabel(this, "Press for report:", QRect(220, 178, 184, 18));
  showUser_ = AddShowButton(this, res::IDC_SHOW_USER_REPORT, QPoint(220, 198));

  AddRule(this, 238);
  AddLabel(this, "Aggregated User and Printer Reports", QRect(16, 252, 260, 25), true);
  showAggregated_ = AddShowButton(this, res::IDC_SHOW_AGGREGATED_REPORT, QPoint(301, 252));

  connect(showPrinter_, &QAbstractButton::clicked, this, &CReportsPage::ShowPrinterReport);
  connect(showUser_, &QAbstractButton::clicked, this, &CReportsPage::ShowUserReport);
  connect(showAggregated_, &QAbstractButton::clicked, this, &CReportsPage::ShowAggregatedReport);

  FillReportLists();
}

CReportsPage::~CReportsPage() = default;

std::string CReportsPage::AppFolder() const {
  CConsoleServices* app = CConsoleServices::Current();
  return app != nullptr ? app->AppPathText() : std::string();
}

void CReportsPage::FillReportLists() {
  periods_->clear();
  for (std::string_view label : common::kReportPeriodLabels) {
    periods_->addItem(QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size())));
  }
  periods_->setCurrentIndex(0);

  const std::string catalogue = ReadTextFile(AppFolder() + common::NativePath("\\settings.xml"));

  printers_->clear();
  for (const common::MonitoredPrinter& printer : common::ScanMonitoredPrinters(catalogue)) {
    printers_->addItem(QString::fromLatin1(printer.name));
  }
  printers_->setCurrentIndex(-1);

  users_->clear();
  for (const std::string& user : common::ListUsers(catalogue)) {
    users_->addItem(QString::fromLatin1(user));
  }
  users_->setCurrentIndex(-1);
}

void CReportsPage::ShowPrinterReport() {
  std::optional<std::string> period = Selected(periods_);
  std::optional<std::string> printer = Selected(printers_);
  if (!period || !printer) return;
  std::optional<common::ReportPeriod> p = common::ReportPeriodFromLabel(*period);
  if (!p) return;
  ShowReport(this, AppFolder(), {*p, common::ReportScope::kPrinter, *printer, false});
}

void CReportsPage::ShowUserReport() {
  std::optional<std::string> period = Selected(periods_);
  std::optional<std::string> user = Selected(users_);
  if (!period || !user) return;
  std::optional<common::ReportPeriod> p = common::ReportPeriodFromLabel(*period);
  if (!p) return;
  ShowReport(this, AppFolder(), {*p, common::ReportScope::kUser, *user, false});
}

void CReportsPage::ShowAggregatedReport() {
  std::optional<std::string> period = Selected(periods_);
  if (!period) return;
  ::ShowAggregatedReport(this, AppFolder(), *period);
}
