#include "common/catalogue_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using common::AddUserIfMissing;
using common::ApplyMonitoredSet;
using common::ChosenPrinter;
using common::FindPrinterId;
using common::ListPrinters;
using common::ListUsers;
using common::ParseLeadingInt;
using common::ScanMonitoredPrinters;
using common::SetPrinterCost;

std::string Entry(const std::string& name, const std::string& id, const std::string& cost,
                  const std::string& monitored) {
  return "<name>" + name + "</name><ID>" + id + "</ID><cost>" + cost + "</cost><monitored>" + monitored +
         "</monitored>";
}

std::string Catalogue(const std::string& printers, const std::string& users = "") {
  return "<log><printers>" + printers + "</printers><users>" + users + "</users></log>";
}

// ---------------------------------------------------------------------------
// Building a catalogue from nothing

TEST(CatalogueBuild, FirstApplyOnEmptyTextStartsWithPrintersSection) {
  std::string text;
  ApplyMonitoredSet(text, {{"Laser", "5"}});
  EXPECT_EQ(text, "<printers>" + Entry("Laser", "1", "5", "1") + "</printers>");
}

TEST(CatalogueBuild, UserAfterFirstApplyGoesRightAfterPrinters) {
  std::string text;
  ApplyMonitoredSet(text, {{"Laser", "5"}});
  ASSERT_TRUE(AddUserIfMissing(text, "alice"));
  EXPECT_EQ(text, "<printers>" + Entry("Laser", "1", "5", "1") +
                      "</printers><users><username>alice</username></users>");
  EXPECT_EQ(ListUsers(text), std::vector<std::string>{"alice"});
  ASSERT_EQ(ScanMonitoredPrinters(text).size(), 1u);
}

TEST(CatalogueBuild, ApplyInsertsPrintersAfterLog) {
  std::string text = "<?xml version=\"1.0\"?><log></log>";
  ApplyMonitoredSet(text, {});
  EXPECT_EQ(text, "<?xml version=\"1.0\"?><log><printers></printers></log>");
}

TEST(CatalogueBuild, ApplyWithoutLogAppendsWholeSkeleton) {
  std::string text = "<?xml version=\"1.0\"?>";
  ApplyMonitoredSet(text, {});
  EXPECT_EQ(text, "<?xml version=\"1.0\"?><log><printers></printers></log>");
}

TEST(CatalogueBuild, UserWithoutPrintersSectionGoesAfterLog) {
  std::string text = "<log></log>";
  ASSERT_TRUE(AddUserIfMissing(text, "bob"));
  EXPECT_EQ(text, "<log><printers></printers><users><username>bob</username></users></log>");
}

TEST(CatalogueBuild, UserWithoutLogKeepsDeclaration) {
  std::string text = "<?xml version=\"1.0\"?>";
  ASSERT_TRUE(AddUserIfMissing(text, "bob"));
  EXPECT_EQ(text,
            "<?xml version=\"1.0\"?><log><printers></printers><users>"
            "<username>bob</username></users></log>");
}

// ---------------------------------------------------------------------------
// Users

TEST(CatalogueUsers, NewUserGoesFirstInUsers) {
  std::string text = Catalogue("", "<username>alice</username>");
  ASSERT_TRUE(AddUserIfMissing(text, "bob"));
  EXPECT_EQ(ListUsers(text), (std::vector<std::string>{"bob", "alice"}));
}

TEST(CatalogueUsers, ExistingUserIsNotAddedTwice) {
  std::string text = Catalogue("", "<username>alice</username>");
  const std::string before = text;
  EXPECT_FALSE(AddUserIfMissing(text, "alice"));
  EXPECT_EQ(text, before);
}

TEST(CatalogueUsers, UserOccurringInsidePrinterNameIsNotAdded) {
  // The check is a plain search over the whole text, so a user whose name
  // appears in a printer name counts as present.
  std::string text = Catalogue(Entry("HP-carol-desk", "1", "2", "1"));
  const std::string before = text;
  EXPECT_FALSE(AddUserIfMissing(text, "carol"));
  EXPECT_EQ(text, before);
  EXPECT_TRUE(ListUsers(text).empty());
}

TEST(CatalogueUsers, EmptyUserChangesNothing) {
  std::string text = Catalogue("");
  const std::string before = text;
  EXPECT_FALSE(AddUserIfMissing(text, ""));
  EXPECT_EQ(text, before);
  std::string empty;
  EXPECT_FALSE(AddUserIfMissing(empty, ""));
  EXPECT_TRUE(empty.empty());
}

TEST(CatalogueUsers, ListUsersStopsAtUnterminatedEntry) {
  EXPECT_EQ(ListUsers("<users><username>a</username><username>b</users>"), std::vector<std::string>{"a"});
  EXPECT_TRUE(ListUsers("").empty());
}

