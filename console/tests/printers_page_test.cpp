#include <QListWidget>
#include <QTreeWidget>

#include "console/printers_page.h"
#include "console/skin_button.h"
#include "page_test_support.h"

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

class PrintersPageTest : public PageFixture {
 protected:
  void Install(std::initializer_list<const char*> names) {
    for (const char* n : names) spooler_->AddPrinter(n);
  }
  CPrintersPage& Page() {
    if (!page_) page_ = std::make_unique<CPrintersPage>(nullptr, nullptr);
    return *page_;
  }
  std::vector<std::string> Installed() {
    std::vector<std::string> names;
    for (int i = 0; i < Page().InstalledList()->count(); ++i)
      names.push_back(Page().InstalledList()->item(i)->text().toLatin1().toStdString());
    return names;
  }
  void Select(const char* name) {
    QListWidget* list = Page().InstalledList();
    auto found = list->findItems(QString::fromLatin1(name), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name;
    list->setCurrentItem(found.front());
  }
  void AddInstalled(const char* name) {
    Select(name);
    ClickButton(Page().AddButton());
  }
  void SelectRow(int row) {
    QTreeWidget* list = Page().ChosenList();
    list->setCurrentItem(list->topLevelItem(row));
    emit list->itemClicked(list->topLevelItem(row), 0);
  }
  std::unique_ptr<CPrintersPage> page_;
};

}  // namespace

TEST_F(PrintersPageTest, ListsInstalledPrintersAndTheMonitoredOnesOfTheCatalogue) {
  Install({"lab Plotter", "Front Desk", "Back Office"});
  WriteCatalogue(
      "<log><printers><name>Front Desk</name><ID>1</ID><cost></cost><monitored>1</monitored>"
      "<name>Gone Printer</name><ID>2</ID><cost>7</cost><monitored>1</monitored>"
      "<name>Back Office</name><ID>3</ID><cost>2</cost><monitored>0</monitored>"
      "</printers><users></users></log>");
  CPrintersPage& page = Page();
  EXPECT_EQ(Installed(), (std::vector<std::string>{"Back Office", "Front Desk", "lab Plotter"}));
  // An empty cost shows as 0; a monitored printer no longer installed stays listed.
  EXPECT_EQ(page.ChosenRows(), (Rows{{"Front Desk", "0"}, {"Gone Printer", "7"}}));
  EXPECT_FALSE(page.AddButton()->isEnabled());
  EXPECT_FALSE(page.RemoveButton()->isEnabled());
  EXPECT_TRUE(page.EnumerationError().empty());

  QTreeWidget* chosen = page.ChosenList();
  EXPECT_EQ(chosen->headerItem()->text(0).toStdString(), "Printer Name");
  EXPECT_EQ(chosen->headerItem()->text(1).toStdString(), "Cost");
  const int w = chosen->width() - 2 * chosen->frameWidth();  // its client width
  EXPECT_EQ(chosen->columnWidth(0), (w - 20) * 2 / 3);
  EXPECT_EQ(chosen->columnWidth(1), (w - 20) / 3);
  EXPECT_GT(chosen->columnWidth(0), 150);
}

TEST_F(PrintersPageTest, NamesMatchWholeAndWithoutRegardToCase) {
  Install({"Office Laser", "Office Laser 2", "OFFICE LASER 2 Color"});
  WriteCatalogue(
      "<log><printers><name>office laser 2</name><ID>1</ID><cost>3</cost><monitored>1</monitored>"
      "</printers></log>");
  CPrintersPage& page = Page();
  // The chosen "office laser 2" is "Office Laser 2": add is off for it.
  Select("Office Laser 2");
  EXPECT_FALSE(page.AddButton()->isEnabled());
  page.AddPrinter();
  EXPECT_EQ(page.ChosenRows().size(), 1u);
  // A prefix of a chosen name, or a longer name, is a printer of its own.
  Select("Office Laser");
  EXPECT_TRUE(page.AddButton()->isEnabled());
  ClickButton(page.AddButton());
  EXPECT_EQ(page.ChosenRows(), (Rows{{"office laser 2", "3"}, {"Office Laser", "0"}}));
  EXPECT_FALSE(page.AddButton()->isEnabled());
  AddInstalled("OFFICE LASER 2 Color");
  EXPECT_EQ(page.ChosenRows().size(), 3u);
}

TEST_F(PrintersPageTest, AtMostThreePrinters) {
  Install({"A", "B", "C", "D"});
  CPrintersPage& page = Page();
  for (const char* n : {"A", "B", "C"}) AddInstalled(n);
  AddInstalled("D");
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{kThreePrinters});
  EXPECT_EQ(page.ChosenRows().size(), 3u);

  // Remove one (double-click), then the fourth goes in.
  QTreeWidget* chosen = page.ChosenList();
  chosen->setCurrentItem(chosen->topLevelItem(1));
  emit chosen->itemDoubleClicked(chosen->topLevelItem(1), 0);
  Select("D");
  emit page.InstalledList()->itemDoubleClicked(page.InstalledList()->currentItem());
  EXPECT_EQ(page.ChosenRows(), (Rows{{"A", "0"}, {"C", "0"}, {"D", "0"}}));
  EXPECT_EQ(boxes_.Texts().size(), 1u);
}

