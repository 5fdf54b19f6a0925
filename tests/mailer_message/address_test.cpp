#include <gtest/gtest.h>

#include "mailer/smtp_message.h"
#include "message_fixture.h"

namespace {

using mail::CSMTPAddress;
using mail::CSMTPMessage;

TEST(Address, ParsesNameAndBracketedAddress) {
  CSMTPAddress a;
  a.ParseAddress("  Jane Doe   <jane@x.test>  ");
  EXPECT_EQ(a.Name(), "Jane Doe");
  EXPECT_EQ(a.Address(), "jane@x.test");
  a.ParseAddress(" <jane@x.test>");
  EXPECT_EQ(a.Name(), "");
  EXPECT_EQ(a.Address(), "jane@x.test");
  // Nothing between the brackets, or brackets the wrong way round: the
  // whole text is the address.
  a.ParseAddress("Jane <>");
  EXPECT_EQ(a.Address(), "Jane <>");
  EXPECT_EQ(a.Name(), "");
  a.ParseAddress("x> y <z");
  EXPECT_EQ(a.Address(), "x> y <z");
}

TEST(Address, FormatsBareOrWithName) {
  EXPECT_EQ(CSMTPAddress("a@x.test").FormatAddress(true, "iso-8859-1"), "a@x.test");
  EXPECT_EQ(CSMTPAddress("a@x.test", "A").FormatAddress(true, "iso-8859-1"), "A <a@x.test>");
  EXPECT_EQ(CSMTPAddress("a@x.test", "\xC5").FormatAddress(true, "iso-8859-1"),
            "=?iso-8859-1?q?=C5?= <a@x.test>");
  EXPECT_EQ(CSMTPAddress("a@x.test", "\xC5").FormatAddress(false, "iso-8859-1"), "\xC5 <a@x.test>");
}

TEST(RecipientList, SplitsTrimsAndDropsEmptyPieces) {
  mailtest::CountingUuids uuids;
  CSMTPMessage m;
  EXPECT_TRUE(m.AddRecipientList("a@x.test;B <b@x.test> , ,  ", CSMTPMessage::kTo));
  ASSERT_EQ(m.RecipientCount(CSMTPMessage::kTo), 2);
  EXPECT_EQ(m.Recipient(0, CSMTPMessage::kTo).Address(), "a@x.test");
  EXPECT_EQ(m.Recipient(0, CSMTPMessage::kTo).Name(), "");
  EXPECT_EQ(m.Recipient(1, CSMTPMessage::kTo).Address(), "b@x.test");
  EXPECT_EQ(m.Recipient(1, CSMTPMessage::kTo).Name(), "B");
  EXPECT_FALSE(m.AddRecipientList(" ;, ", CSMTPMessage::kCc));
  EXPECT_EQ(m.RecipientCount(CSMTPMessage::kCc), 0);
  EXPECT_FALSE(m.AddRecipientList("z@x.test", 7));
}

}  // namespace
