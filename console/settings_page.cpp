#include "console/settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <climits>

#include "common/catalogue_file.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "console/app_folder_file.h"
#include "console/control_id.h"
#include "console/email_settings_dlg.h"
#include "console/integer_field.h"
#include "console/message_dlg.h"
#include "console/page_heading.h"
#include "console/page_text.h"
#include "console/resources.h"
#include "console/skin_button.h"

namespace {

constexpr int kMaxCost = 2000;

void Grey(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, kPageTextGrey);
  w->setPalette(p);
}

QGroupBox* AddGroup(QWidget* page, const char* title, QRect geometry) {
  auto* group = new QGroupBox(QString::fromLatin1(title), page);
  Grey(group);
  group->setGeometry(geometry);
  return group;
}

}  // namespace

CSettingsPage::CSettingsPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_SETTINGS_PAGE, owner, parent) {
  AddPageHeading(this, "Settings");

  AddGroup(this, "Email Reports", QRect(16, 44, 388, 92));
  emailCheck_ = new QCheckBox(QStringLiteral("Enable Email Notification"), this);
  SetControlId(emailCheck_, res::IDC_EMAIL_SWITCH);
  Grey(emailCheck_);
  emailCheck_->setGeometry(30, 68, 300, 22);
  configure_ = new CSkinButton(this);
  SetControlId(configure_, res::IDC_CONFIGURE_EMAIL);
  configure_->setGeometry(30, 98, 99, 25);
  configure_->LoadImages(res::IDB_CONFIGURE_NORMAL, res::IDB_CONFIGURE_PRESSED, res::IDB_CONFIGURE_NORMAL);
  AddPageText(this, "Recipient and mail account", QRect(140, 101, 250, 20));

  AddGroup(this, "Cost Management", QRect(16, 146, 388, 138));
  AddPageText(this, "Select a printer", QRect(30, 170, 200, 18));
  printers_ = new QComboBox(this);
  SetControlId(printers_, res::IDC_COST_PRINTER);
  printers_->setGeometry(30, 188, 240, 26);
  AddPageText(this, "Type cost", QRect(30, 222, 200, 18));
  costEdit_ = new QLineEdit(this);
  SetControlId(costEdit_, res::IDC_COST);
  costEdit_->setGeometry(30, 240, 70, 26);
  costEdit_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), costEdit_));
  AddPageText(this, "cents per page", QRect(108, 244, 150, 18));
  apply_ = new CSkinButton(this);
  SetControlId(apply_, res::IDC_APPLY_COST);
  apply_->setGeometry(290, 240, 99, 25);
  apply_->LoadImages(res::IDB_APPLY_NORMAL, res::IDB_APPLY_PRESSED, res::IDB_APPLY_NORMAL);

  connect(emailCheck_, &QAbstractButton::clicked, this, &CSettingsPage::ApplyEmailSwitch);
  connect(configure_, &QAbstractButton::clicked, this, &CSettingsPage::ConfigureEmail);
  connect(printers_, &QComboBox::activated, this, [this] { LoadPrinterCost(); });
  connect(apply_, &QAbstractButton::clicked, this, &CSettingsPage::ApplyCost);

  RefreshSettings();
}

CSettingsPage::~CSettingsPage() = default;

bool CSettingsPage::TakeData() {
  emailSwitch_ = emailCheck_->isChecked() ? 1 : 0;
  std::optional<int> cost = TakeInteger(this, costEdit_, 0, kMaxCost);
  if (!cost) return false;
  cost_ = *cost;
  return true;
}

void CSettingsPage::ShowData() {
  emailCheck_->setChecked(emailSwitch_ != 0);
  costEdit_->setText(QString::number(cost_));
}

std::string CSettingsPage::SelectedPrinter() const {
  if (printers_->currentIndex() < 0) return {};
  return printers_->currentData().toByteArray().toStdString();
}

void CSettingsPage::RefreshSettings() {
  emailSwitch_ = CRegDword(common::QuillmarkValue("EmailAlert")).Get() != 0 ? 1 : 0;
  printers_->clear();
  for (const common::CataloguePrinter& printer :
       common::ListPrinters(common::ReadCatalogue(CatalogueFile()))) {
    if (printer.monitored != "1") continue;
    // The name as stored, for finding the entry again byte for byte.
    printers_->addItem(QString::fromLatin1(printer.name), QByteArray::fromStdString(printer.name));
  }
  printers_->setCurrentIndex(-1);
  ShowData();
}

void CSettingsPage::ApplyEmailSwitch() {
  TakeData();  // the switch is taken whatever the cost field holds
  CRegDword alert(common::QuillmarkValue("EmailAlert"));
  alert.Set(emailSwitch_ == 1 ? 1 : 0);
  alert.Write();
}

void CSettingsPage::LoadPrinterCost() {
  TakeData();
  const std::string name = SelectedPrinter();
  for (const common::CataloguePrinter& printer :
       common::ListPrinters(common::ReadCatalogue(CatalogueFile()))) {
    // A cost that is not a number reads as its leading digits (none: 0).
    if (printer.name != name) continue;
    const long cost = common::ParseLeadingInt(printer.cost);
    cost_ = cost > INT_MAX ? INT_MAX : static_cast<int>(cost);
  }
  ShowData();
}

void CSettingsPage::ApplyCost() {
  if (!TakeData()) return;
  if (cost_ < 0 || cost_ > kMaxCost) return;
  const std::string name = SelectedPrinter();
  if (printers_->currentIndex() < 0) return;
  // Written under the catalogue lock; "Reset" = 1 follows the new text.
  common::ChangePrinterCost(CatalogueFile(), name, cost_);
  ShowMessage(this, kCostApplied);
}

void CSettingsPage::ConfigureEmail() {
  CEmailSettingsDlg dialog(window());
  connect(&dialog, &CEmailSettingsDlg::Saved, this, [this] { SetEmailSwitch(1); });
  dialog.exec();
  ShowData();
}