// ---------------------------------------------------------------------------
// Choosing the monitored set

TEST(CatalogueApply, NextIdIsOneAboveLargest) {
  std::string text =
      Catalogue(Entry("A", "1", "1", "0") + Entry("B", "5", "1", "0") + Entry("C", "2", "1", "0"));
  ApplyMonitoredSet(text, {{"New", "3"}});
  EXPECT_EQ(FindPrinterId(text, "New"), "6");
  // Inserted first in the section.
  EXPECT_EQ(text.find("<log><printers>" + Entry("New", "6", "3", "1")), 0u);
}

TEST(CatalogueApply, SeveralNewPrintersGetConsecutiveIds) {
  std::string text = Catalogue("");
  ApplyMonitoredSet(text, {{"A", "1"}, {"B", "2"}});
  EXPECT_EQ(FindPrinterId(text, "A"), "1");
  EXPECT_EQ(FindPrinterId(text, "B"), "2");
}

TEST(CatalogueApply, ResetsFlagsOfUnchosenPrinters) {
  std::string text =
      Catalogue(Entry("A", "1", "1", "1") + Entry("B", "2", "1", "1") + Entry("C", "3", "1", "junk"));
  ApplyMonitoredSet(text, {{"B", ""}});
  const auto printers = ListPrinters(text);
  ASSERT_EQ(printers.size(), 3u);
  EXPECT_EQ(printers[0].monitored, "0");
  EXPECT_EQ(printers[1].monitored, "1");
  EXPECT_EQ(printers[2].monitored, "0");
}

TEST(CatalogueApply, NeverChangesExistingCostOrId) {
  std::string text = Catalogue(Entry("A", "7", "12", "0"));
  ApplyMonitoredSet(text, {{"A", "99"}});
  EXPECT_EQ(text, Catalogue(Entry("A", "7", "12", "1")));
}

TEST(CatalogueApply, EmptyCostBecomesZero) {
  std::string text = Catalogue("");
  ApplyMonitoredSet(text, {{"A", ""}});
  ASSERT_EQ(ListPrinters(text).size(), 1u);
  EXPECT_EQ(ListPrinters(text)[0].cost, "0");
}

TEST(CatalogueApply, NamesWithSpecialCharactersAreStoredStripped) {
  std::string text = Catalogue("");
  ApplyMonitoredSet(text, {{"<Bob's \"HP\" & Co>", "4"}});
  EXPECT_EQ(text.find('&'), std::string::npos);
  EXPECT_EQ(text.find('\''), std::string::npos);
  EXPECT_EQ(text.find('"'), std::string::npos);
  const auto printers = ListPrinters(text);
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, "Bobs HP  Co");
  // Choosing the same printer again matches the stripped entry.
  ApplyMonitoredSet(text, {{"<Bob's \"HP\" & Co>", "4"}});
  EXPECT_EQ(ListPrinters(text).size(), 1u);
  EXPECT_EQ(ScanMonitoredPrinters(text).size(), 1u);
}

TEST(CatalogueApply, MatchIsExactAndCaseSensitive) {
  std::string text = Catalogue(Entry("Laser", "1", "1", "0"));
  ApplyMonitoredSet(text, {{"laser", "2"}});
  const auto printers = ListPrinters(text);
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(FindPrinterId(text, "Laser"), "1");
  EXPECT_EQ(FindPrinterId(text, "laser"), "2");
  EXPECT_EQ(ScanMonitoredPrinters(text).size(), 1u);
  EXPECT_EQ(ScanMonitoredPrinters(text)[0].name, "laser");
}

TEST(CatalogueApply, EmptyChoiceUnmonitorsEverything) {
  std::string text = Catalogue(Entry("A", "1", "1", "1") + Entry("B", "2", "1", "1"));
  ApplyMonitoredSet(text, {});
  EXPECT_TRUE(ScanMonitoredPrinters(text).empty());
  EXPECT_EQ(ListPrinters(text).size(), 2u);
}

// ---------------------------------------------------------------------------
// Costs

TEST(CatalogueCost, ChangeKeepsIdAndFlag) {
  std::string text = Catalogue(Entry("A", "3", "1", "1") + Entry("B", "4", "2", "0"));
  SetPrinterCost(text, "A", 250);
  EXPECT_EQ(text, Catalogue(Entry("A", "3", "250", "1") + Entry("B", "4", "2", "0")));
  SetPrinterCost(text, "B", 0);
  EXPECT_EQ(text, Catalogue(Entry("A", "3", "250", "1") + Entry("B", "4", "0", "0")));
}

