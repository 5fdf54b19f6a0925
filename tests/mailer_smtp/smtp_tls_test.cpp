// How the connection decides on STARTTLS, against scripted servers. The
// handshakes with real certificates are in the end-to-end tests.
#include <gtest/gtest.h>

#include "mailer/smtp_connection.h"
#include "script_server.h"

namespace {

using mail::AuthMethod;
using mail::CSMTPException;
using mail::CTernSMTPConnection;
using mail::TlsMode;
using smtptest::ScriptServer;
using namespace std::chrono_literals;

constexpr const char* kHost = "127.0.0.1";

struct TestConnection : CTernSMTPConnection {
  explicit TestConnection(TlsMode mode) {
    SetHeloHost("client.test");
    SetReplyTimeout(3s);
    SetTlsMode(mode);
  }
};

// The error number of a Connect with `method`, 0 when it succeeded.
int Outcome(CTernSMTPConnection& c, std::uint16_t port, AuthMethod method = AuthMethod::kLogin) {
  try {
    c.Connect(kHost, method, "u", "p", port);
    return 0;
  } catch (const CSMTPException& e) {
    return e.Number();
  }
}

TEST(SmtpTls, RequiredButNotOfferedFailsBeforeAnyLogin) {
  for (const char* ehlo : {"250-mail.test\r\n250 AUTH LOGIN", "250 STARTTLS"}) {
    SCOPED_TRACE(ehlo);  // the first line greets: it names no extension
    ScriptServer s;
    s.Reply("220 ready").Expect("EHLO client.test").Reply(ehlo).QuitReply();
    s.Start();
    TestConnection c(TlsMode::kRequired);
    EXPECT_EQ(Outcome(c, s.Port()), mail::kErrTlsUnavailable);
    EXPECT_EQ(s.Finish(), "");
  }
  // A server without EHLO cannot offer it either.
  ScriptServer s;
  s.Reply("220 ready").Expect("EHLO client.test").Reply("502 no").QuitReply();
  s.Start();
  TestConnection c(TlsMode::kRequired);
  EXPECT_EQ(Outcome(c, s.Port(), AuthMethod::kNone), mail::kErrTlsUnavailable);
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpTls, WhenOfferedButNotOfferedStaysPlain) {
  ScriptServer s;
  s.Reply("220 ready").Expect("EHLO client.test").Reply("250-mail.test\r\n250 SIZE 1000").QuitReply();
  s.Start();
  TestConnection c(TlsMode::kWhenOffered);
  EXPECT_EQ(Outcome(c, s.Port(), AuthMethod::kNone), 0);
  EXPECT_FALSE(c.IsEncrypted());
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpTls, NeverIgnoresTheOffer) {
  ScriptServer s;
  s.Reply("220 ready").Expect("HELO client.test").Reply("250 ok").QuitReply();
  s.Start();
  TestConnection c(TlsMode::kNever);
  EXPECT_EQ(Outcome(c, s.Port(), AuthMethod::kNone), 0);
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpTls, RefusedStartTlsIsNoDowngrade) {
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250-mail.test\r\n250-starttls\r\n250 AUTH LOGIN")
      .Expect("STARTTLS")
      .Reply("454 4.7.0 TLS not available")
      .QuitReply();
  s.Start();
  TestConnection c(TlsMode::kWhenOffered);
  EXPECT_EQ(Outcome(c, s.Port()), mail::kErrTlsUnavailable);
  EXPECT_EQ(c.LastReply(), "221 bye");
  EXPECT_EQ(s.Finish(), "") << "no login in plain text";
}

TEST(SmtpTls, FailedHandshakeClosesWithoutAnotherWord) {
  // The server agrees, then speaks no TLS: the handshake fails, and no
  // QUIT follows on a connection in an unknown state.
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250-mail.test\r\n250 STARTTLS")
      .Expect("STARTTLS")
      .Reply("220 go ahead")
      .Send("this is not TLS\r\n");
  s.Start();
  TestConnection c(TlsMode::kWhenOffered);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Outcome(c, s.Port()), mail::kErrTlsHandshake);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_FALSE(c.IsConnected());
  s.Finish();  // the client hello's binary bytes are all it sent
}

}  // namespace
