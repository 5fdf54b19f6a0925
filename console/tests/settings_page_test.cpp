#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "console/email_settings_dlg.h"
#include "console/resources.h"
#include "console/settings_page.h"
#include "console/skin_button.h"
#include "page_test_support.h"

namespace {

const std::string kCatalogue =
    "<log><printers><name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>"
    "<name>Lab Plotter</name><ID>2</ID><cost>20</cost><monitored>0</monitored>"
    "<name>Back Office</name><ID>3</ID><cost>12abc</cost><monitored>1</monitored>"
    "<name>Hall</name><ID>4</ID><cost>abc</cost><monitored>1</monitored>"
    "</printers><users><username>anna</username></users></log>";

class SettingsPageTest : public PageFixture {
 protected:
  void SetUp() override {
    PageFixture::SetUp();
    WriteCatalogue(kCatalogue);
  }
  CSettingsPage& Page() {
    if (!page_) page_ = std::make_unique<CSettingsPage>(nullptr, nullptr);
    return *page_;
  }
  void Choose(const char* name) {
    QComboBox* list = Page().PrinterList();
    int i = list->findText(QString::fromLatin1(name));
    ASSERT_GE(i, 0) << name;
    list->setCurrentIndex(i);
    emit list->activated(i);
  }
  std::string CostShown() { return Page().CostEdit()->text().toStdString(); }
  std::unique_ptr<CSettingsPage> page_;
};

}  // namespace

TEST_F(SettingsPageTest, TheEmailSwitchIsWrittenAtOnce) {
  CountingRegistry counting(registry_.Registry());
  CSettingsPage& page = Page();
  EXPECT_FALSE(page.EmailCheck()->isChecked());
  page.EmailCheck()->click();
  EXPECT_EQ(StoredDword(registry_.Registry(), "EmailAlert"), 1u);
  page.EmailCheck()->click();
  EXPECT_EQ(StoredDword(registry_.Registry(), "EmailAlert"), 0u);
  // Written even when the value does not change.
  const int before = counting.Writes("EmailAlert");
  page.EmailCheck()->setChecked(false);
  page.ApplyEmailSwitch();
  EXPECT_EQ(counting.Writes("EmailAlert"), before + 1);
  EXPECT_EQ(StoredDword(registry_.Registry(), "EmailAlert"), 0u);

  SetDword("EmailAlert", 7);  // any non-zero value is on
  page.Refresh();
  EXPECT_TRUE(page.EmailCheck()->isChecked());
  EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(SettingsPageTest, OffersTheMonitoredPrintersWithTheirCost) {
  CSettingsPage& page = Page();
  QComboBox* list = page.PrinterList();
  ASSERT_EQ(list->count(), 3);  // the unmonitored plotter is not offered
  EXPECT_EQ(list->itemText(0).toStdString(), "Front Desk");
  EXPECT_EQ(list->itemText(1).toStdString(), "Back Office");
  EXPECT_EQ(list->itemText(2).toStdString(), "Hall");
  EXPECT_EQ(list->currentIndex(), -1);
  EXPECT_EQ(CostShown(), "0");

  Choose("Front Desk");
  EXPECT_EQ(CostShown(), "5");
  // Costs that are not numbers read as their leading digits, or 0.
  Choose("Back Office");
  EXPECT_EQ(CostShown(), "12");
  Choose("Hall");
  EXPECT_EQ(CostShown(), "0");

  // A refresh keeps the last cost and drops the choice.
  page.Refresh();
  EXPECT_EQ(list->currentIndex(), -1);
  EXPECT_EQ(CostShown(), "0");
  EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(SettingsPageTest, ApplyStoresTheCostOfThatPrinterOnly) {
  CSettingsPage& page = Page();
  Choose("Front Desk");
  page.CostEdit()->setText("12");
  ClickButton(page.ApplyButton());
  std::string expected = kCatalogue;
  expected.replace(expected.find("<cost>5</cost>"), 14, "<cost>12</cost>");
  EXPECT_EQ(CatalogueText(), expected);
  EXPECT_EQ(StoredDword(registry_.Registry(), "Reset"), 1u);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{kCostApplied});

  // The upper end of the range is accepted.
  page.CostEdit()->setText("2000");
  page.ApplyCost();
  EXPECT_NE(CatalogueText().find("<name>Front Desk</name><ID>1</ID><cost>2000</cost>"), std::string::npos);
}

TEST_F(SettingsPageTest, RefusedCostsWriteNothing) {
  CountingRegistry counting(registry_.Registry());
  CSettingsPage& page = Page();
  Choose("Front Desk");
  struct Case {
    const char* typed;
    const char* message;
  };
  const Case cases[] = {
      {"2001", "[standard] Please enter an integer between 0 and 2000."},
      {"", "[standard] Please enter an integer."},
      {"abc", "[standard] Please enter an integer."},          // pasted past the digit filter
      {"99999999999", "[standard] Please enter an integer."},  // beyond an integer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    boxes_.Clear();
    page.CostEdit()->setText(c.typed);
    ClickButton(page.ApplyButton());
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{c.message});
  }
  // No printer chosen: nothing, not even a message.
  page.Refresh();
  boxes_.Clear();
  page.CostEdit()->setText("9");
  page.ApplyCost();
  EXPECT_TRUE(boxes_.Texts().empty());

  EXPECT_EQ(CatalogueText(), kCatalogue);
  EXPECT_EQ(counting.Writes("Reset"), 0);
  EXPECT_FALSE(std::filesystem::exists(appDir_ / "settings.xml.lock"));
}

TEST_F(SettingsPageTest, SavingTheEmailSettingsChecksTheSwitch) {
  CSettingsPage& page = Page();
  ASSERT_FALSE(page.EmailCheck()->isChecked());
  bool opened = false;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<CEmailSettingsDlg*>(modal);
    ASSERT_NE(dialog, nullptr);
    opened = true;
    dialog->Field(res::IDC_RECIPIENT)->setText("boss@example.org");
    ClickButton(dialog->SaveButton());
  });
  ClickButton(page.ConfigureButton());
  EXPECT_TRUE(opened);
  EXPECT_TRUE(page.EmailCheck()->isChecked());
  EXPECT_EQ(StoredDword(registry_.Registry(), "EmailAlert"), 1u);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Changes have been saved!"});
}