TEST(CatalogueCost, UnknownOrPrefixNameChangesNothing) {
  const std::string before = Catalogue(Entry("Laser2", "1", "5", "1"));
  std::string text = before;
  SetPrinterCost(text, "Laser", 9);
  SetPrinterCost(text, "laser2", 9);
  EXPECT_EQ(text, before);
}

TEST(CatalogueCost, EveryDuplicateEntryIsUpdated) {
  std::string text = Catalogue(Entry("A", "1", "1", "1") + Entry("A", "2", "1", "0"));
  SetPrinterCost(text, "A", 7);
  const auto printers = ListPrinters(text);
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].cost, "7");
  EXPECT_EQ(printers[1].cost, "7");
}

// ---------------------------------------------------------------------------
// Scanning and lookups

TEST(CatalogueScan, OnlyExactOneCounts) {
  std::string text =
      Catalogue(Entry("A", "1", "1", " 1") + Entry("B", "2", "2", "0") + Entry("C", "3", "3", "") +
                Entry("D", "4", "4", "1") + Entry("E", "5", "5", "11") + Entry("F", "6", "6", "1 "));
  const auto found = ScanMonitoredPrinters(text);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "D");
  EXPECT_EQ(found[0].cost, "4");
}

TEST(CatalogueScan, CapacityIsRespected) {
  std::string printers;
  for (int i = 0; i < 10; ++i) printers += Entry("P" + std::to_string(i), std::to_string(i + 1), "1", "1");
  const std::string text = Catalogue(printers);
  const auto three = ScanMonitoredPrinters(text, 3);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[0].name, "P0");
  EXPECT_EQ(three[2].name, "P2");
  EXPECT_TRUE(ScanMonitoredPrinters(text, 0).empty());
  EXPECT_EQ(ScanMonitoredPrinters(text).size(), 10u);
}

TEST(CatalogueScan, MalformedEntriesTerminate) {
  const std::vector<std::string> damaged = {
      "<name>",
      "<name><name><name>",
      "<name>A",
      "<name>A</name>",
      "<name>A</name><cost>1",
      "<name>A</name><cost>1</cost>",
      "<name>A</name><cost>1</cost><monitored>1",
      "</cost><cost><name>A</name></monitored><monitored>",
      "<name>A</name></cost><cost>1</monitored><monitored>1",
  };
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(ScanMonitoredPrinters(text).empty());
    (void)FindPrinterId(text, "A");
    (void)ListPrinters(text);
    std::string copy = text;
    SetPrinterCost(copy, "A", 3);
    copy = text;
    ApplyMonitoredSet(copy, {{"A", "1"}});
  }
}

TEST(CatalogueScan, DamagedEntryDoesNotHideLaterGoodOne) {
  const std::string text = Catalogue("<name>Broken</name><ID>1</ID>" + Entry("Good", "2", "3", "1"));
  const auto found = ScanMonitoredPrinters(text);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.back().cost, "3");
}

TEST(CatalogueLookup, FindPrinterIdLastMatchWins) {
  const std::string text =
      Catalogue(Entry("A", "1", "1", "1") + Entry("B", "2", "1", "1") + Entry("A", "9", "1", "0"));
  EXPECT_EQ(FindPrinterId(text, "A"), "9");
  EXPECT_EQ(FindPrinterId(text, "B"), "2");
  EXPECT_EQ(FindPrinterId(text, "a"), "");
  EXPECT_EQ(FindPrinterId(text, "C"), "");
  EXPECT_EQ(FindPrinterId("", "A"), "");
}

TEST(CatalogueLookup, ListPrintersReadsAllFields) {
  const std::string text = Catalogue(Entry("A", "1", "10", "1") + Entry("B", "2", "", "0"));
  const auto printers = ListPrinters(text);
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].name, "A");
  EXPECT_EQ(printers[0].id, "1");
  EXPECT_EQ(printers[0].cost, "10");
  EXPECT_EQ(printers[0].monitored, "1");
  EXPECT_EQ(printers[1].name, "B");
  EXPECT_EQ(printers[1].cost, "");
  EXPECT_EQ(printers[1].monitored, "0");
}

TEST(CatalogueNumbers, ParseLeadingInt) {
  EXPECT_EQ(ParseLeadingInt("42"), 42);
  EXPECT_EQ(ParseLeadingInt("42abc"), 42);
  EXPECT_EQ(ParseLeadingInt("007"), 7);
  EXPECT_EQ(ParseLeadingInt(""), 0);
  EXPECT_EQ(ParseLeadingInt("abc"), 0);
  EXPECT_EQ(ParseLeadingInt(" 5"), 0);
  EXPECT_EQ(ParseLeadingInt("-5"), 0);
  EXPECT_GT(ParseLeadingInt("99999999999999999999999999"), 0);
}

