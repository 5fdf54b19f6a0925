// The mailer's settings and the report message it builds from them.
#include "mailer/postrider.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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
  CRegDword(common::QuillmarkValue("SMTPTLS")).Set(2);

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
  EXPECT_EQ(s.tls, 2u);
}

TEST(PostriderSettings, MissingKeyGivesEmptySettings) {
  ScratchRegistry scratch;
  const mail::PostriderSettings s = mail::ReadPostriderSettings();
  EXPECT_EQ(s.recipients, "");
  EXPECT_EQ(s.host, "");
  EXPECT_EQ(s.port, 0u);
  EXPECT_EQ(s.tls, 1u) << "TLS when offered unless told otherwise";

  // The failure is told in one line.
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* diagnostics = ::open_memstream(&text, &size);
  ASSERT_NE(diagnostics, nullptr);
  EXPECT_EQ(mail::RunPostrider(diagnostics), 1);
  std::fclose(diagnostics);
  const std::string line(text, size);
  std::free(text);
  EXPECT_EQ(line.rfind("Postrider: error ", 0), 0u) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
}

TEST(PostriderSettings, TlsValuesGiveModes) {
  EXPECT_EQ(mail::TlsModeFromValue(0), mail::TlsMode::kNever);
  EXPECT_EQ(mail::TlsModeFromValue(1), mail::TlsMode::kWhenOffered);
  EXPECT_EQ(mail::TlsModeFromValue(2), mail::TlsMode::kRequired);
  EXPECT_EQ(mail::TlsModeFromValue(7), mail::TlsMode::kRequired) << "never weaker than asked";
}

TEST(DiagnosticLine, NumberAndLastReplyLineWithoutThePassword) {
  using mail::CSMTPException;
  EXPECT_EQ(mail::DiagnosticLine(
                CSMTPException::Protocol(mail::kErrLoginPass,
                                         "535-5.7.8 first\r\n535 5.7.8 Authentication credentials invalid"),
                "pw"),
            "Postrider: error 529: 535 5.7.8 Authentication credentials invalid");
  EXPECT_EQ(mail::DiagnosticLine(
                CSMTPException::Protocol(mail::kErrPlainPass, "535 bad s3cret for you \xE9\x01"), "s3cret"),
            "Postrider: error 534: 535 bad ******** for you ??");
  EXPECT_EQ(mail::DiagnosticLine(CSMTPException::Protocol(mail::kErrGreeting, ""), "pw"),
            "Postrider: error 512: no reply from the server");
  EXPECT_EQ(mail::DiagnosticLine(CSMTPException::System(111), "pw"),
            "Postrider: error 0x8007006F: Connection refused");
}

TEST(PostriderSettings, MethodNamesAreMatchedExactly) {
  EXPECT_EQ(mail::AuthMethodFromName("None"), AuthMethod::kNone);
  EXPECT_EQ(mail::AuthMethodFromName("CRAM MD5"), AuthMethod::kCramMd5);
  EXPECT_EQ(mail::AuthMethodFromName("AUTH LOGIN"), AuthMethod::kLogin);
  EXPECT_EQ(mail::AuthMethodFromName("AUTH PLAIN"), AuthMethod::kPlain);
  EXPECT_EQ(mail::AuthMethodFromName("NTLM"), AuthMethod::kNtlm);
  for (const char* other : {"none", "NONE", "", "CRAM-MD5", "ntlm", "AUTH  PLAIN"}) {
    EXPECT_EQ(mail::AuthMethodFromName(other), AuthMethod::kLogin) << other;
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
