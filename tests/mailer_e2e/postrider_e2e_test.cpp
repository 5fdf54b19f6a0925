// Runs the real Postrider program against a local SMTP server (aiosmtpd)
// and reads what arrived with Python's email package.
#include "postrider_e2e_support.h"

namespace {

using namespace e2e;

std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 40; ++round) {
    for (int c = 0; c < 256; ++c) bytes.push_back(static_cast<char>(c));
  }
  bytes += "\r\n.\r\n.. after a lone dot\r\n";
  return bytes;
}

TEST_F(PostriderEndToEnd, CramMd5ReportWithAttachmentArrivesWhole) {
  SmtpSink sink(scratch.Folder(), "cram", "mailuser", "s3cret \xE9");
  const std::string bytes = AllBytes();
  Configure(sink.Port(), "CRAM MD5", WriteFile("Report.xml", bytes));
  ASSERT_EQ(RunPostrider(), 0);

  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Envelope(messages[0]),
            R"({"mail_from": "reports@x.test", "rcpt_tos": ["a@x.test", "b@x.test"], "login": "mailuser"})");
  auto m = Inspect(messages[0]);
  EXPECT_EQ(m["subject"], Json("Log From Quillmark... LatestLog.xml"));
  EXPECT_EQ(m["from"], R"(["Quillmark Reports", "reports@x.test"])");
  EXPECT_EQ(m["to"], R"([["", "a@x.test"], ["B", "b@x.test"]])");
  EXPECT_EQ(m["mime_version"], Json("1.0"));
  EXPECT_EQ(m["content_type"], Json("multipart/mixed"));
  EXPECT_EQ(m["date_parses"], "true");
  EXPECT_EQ(m["part_count"], "2");
  EXPECT_EQ(m["part0_type"], Json("text/plain"));
  EXPECT_EQ(m["part0_encoding"], Json("quoted-printable"));
  // The delimiter's CR LF before the next boundary belongs to the text.
  EXPECT_EQ(m["part0_text"], Json(std::string(mail::kReportBodyText) + "\r\n"));
  EXPECT_EQ(m["part1_type"], Json("application/octet-stream"));
  EXPECT_EQ(m["part1_encoding"], Json("base64"));
  EXPECT_EQ(m["part1_filename"], Json("Report.xml"));
  EXPECT_EQ(m["part1_hex"], Json(Hex(bytes)));
  EXPECT_EQ(m["defects"], "[]");
  EXPECT_EQ(m["strict"], "true");
}

TEST_F(PostriderEndToEnd, EmptyFileSettingSendsPlainTextWithoutMimeVersion) {
  SmtpSink sink(scratch.Folder(), "login", "mailuser", "s3cret \xE9");
  Configure(sink.Port(), "AUTH LOGIN", "");
  ASSERT_EQ(RunPostrider(), 0);

  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(Envelope(messages[0]).find(R"("login": "mailuser")"), std::string::npos);
  auto m = Inspect(messages[0]);
  EXPECT_EQ(m["mime_version"], "null");
  EXPECT_EQ(m["multipart"], "false");
  EXPECT_EQ(m["content_type"], Json("text/plain"));
  // The CR LF before the end-of-data line ends the text's last line.
  EXPECT_EQ(m["text"], Json(std::string(mail::kReportBodyText) + "\r\n"));
  EXPECT_EQ(m["to"], R"([["", "a@x.test"], ["B", "b@x.test"]])");
  EXPECT_EQ(m["defects"], "[]");
  EXPECT_EQ(m["strict"], "true");
}

TEST_F(PostriderEndToEnd, MethodNameInOtherCaseLogsInWithAuthLogin) {
  SmtpSink sink(scratch.Folder(), "login", "mailuser", "s3cret \xE9");
  Configure(sink.Port(), "none", WriteFile("TestEmail.xml", "<log></log>"));
  ASSERT_EQ(RunPostrider(), 0);
  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(Envelope(messages[0]).find(R"("login": "mailuser")"), std::string::npos);
  EXPECT_EQ(Inspect(messages[0])["part1_filename"], Json("TestEmail.xml"));
}

TEST_F(PostriderEndToEnd, WithoutLoginOrTlsUsesHelo) {
  SmtpSink sink(scratch.Folder(), "none");
  Configure(sink.Port(), "None", WriteFile("Report.xml", ".\r\n"));
  // TLS when offered (the default) asks with EHLO; this server offers none.
  ASSERT_EQ(RunPostrider(), 0);
  EXPECT_EQ(sink.Commands(), "EHLO MAIL RCPT RCPT DATA QUIT ");
  SetTls(0);
  ASSERT_EQ(RunPostrider(), 0);
  EXPECT_EQ(sink.Commands(), "EHLO MAIL RCPT RCPT DATA QUIT HELO MAIL RCPT RCPT DATA QUIT ");
  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(Envelope(messages[1]).find(R"("login": null)"), std::string::npos);
  EXPECT_EQ(Inspect(messages[1])["part1_hex"], Json(Hex(".\r\n")));
}

TEST_F(PostriderEndToEnd, FailuresEndNonZeroAndDeliverNothing) {
  SmtpSink sink(scratch.Folder(), "cram", "mailuser", "s3cret \xE9");
  const std::string report = WriteFile("Report.xml", "<log/>");

  Configure(sink.Port(), "CRAM MD5", report);
  SetScrambled("SMTPPass4MailServer", "wrong");
  EXPECT_NE(RunPostrider(), 0) << "wrong password";
  EXPECT_EQ(diagnostic, "Postrider: error 536: 535 5.7.8 Authentication credentials invalid\n");

  // A missing attachment is refused, with its diagnostic line, before any
  // connection is made.
  Configure(sink.Port(), "CRAM MD5", (Logs() / "gone.xml").string());
  const std::string heardBefore = sink.Commands();
  EXPECT_NE(RunPostrider(), 0) << "missing attachment";
  EXPECT_NE(diagnostic.find("not sent"), std::string::npos) << diagnostic;
  EXPECT_EQ(sink.Commands(), heardBefore);

  // A line break in a recipient would have become commands of its own.
  Configure(sink.Port(), "CRAM MD5", report);
  SetScrambled("EmailAddress", "a@x.test\r\nRCPT TO:<evil@x.test>");
  EXPECT_NE(RunPostrider(), 0) << "line break in a recipient";

  Configure(sink.Port(), "CRAM MD5", report);
  SetScrambled("SMTPSRV", "127.0.0.1\r\nQUIT");
  EXPECT_NE(RunPostrider(), 0) << "line break in the host";

  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_EQ(sink.Commands().find("MAIL"), std::string::npos) << sink.Commands();

  Configure(sink.Port(), "CRAM MD5", report);
  EXPECT_EQ(RunPostrider(), 0) << "the same server still takes a good message";
  EXPECT_EQ(sink.Messages().size(), 1u);
}

TEST_F(PostriderEndToEnd, AttachmentOverTheLimitIsRefusedBeforeAnyMessageData) {
  SmtpSink sink(scratch.Folder(), "none");
  const std::string big = WriteFile("big.xml", "");
  fs::resize_file(big, mail::CSMTPBodyPart::kMaxAttachmentSize + 1);
  Configure(sink.Port(), "None", big);
  EXPECT_NE(RunPostrider(), 0);
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_EQ(sink.Commands(), "EHLO QUIT ");
}

}  // namespace
