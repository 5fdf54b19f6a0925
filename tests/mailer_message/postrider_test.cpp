// The mailer's settings and the report message it builds from them.
#include "mailer/postrider.h"

#include <gtest/gtest.h>

#include "../foundation/test_support.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "message_fixture.h"

namespace {

using mail::AuthMethod;
using mail::CSMTPMessage;

void SetText(std::string_view name, const std::string& value) {
  CRegString(common::QuillmarkValue(name)).Set(value);
}

TEST(PostriderSettings, ScrambledValuesAreReadDescrambledAndOthersAsStored) {
  ScratchRegistry scratch;
  SetText("EmailAddress", common::Scramble("a@x.test;B <b@x.test>"));
  SetText("ToSendFile", "/srv/Logs/Report.xml");
  SetText("SMTPEmailAddress", common::Scramble("qm@x.test"));
  SetText("SMTPName", common::Scramble("Quill \xE9"));
  SetText("SMTPSRV", common::Scramble("127.0.0.1"));
  SetText("SMTPAUTH", common::Scramble("CRAM MD5"));
  SetText("SMTPEmailAddress4Server", common::Scramble("user"));
  SetText("SMTPPass4MailServer", common::Scramble("p\xFB ss"));
  CRegDword(common::QuillmarkValue("SMTPPORT")).Set(2525);

  const mail::PostriderSettings s = mail::ReadPostriderSettings();
  EXPECT_EQ(s.recipients, "a@x.test;B <b@x.test>");
  EXPECT_EQ(s.files, "/srv/Logs/Report.xml");
  EXPECT_EQ(s.senderAddress, "qm@x.test");
  EXPECT_EQ(s.senderName, "Quill \xE9");
  EXPECT_EQ(s.host, "127.0.0.1");
  EXPECT_EQ(s.authName, "CRAM MD5");
  EXPECT_EQ(s.user, "user");
  EXPECT_EQ(s.password, "p\xFB ss");
  EXPECT_EQ(s.port, 2525u);
}

TEST(PostriderSettings, MissingKeyGivesEmptySettings) {
  ScratchRegistry scratch;
  const mail::PostriderSettings s = mail::ReadPostriderSettings();
  EXPECT_EQ(s.recipients, "");
  EXPECT_EQ(s.host, "");
  EXPECT_EQ(s.port, 0u);
  EXPECT_EQ(mail::RunPostrider(), 1);
}

TEST(PostriderSettings, MethodNamesAreMatchedExactly) {
  EXPECT_EQ(mail::AuthMethodFromName("None"), AuthMethod::None);
  EXPECT_EQ(mail::AuthMethodFromName("CRAM MD5"), AuthMethod::CramMd5);
  EXPECT_EQ(mail::AuthMethodFromName("AUTH LOGIN"), AuthMethod::Login);
  EXPECT_EQ(mail::AuthMethodFromName("AUTH PLAIN"), AuthMethod::Plain);
  EXPECT_EQ(mail::AuthMethodFromName("NTLM"), AuthMethod::Ntlm);
  for (const char* other : {"none", "NONE", "", "CRAM-MD5", "ntlm", "AUTH  PLAIN"}) {
    EXPECT_EQ(mail::AuthMethodFromName(other), AuthMethod::Login) << other;
  }
}

TEST(ReportMessage, WithoutFileIsPlainText) {
  mailtest::CountingUuids uuids;
  mail::PostriderSettings s;
  s.recipients = "a@x.test;B <b@x.test>";
  s.senderAddress = "qm@x.test";
  s.senderName = "Quillmark";
  const CSMTPMessage m = mail::BuildReportMessage(s);
  EXPECT_FALSE(m.MimeMode());
  EXPECT_EQ(m.RecipientCount(CSMTPMessage::kTo), 2);
  EXPECT_EQ(m.Subject(), "Log From Quillmark... LatestLog.xml");
  EXPECT_EQ(m.Root().Text(), mail::kReportBodyText);
  EXPECT_EQ(m.Sender().FormatAddress(true, "iso-8859-1"), "Quillmark <qm@x.test>");
  EXPECT_EQ(m.BuildHeader().find("MIME-Version"), std::string::npos);
}

TEST(ReportMessage, WithFileHasTextPartThenAttachment) {
  mailtest::CountingUuids uuids;
  mail::PostriderSettings s;
  s.recipients = "a@x.test";
  s.files = "/srv/Logs/Report.xml";
  const CSMTPMessage m = mail::BuildReportMessage(s);
  EXPECT_TRUE(m.MimeMode());
  ASSERT_EQ(m.Root().ChildCount(), 2u);
  EXPECT_EQ(m.Root().Child(0).Text(), mail::kReportBodyText);
  EXPECT_EQ(m.Root().Child(0).Charset(), "iso-8859-1");
  EXPECT_EQ(m.Root().Child(1).Title(), "Report.xml");
}

}  // namespace
