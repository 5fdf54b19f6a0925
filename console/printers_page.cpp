#include "console/printers_page.h"

#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QTreeWidget>
#include <algorithm>

#include "common/catalogue_file.h"
#include "common/eprinter.h"
#include "common/name_filter.h"
#include "console/app_folder_file.h"
#include "console/control_id.h"
#include "console/message_dlg.h"
#include "console/page_heading.h"
#include "console/page_text.h"
#include "console/printer_list.h"
#include "console/resources.h"
#include "console/skin_button.h"
#include "platform/log.h"

namespace {

constexpr int kMaxChosen = 3;

QString Widget(const std::string& latin1) { return QString::fromLatin1(latin1); }
std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

// Printer names as the catalogue keeps them (markup characters removed),
// compared whole and without regard to case, as print queue names are.
bool SamePrinter(std::string a, std::string b) {
  common::StripXmlSpecials(a);
  common::StripXmlSpecials(b);
  return Widget(a).compare(Widget(b), Qt::CaseInsensitive) == 0;
}

CSkinButton* AddButtonAt(QWidget* page, int id, QRect geometry, int normal, int pressed) {
  auto* button = new CSkinButton(page);
  SetControlId(button, id);
  button->setGeometry(geometry);
  button->LoadImages(normal, pressed, normal);
  return button;
}

}  // namespace

CPrintersPage::CPrintersPage(CPagePanel* owner, QWidget* parent)
    : CConsolePage(res::IDD_PRINTERS_PAGE, owner, parent) {
  AddPageHeading(this, "Printers");

  AddPageText(this, "All Printers:", QRect(24, 44, 260, 18));
  installed_ = new QListWidget(this);
  SetControlId(installed_, res::IDC_INSTALLED_PRINTERS);
  installed_->setGeometry(24, 62, 260, 80);
  installed_->setSelectionMode(QAbstractItemView::SingleSelection);

  error_ = AddPageText(this, "", QRect(24, 143, 380, 16), QColor(176, 32, 32));
  error_->setTextFormat(Qt::PlainText);
  QFont small = error_->font();
  small.setPointSizeF(small.pointSizeF() - 1);
  error_->setFont(small);
  error_->hide();

  AddPageText(this, "Selected Printers:", QRect(24, 160, 260, 18));
  chosen_ = new QTreeWidget(this);
  SetControlId(chosen_, res::IDC_CHOSEN_PRINTERS);
  chosen_->setGeometry(24, 178, 260, 92);
  chosen_->setRootIsDecorated(false);
  chosen_->setItemsExpandable(false);
  chosen_->setUniformRowHeights(true);
  chosen_->setSelectionMode(QAbstractItemView::SingleSelection);
  chosen_->setSelectionBehavior(QAbstractItemView::SelectRows);  // full-row selection
  chosen_->header()->setSectionsMovable(true);                   // header drag and drop
  chosen_->header()->setStretchLastSection(false);
  chosen_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  chosen_->setHeaderLabels({QStringLiteral("Printer Name"), QStringLiteral("Cost")});
  // The list's client width now: its layout is not done before it is shown.
  const int w = chosen_->contentsRect().width();
  chosen_->setColumnWidth(0, (w - 20) * 2 / 3);
  chosen_->setColumnWidth(1, (w - 20) / 3);

  add_ = AddButtonAt(this, res::IDC_ADD_PRINTER, QRect(300, 62, 99, 25), res::IDB_ADD_NORMAL,
                     res::IDB_ADD_PRESSED);
  remove_ = AddButtonAt(this, res::IDC_REMOVE_PRINTER, QRect(300, 178, 99, 25), res::IDB_REMOVE_NORMAL,
                        res::IDB_REMOVE_PRESSED);
  apply_ = AddButtonAt(this, res::IDC_APPLY_PRINTERS, QRect(300, 212, 99, 25), res::IDB_APPLY_NORMAL,
                       res::IDB_APPLY_PRESSED);
  reset_ = AddButtonAt(this, res::IDC_RESET_PRINTERS, QRect(300, 245, 99, 25), res::IDB_RESET_NORMAL,
                       res::IDB_RESET_PRESSED);
  apply_->setToolTip(QStringLiteral("Monitor the selected printers"));
  reset_->setToolTip(QStringLiteral("Discard the changes"));

  connect(add_, &QAbstractButton::clicked, this, &CPrintersPage::AddPrinter);
  connect(installed_, &QListWidget::itemDoubleClicked, this, [this] { AddPrinter(); });
  connect(remove_, &QAbstractButton::clicked, this, &CPrintersPage::RemovePrinter);
  connect(chosen_, &QTreeWidget::itemDoubleClicked, this, [this] { RemovePrinter(); });
  connect(installed_, &QListWidget::itemSelectionChanged, this, &CPrintersPage::UpdateAddRemove);
  connect(chosen_, &QTreeWidget::itemClicked, this, [this] { OnChosenClicked(); });
  connect(apply_, &QAbstractButton::clicked, this, &CPrintersPage::ApplyPrinters);
  connect(reset_, &QAbstractButton::clicked, this, &CPrintersPage::RefreshPrinters);

  RefreshPrinters();
}