TEST(CatalogueNumbers, NonNumericIdsDoNotBreakNextId) {
  std::string text = Catalogue(Entry("A", "x", "1", "0") + Entry("B", "3z", "1", "0"));
  ApplyMonitoredSet(text, {{"C", "1"}});
  EXPECT_EQ(FindPrinterId(text, "C"), "4");
}

}  // namespace

// ---------------------------------------------------------------------------
// Damaged catalogues

TEST(CatalogueDamaged, EntriesWithoutTheirTagsAreListedEmptyAndLeftAlone) {
  // A whole entry, then entries that lost their value tags and one that
  // lost its "</name>".
  const std::string tail = "<name>A</name><name>B</name>junk<name>lost";
  const std::string text = Catalogue(Entry("C", "7", "2", "1") + tail);
  const auto printers = ListPrinters(text);
  ASSERT_EQ(printers.size(), 3u);
  EXPECT_EQ(printers[0].name, "C");
  EXPECT_EQ(printers[0].id, "7");
  EXPECT_EQ(printers[0].monitored, "1");
  EXPECT_EQ(printers[1].name, "A");
  EXPECT_EQ(printers[1].id, "");
  EXPECT_EQ(printers[2].name, "B");
  EXPECT_EQ(printers[2].cost, "");
  EXPECT_EQ(FindPrinterId(text, "C"), "7");
  EXPECT_EQ(ScanMonitoredPrinters(text).size(), 1u);

  std::string edited = text;
  SetPrinterCost(edited, "C", 9);
  EXPECT_EQ(edited, Catalogue(Entry("C", "7", "9", "1") + tail));
  ApplyMonitoredSet(edited, {});
  EXPECT_EQ(edited, Catalogue(Entry("C", "7", "9", "0") + tail));
}

TEST(CatalogueDamaged, ManyEntriesWithoutTagsAreReadInOnePass) {
  // Entries without their value tags, then entries without "</name>": each
  // missing tag is looked for once, not once per entry (which would take
  // hours here).
  std::string text = "<log><printers>";
  for (int i = 0; i < 200000; ++i) text += "<name>y</name>";
  for (int i = 0; i < 200000; ++i) text += "<name>x";
  EXPECT_EQ(ListPrinters(text).size(), 200000u);
  EXPECT_TRUE(ScanMonitoredPrinters(text).empty());
  EXPECT_EQ(FindPrinterId(text, "y"), "");
}

TEST(CatalogueApply, TheLargestIdThereIsGetsNoSuccessor) {
  std::string text = Catalogue(Entry("Top", "9223372036854775807", "1", "0"));
  ApplyMonitoredSet(text, {{"New", "3"}, {"Top", ""}});
  EXPECT_EQ(text, Catalogue(Entry("Top", "9223372036854775807", "1", "1")));
  EXPECT_EQ(FindPrinterId(text, "New"), "");
}

// Whether a name occurs is decided with skips: it must agree with a plain
// search everywhere, names that overlap themselves ("aaab" in "aaaab") and
// matches at the very start and end included.
TEST(CatalogueText, SkippingSearchAgreesWithAPlainOne) {
  std::uint32_t x = 12345;
  auto next = [&] {
    x = x * 1664525u + 1013904223u;
    return x >> 16;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text(next() % 200, ' ');
    for (char& c : text) c = "ab<>u"[next() % (round % 2 ? 2 : 5)];
    std::string name(4 + next() % 6, ' ');
    for (char& c : name) c = "ab<>u"[next() % (round % 2 ? 2 : 5)];
    if (round % 7 == 0 && text.size() >= name.size()) text.replace(0, name.size(), name);
    if (round % 11 == 0 && text.size() >= name.size())
      text.replace(text.size() - name.size(), name.size(), name);
    ASSERT_EQ(common::OccursInText(text, name), text.find(name) != std::string::npos)
        << text << " / " << name;
  }
  std::string many = "<log><printers></printers><users>";
  for (int u = 0; u < 2000; ++u) many += "<username>user" + std::to_string(u) + "q</username>";
  many += "</users></log>";
  EXPECT_TRUE(common::OccursInText(many, "user1999q"));
  EXPECT_TRUE(common::OccursInText(many, "<log>"));
  EXPECT_TRUE(common::OccursInText(many, "</users></log>"));
  EXPECT_FALSE(common::OccursInText(many, "user2000q"));
  std::string text = many;
  EXPECT_FALSE(AddUserIfMissing(text, "ser19"));
  ASSERT_TRUE(AddUserIfMissing(text, "user2000q"));
  std::string entry = many;
  common::AddUserEntry(entry, "user2000q");
  EXPECT_EQ(entry, text);
}