TEST_F(PrintersPageTest, ClickingAChosenRowSwitchesToRemove) {
  Install({"A", "B"});
  CPrintersPage& page = Page();
  AddInstalled("A");
  Select("B");
  EXPECT_TRUE(page.AddButton()->isEnabled());
  SelectRow(0);
  EXPECT_TRUE(page.InstalledList()->selectedItems().isEmpty());
  EXPECT_FALSE(page.AddButton()->isEnabled());
  EXPECT_TRUE(page.RemoveButton()->isEnabled());
  ClickButton(page.RemoveButton());
  EXPECT_TRUE(page.ChosenRows().empty());
  page.RemovePrinter();  // nothing selected: nothing happens
}

TEST_F(PrintersPageTest, ApplyWritesTheCatalogueAndAsksForAReload) {
  Install({"Front Desk", "Back Office", "Lab Plotter"});
  // No catalogue at all: apply makes the printer list.
  CPrintersPage& page = Page();
  AddInstalled("Front Desk");
  AddInstalled("Back Office");
  ClickButton(page.ApplyButton());
  EXPECT_EQ(CatalogueText(),
            "<printers><name>Back Office</name><ID>2</ID><cost>0</cost><monitored>1</monitored>"
            "<name>Front Desk</name><ID>1</ID><cost>0</cost><monitored>1</monitored></printers>");
  EXPECT_EQ(StoredDword(registry_.Registry(), "Reset"), 1u);
  EXPECT_EQ(page.ChosenRows(), (Rows{{"Back Office", "0"}, {"Front Desk", "0"}}));
}

TEST_F(PrintersPageTest, ARemovedPrinterKeepsItsEntryAndComesBackWithIt) {
  Install({"Front Desk", "Back Office"});
  WriteCatalogue(
      "<log><printers><name>Front Desk</name><ID>4</ID><cost>5</cost><monitored>1</monitored>"
      "<name>Back Office</name><ID>9</ID><cost>2</cost><monitored>1</monitored>"
      "</printers><users><username>anna</username></users></log>");
  CPrintersPage& page = Page();
  SelectRow(0);
  ClickButton(page.RemoveButton());
  // Reset brings the row back from the catalogue.
  ClickButton(page.ResetButton());
  EXPECT_EQ(page.ChosenRows(), (Rows{{"Front Desk", "5"}, {"Back Office", "2"}}));

  SelectRow(0);
  ClickButton(page.RemoveButton());
  SetDword("Reset", 0);
  page.ApplyPrinters();
  const std::string removed =
      "<log><printers><name>Front Desk</name><ID>4</ID><cost>5</cost><monitored>0</monitored>"
      "<name>Back Office</name><ID>9</ID><cost>2</cost><monitored>1</monitored>"
      "</printers><users><username>anna</username></users></log>";
  EXPECT_EQ(CatalogueText(), removed);
  EXPECT_EQ(StoredDword(registry_.Registry(), "Reset"), 1u);

  // Added again: its identifier and cost come back; nothing new is made.
  AddInstalled("Front Desk");
  EXPECT_EQ(page.ChosenRows().back(), (std::pair<std::string, std::string>{"Front Desk", "0"}));
  page.ApplyPrinters();
  EXPECT_EQ(CatalogueText(),
            "<log><printers><name>Front Desk</name><ID>4</ID><cost>5</cost><monitored>1</monitored>"
            "<name>Back Office</name><ID>9</ID><cost>2</cost><monitored>1</monitored>"
            "</printers><users><username>anna</username></users></log>");
  EXPECT_EQ(page.ChosenRows(), (Rows{{"Front Desk", "5"}, {"Back Office", "2"}}));
  // Written under the shared lock, never in place.
  EXPECT_TRUE(std::filesystem::exists(appDir_ / "settings.xml.lock"));
}

TEST_F(PrintersPageTest, ASpoolerThatCannotBeAskedLeavesTheInstalledListEmpty) {
  Install({"Front Desk"});
  WriteCatalogue(
      "<log><printers><name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>"
      "</printers></log>");
  spooler_->FailNext(platform::sim::SimCall::kEnumPrinters, platform::kErrorServerUnavailable);
  CPrintersPage& page = Page();
  EXPECT_TRUE(Installed().empty());
  EXPECT_NE(page.EnumerationError().find("Couldn't read the information about printers"), std::string::npos)
      << page.EnumerationError();
  EXPECT_NE(page.EnumerationError().find("1722"), std::string::npos);
  EXPECT_EQ(page.ChosenRows(), (Rows{{"Front Desk", "5"}}));
  // The page goes on working: the next refresh finds the spooler.
  ClickButton(page.ResetButton());
  EXPECT_EQ(Installed(), std::vector<std::string>{"Front Desk"});
  EXPECT_TRUE(page.EnumerationError().empty());
}