CPrintersPage::~CPrintersPage() = default;

void CPrintersPage::RefreshPrinters() {
  installed_->clear();
  chosen_->clear();
  error_->clear();
  error_->hide();

  try {
    CPrinterList printers;
    std::vector<std::string> names;
    for (int i = 0; i < printers.Count(); ++i) names.push_back(printers.Name(i));
    // Sorted as a list box sorts: without regard to case.
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return Widget(a).compare(Widget(b), Qt::CaseInsensitive) < 0;
    });
    for (const std::string& name : names) installed_->addItem(Widget(name));
  } catch (const common::EPrinter& error) {
    // The page keeps working with the catalogue's printers alone.
    platform::LogWarning("installed printers not listed", error.Why());
    installed_->clear();
    error_->setText(Widget(error.Message()) + QStringLiteral(" (error %1).").arg(error.Code()));
    error_->show();
  }

  for (const common::CataloguePrinter& printer :
       common::ListPrinters(common::ReadCatalogue(CatalogueFile()))) {
    if (printer.monitored == "1") AppendRow(printer.name, printer.cost.empty() ? "0" : printer.cost);
  }
  add_->setEnabled(false);
  remove_->setEnabled(false);
}

std::string CPrintersPage::EnumerationError() const { return Latin1(error_->text()); }

std::string CPrintersPage::SelectedInstalled() const {
  const QList<QListWidgetItem*> selected = installed_->selectedItems();
  if (selected.isEmpty()) return {};
  return Latin1(selected.front()->text());
}

bool CPrintersPage::IsChosen(const std::string& name) const {
  for (int i = 0; i < chosen_->topLevelItemCount(); ++i) {
    if (SamePrinter(Latin1(chosen_->topLevelItem(i)->text(0)), name)) return true;
  }
  return false;
}

void CPrintersPage::AppendRow(const std::string& name, const std::string& cost) {
  auto* row = new QTreeWidgetItem(chosen_, {Widget(name), Widget(cost)});
  row->setTextAlignment(1, Qt::AlignLeft | Qt::AlignVCenter);
}

void CPrintersPage::UpdateAddRemove() {
  remove_->setEnabled(false);
  const std::string name = SelectedInstalled();
  add_->setEnabled(!name.empty() && !IsChosen(name));
}

void CPrintersPage::AddPrinter() {
  const std::string name = SelectedInstalled();
  if (!name.empty() && !IsChosen(name)) {
    if (chosen_->topLevelItemCount() >= kMaxChosen) {
      ShowMessage(this, kThreePrinters);
    } else {
      AppendRow(name, "0");
    }
  }
  UpdateAddRemove();
}

void CPrintersPage::RemovePrinter() {
  const QList<QTreeWidgetItem*> selected = chosen_->selectedItems();
  if (selected.isEmpty()) return;
  delete selected.front();
}

void CPrintersPage::OnChosenClicked() {
  installed_->clearSelection();
  add_->setEnabled(false);
  remove_->setEnabled(true);
}

std::vector<std::pair<std::string, std::string>> CPrintersPage::ChosenRows() const {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int i = 0; i < chosen_->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = chosen_->topLevelItem(i);
    rows.emplace_back(Latin1(row->text(0)), Latin1(row->text(1)));
  }
  return rows;
}

void CPrintersPage::ApplyPrinters() {
  std::vector<common::ChosenPrinter> chosen;
  for (auto& [name, cost] : ChosenRows()) {
    chosen.push_back({name, cost.empty() ? std::string("0") : cost});
  }
  // Written under the catalogue lock; "Reset" = 1 follows the new text.
  common::ApplyMonitoredPrinters(CatalogueFile(), chosen);
  RefreshPrinters();
}
