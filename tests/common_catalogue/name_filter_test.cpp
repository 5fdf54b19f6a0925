#include "common/name_filter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using common::CleanXmlName;
using common::SafeFolderName;
using common::StripXmlSpecials;

TEST(XmlNames, StripRemovesExactlyTheFiveSpecials) {
  std::string s = "a<b>c&d'e\"f g\th";
  StripXmlSpecials(s);
  EXPECT_EQ(s, "abcdef g\th");
  std::string only = "<>&'\"";
  StripXmlSpecials(only);
  EXPECT_TRUE(only.empty());
}

TEST(XmlNames, CleanAlsoDropsControlsButKeepsTab) {
  EXPECT_EQ(CleanXmlName("Lab\r\n<Printer>\t1\x01"), "LabPrinter\t1");
  EXPECT_EQ(CleanXmlName("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(CleanXmlName(""), "");
}

void ExpectSingleComponent(const std::string& in) {
  SCOPED_TRACE(in);
  const std::string out = SafeFolderName(in);
  if (in.empty()) {
    EXPECT_TRUE(out.empty());
    return;
  }
  EXPECT_FALSE(out.empty());
  EXPECT_NE(out, ".");
  EXPECT_NE(out, "..");
  EXPECT_NE(out.front(), '.');
  for (char c : out) {
    const auto u = static_cast<unsigned char>(c);
    EXPECT_NE(c, '/');
    EXPECT_NE(c, '\\');
    EXPECT_NE(c, ':');
    EXPECT_GE(u, 0x20);
    EXPECT_NE(u, 0x7F);
  }
}

TEST(FolderNames, TraversalCannotEscape) {
  for (const char* name : {".", "..", "...", "../../x", "..\\..\\x", "/etc/passwd", "a/b", "C:\\Windows",
                           "x:y", ".hidden", "tab\there", "nl\nx", "del\x7f", "//", "\\", "%2E%2E"}) {
    ExpectSingleComponent(name);
  }
}

TEST(FolderNames, HarmlessNamesAreUnchangedAndOthersEncoded) {
  for (const char* name :
       {"alice", "HP LaserJet 4", "a.b", "x..", "Jos\xc3\xa9", "~tmp", "___.._evil", "__", "_", "Printer_12"})
    EXPECT_EQ(SafeFolderName(name), name);
  EXPECT_EQ(SafeFolderName(".."), "%2E%2E");
  EXPECT_EQ(SafeFolderName("."), "%2E");
  EXPECT_EQ(SafeFolderName("../../evil"), "%2E%2E%2F..%2Fevil");
  EXPECT_EQ(SafeFolderName(".profile"), "%2Eprofile");
  EXPECT_EQ(SafeFolderName("a\\b:c"), "a%5Cb%3Ac");
  EXPECT_EQ(SafeFolderName("50%"), "50%25");
  EXPECT_EQ(SafeFolderName("nl\n"), "nl%0A");
}

TEST(FolderNames, EmptyStaysEmpty) { EXPECT_EQ(SafeFolderName(""), ""); }

TEST(FolderNames, NamesThatOnceSharedAFolderNoLongerDo) {
  EXPECT_NE(SafeFolderName("../../evil"), SafeFolderName("___.._evil"));
  EXPECT_NE(SafeFolderName(".."), SafeFolderName("__"));
  EXPECT_NE(SafeFolderName("."), SafeFolderName("_"));
  EXPECT_NE(SafeFolderName("%2E"), SafeFolderName("."));
}

// Every name of up to four bytes drawn from the bytes that matter gets a
// folder of its own, and every harmless one keeps its name.
TEST(FolderNames, TheMappingIsOneToOne) {
  const std::string alphabet = std::string("./\\:%_aE2") + '\x01' + '\x7f';
  std::map<std::string, std::string> seen;
  std::vector<std::string> names = {""};
  for (int length = 1; length <= 4; ++length) {
    std::vector<std::string> longer;
    for (const auto& name : names) {
      if (name.size() + 1 != static_cast<std::size_t>(length)) continue;
      for (char c : alphabet) longer.push_back(name + c);
    }
    names.insert(names.end(), longer.begin(), longer.end());
  }
  for (const auto& name : names) {
    const std::string folder = SafeFolderName(name);
    auto [it, fresh] = seen.emplace(folder, name);
    EXPECT_TRUE(fresh) << "\"" << name << "\" and \"" << it->second << "\" share \"" << folder << "\"";
    const bool harmless = !name.empty() && name.front() != '.' &&
                          name.find_first_of(std::string("/\\:%\x01\x7f", 6)) == std::string::npos;
    if (harmless) {
      EXPECT_EQ(folder, name);
    }
  }
}

}  // namespace
