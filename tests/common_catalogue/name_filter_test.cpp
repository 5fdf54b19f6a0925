#include "common/name_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using common::CleanXmlName;
using common::SafeFolderName;
using common::StripXmlSpecials;

TEST(XmlNames, StripRemovesExactlyTheFiveSpecials)
{
    std::string s = "a<b>c&d'e\"f g\th";
    StripXmlSpecials(s);
    EXPECT_EQ(s, "abcdef g\th");
    std::string only = "<>&'\"";
    StripXmlSpecials(only);
    EXPECT_TRUE(only.empty());
}

TEST(XmlNames, CleanAlsoDropsControlsButKeepsTab)
{
    EXPECT_EQ(CleanXmlName("Lab\r\n<Printer>\t1\x01"), "LabPrinter\t1");
    EXPECT_EQ(CleanXmlName("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(CleanXmlName(""), "");
}

void ExpectSingleComponent(const std::string& in)
{
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
    EXPECT_EQ(out.size(), in.size());
    EXPECT_EQ(SafeFolderName(out), out) << "mapping is not stable";
}

TEST(FolderNames, TraversalCannotEscape)
{
    for (const char* name : {".", "..", "...", "../../x", "..\\..\\x", "/etc/passwd", "a/b",
                             "C:\\Windows", "x:y", ".hidden", "tab\there", "nl\nx",
                             "del\x7f", "//", "\\"}) {
        ExpectSingleComponent(name);
    }
    const std::string up = SafeFolderName("../../x");
    EXPECT_EQ(up.find('/'), std::string::npos);
    EXPECT_NE(up, "..");
}

TEST(FolderNames, SafeNamesAreUnchanged)
{
    for (const char* name : {"alice", "HP LaserJet 4", "a.b", "x..", "Jos\xc3\xa9", "~tmp"})
        EXPECT_EQ(SafeFolderName(name), name);
}

TEST(FolderNames, EmptyStaysEmpty)
{
    EXPECT_EQ(SafeFolderName(""), "");
}

TEST(FolderNames, ReplacementIsDeterministic)
{
    EXPECT_EQ(SafeFolderName(".."), "__");
    EXPECT_EQ(SafeFolderName("a/b"), "a_b");
    EXPECT_EQ(SafeFolderName("../x"), "___x");
    EXPECT_EQ(SafeFolderName(".profile"), "_profile");
    EXPECT_EQ(SafeFolderName("a\\b:c"), "a_b_c");
    // Only the leading run of dots is touched.
    EXPECT_EQ(SafeFolderName("..a..b/"), "__a..b_");
}

}  // namespace
