// Postrider against aiosmtpd servers with TLS (STARTTLS and from the first
// byte), both login prompt styles, RFC 4616 AUTH PLAIN, a non-ASCII file
// name and a server that never answers.
#include <chrono>

#include "postrider_e2e_support.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

const std::string kPassword = "s3cret \xE9";

class PostriderTls : public PostriderEndToEnd {
 protected:
  TestCa ca{scratch.Folder()};

  std::string Report() { return WriteFile("Report.xml", "<log>report</log>\r\n"); }
};

TEST_F(PostriderTls, StartTlsWhenOfferedThenLogsInAndDelivers) {
  SmtpSink sink(scratch.Folder(), "plain", "mailuser", kPassword, ca.Sink("starttls"));
  Configure(sink.Port(), "AUTH PLAIN", Report());
  ASSERT_EQ(RunPostrider(ca.TrustIt()), 0) << diagnostic;
  EXPECT_EQ(sink.Commands(), "EHLO STARTTLS EHLO AUTH MAIL RCPT RCPT DATA QUIT ");
  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(Envelope(messages[0]).find(R"("login": "mailuser")"), std::string::npos);
  EXPECT_EQ(Inspect(messages[0])["strict"], "true");
}

TEST_F(PostriderTls, CertificatesThatDoNotCheckOutEndTheConnection) {
  struct Case {
    const char* what;
    const char* certificate;
    bool trusted;
  };
  for (const Case& k : {Case{"self-signed", "rogue", true}, Case{"another host's", "other", true},
                        Case{"not in the system's store", "server", false}}) {
    SCOPED_TRACE(k.what);
    SmtpSink sink(scratch.Folder() / k.certificate, "plain", "mailuser", kPassword,
                  ca.Sink("starttls", k.certificate));
    Configure(sink.Port(), "AUTH PLAIN", Report());
    EXPECT_EQ(RunPostrider(k.trusted ? ca.TrustIt() : std::string()), 1);
    EXPECT_EQ(diagnostic.rfind("Postrider: error 537: certificate verify failed", 0), 0u) << diagnostic;
    // Never a fall-back to plain text: no login, no message.
    EXPECT_EQ(sink.Commands(), "EHLO STARTTLS ");
    EXPECT_TRUE(sink.Messages().empty());
  }
}

TEST_F(PostriderTls, SmtpTlsValueDecides) {
  SmtpSink plain(scratch.Folder() / "plain", "plain", "mailuser", kPassword);
  Configure(plain.Port(), "AUTH PLAIN", Report());
  SetTls(2);
  EXPECT_EQ(RunPostrider(ca.TrustIt()), 1) << "required, not offered";
  EXPECT_EQ(diagnostic, "Postrider: error 523: STARTTLS not offered\n");
  EXPECT_EQ(plain.Commands(), "EHLO QUIT ");
  EXPECT_TRUE(plain.Messages().empty());

  SetTls(1);
  EXPECT_EQ(RunPostrider(ca.TrustIt()), 0) << "when offered: plain text goes on " << diagnostic;
  EXPECT_EQ(plain.Messages().size(), 1u);

  SmtpSink offering(scratch.Folder() / "offering", "plain", "mailuser", kPassword, ca.Sink("starttls"));
  Configure(offering.Port(), "AUTH PLAIN", Report());
  SetTls(0);
  EXPECT_EQ(RunPostrider(ca.TrustIt()), 0) << diagnostic;
  EXPECT_EQ(offering.Commands(), "EHLO AUTH MAIL RCPT RCPT DATA QUIT ") << "never: no STARTTLS";
  SetTls(2);
  EXPECT_EQ(RunPostrider(ca.TrustIt()), 0) << diagnostic;
  EXPECT_EQ(offering.Messages().size(), 2u);
}

TEST_F(PostriderTls, ImplicitTlsFromTheFirstByte) {
  SmtpSink sink(scratch.Folder(), "login", "mailuser", kPassword, ca.Sink("implicit"));
  Configure(sink.Port(), "AUTH LOGIN", Report());
  const std::string port = std::to_string(sink.Port());
  ASSERT_EQ(RunPostrider(ca.TrustIt() + " QUILLMARK_SMTPS_PORT=" + port), 0) << diagnostic;
  EXPECT_EQ(sink.Commands(), "EHLO AUTH MAIL RCPT RCPT DATA QUIT ");
  EXPECT_EQ(sink.Messages().size(), 1u);
  // Without trust in its authority the handshake fails before the greeting.
  EXPECT_EQ(RunPostrider("QUILLMARK_SMTPS_PORT=" + port), 1);
  EXPECT_EQ(diagnostic.rfind("Postrider: error 537: ", 0), 0u) << diagnostic;
  EXPECT_EQ(sink.Messages().size(), 1u);
}

TEST_F(PostriderTls, LoginPromptsAsAiosmtpdWordsThem) {
  // "User Name" / "Password", not "Username:" / "Password:".
  SmtpSink sink(scratch.Folder(), "login", "mailuser", kPassword, {"--own-prompts"});
  Configure(sink.Port(), "AUTH LOGIN", Report());
  ASSERT_EQ(RunPostrider(), 0) << diagnostic;
  ASSERT_EQ(sink.Messages().size(), 1u);
  EXPECT_NE(Envelope(sink.Messages()[0]).find(R"("login": "mailuser")"), std::string::npos);
  SetScrambled("SMTPPass4MailServer", "wrong");
  EXPECT_EQ(RunPostrider(), 1);
  EXPECT_EQ(diagnostic, "Postrider: error 529: 535 5.7.8 Authentication credentials invalid\n");
}

TEST_F(PostriderTls, NonAsciiFileNameArrivesWithItsName) {
  SmtpSink sink(scratch.Folder(), "plain", "mailuser", kPassword);
  const std::string bytes = "<log>Z\xC3\xBCrich \xFF\x00</log>";
  WriteFile("Z\xC3\xBCrich.xml", bytes);  // the system's UTF-8 name
  // "ToSendFile" holds Latin-1, like every stored text.
  Configure(sink.Port(), "AUTH PLAIN", (Logs() / "Z").string() + "\xFCrich.xml");
  ASSERT_EQ(RunPostrider(), 0) << diagnostic;
  ASSERT_EQ(sink.Messages().size(), 1u);
  const std::string raw = ReadWholeFile(sink.Messages()[0]);
  for (unsigned char c : raw) ASSERT_LT(c, 0x80) << "8-bit byte in the message";
  auto m = Inspect(sink.Messages()[0]);
  EXPECT_EQ(m["part1_filename"], Json("Z\xFCrich.xml"));
  EXPECT_EQ(m["part1_hex"], Json(Hex(bytes)));
  EXPECT_EQ(m["strict"], "true");
}

TEST_F(PostriderTls, ServerThatNeverAnswersCostsOneTimeOutAndAShortQuit) {
  // With the real 60-second time-out this is 60 s for the greeting plus at
  // most 4 s for QUIT's reply: under 65 s. The test shortens the time-out.
  SmtpSink sink(scratch.Folder(), "none", "", "", {"--silent"});
  Configure(sink.Port(), "None", Report());
  const auto start = Clock::now();
  EXPECT_EQ(RunPostrider("QUILLMARK_SMTP_TIMEOUT_MS=1500"), 1);
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(diagnostic, "Postrider: error 512: no reply from the server\n");
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
  EXPECT_LT(elapsed, std::chrono::milliseconds(1500 * 2 + 1500));
}

}  // namespace
