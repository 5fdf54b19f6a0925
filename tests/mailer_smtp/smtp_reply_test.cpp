#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "mailer/smtp_connection.h"
#include "platform/socket.h"
#include "script_server.h"

namespace {

using mail::AuthMethod;
using mail::CSMTPException;
using mail::CTernSMTPConnection;
using smtptest::ScriptServer;
using namespace std::chrono_literals;

constexpr const char* kHost = "127.0.0.1";

struct TestConnection : CTernSMTPConnection {
  TestConnection() {
    SetHeloHost("client.test");
    SetReplyTimeout(3s);
    SetTlsMode(mail::TlsMode::kNever);
  }
};

struct Outcome {
  int number = 0;       // 0: connected
  std::string message;  // the failure's message: the reply of the failed step
};

// Connects without login against `s`.
Outcome ConnectPlainly(TestConnection& c, ScriptServer& s) {
  try {
    c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());
    return {};
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Facility(), mail::kFacilityInterface);
    return {e.Number(), e.Message()};
  }
}

TEST(SmtpReply, MultiLineReplyIsReadWholeAndOnlyItsLastCodeCounts) {
  {
    ScriptServer s;
    s.Send("220-mail.test\r\n220-second line\r\n220 ready\r\n")
        .Expect("HELO client.test")
        .Send("250-hello\r\n250 nice to meet you\r\n")
        .QuitReply();
    s.Start();
    TestConnection c;
    EXPECT_EQ(ConnectPlainly(c, s).number, 0);
    EXPECT_EQ(c.LastReply(), "250-hello\r\n250 nice to meet you");
    EXPECT_EQ(c.LastReplyCode(), 250);
    c.Disconnect();
    EXPECT_EQ(s.Finish(), "");
  }
  {
    ScriptServer s;
    s.Reply("220 ready").Expect("HELO client.test").Send("250-looks fine\r\n550 but is not\r\n").QuitReply();
    s.Start();
    TestConnection c;
    const Outcome o = ConnectPlainly(c, s);
    EXPECT_EQ(o.number, mail::kErrHelo);
    EXPECT_EQ(o.message, "250-looks fine\r\n550 but is not");
    EXPECT_EQ(s.Finish(), "");
  }
}

TEST(SmtpReply, ReplyArrivingByteByByteIsJoined) {
  ScriptServer s;
  s.SendBytewise("220-first\r\n220 second\r\n")
      .Expect("HELO client.test")
      .SendBytewise("250 ok\r\n")
      .QuitReply();
  s.Start();
  TestConnection c;
  EXPECT_EQ(ConnectPlainly(c, s).number, 0);
  EXPECT_EQ(c.LastReply(), "250 ok");
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpReply, RepliesLongerThan255BytesAreParsed) {
  std::string lines;
  for (int i = 0; i < 60; ++i) lines += "250-" + std::string(90, static_cast<char>('a' + i % 26)) + "\r\n";
  const std::string longLine = "250 " + std::string(9000, 'z');
  ScriptServer s;
  s.Reply("220 " + std::string(300, 'g'))
      .Expect("HELO client.test")
      .Send(lines + longLine + "\r\n")
      .QuitReply();
  s.Start();
  TestConnection c;
  EXPECT_EQ(ConnectPlainly(c, s).number, 0);
  EXPECT_EQ(c.LastReply(), lines + longLine);
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpReply, BareCodeWithoutTextIsACompleteReply) {
  ScriptServer s;
  s.Reply("220").Expect("HELO client.test").Reply("250").QuitReply();
  s.Start();
  TestConnection c;
  c.SetReplyTimeout(60s);  // a reply taken for unfinished would wait this long
  EXPECT_EQ(ConnectPlainly(c, s).number, 0);
  EXPECT_EQ(c.LastReply(), "250");
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpReply, ServerClosingInsteadOfAnsweringFailsTheStepWithThePartialText) {
  {
    ScriptServer s;
    s.Reply("220 ready").Expect("HELO client.test").Send("250-half a reply\r\n").Hangup();
    s.Start();
    TestConnection c;
    const Outcome o = ConnectPlainly(c, s);
    EXPECT_EQ(o.number, mail::kErrHelo);
    EXPECT_EQ(o.message, "250-half a reply\r\n");
    EXPECT_FALSE(c.IsConnected());
    EXPECT_EQ(s.Finish(), "");
  }
  {
    ScriptServer s;
    s.Hangup();
    s.Start();
    TestConnection c;
    const Outcome o = ConnectPlainly(c, s);
    EXPECT_EQ(o.number, mail::kErrGreeting);
    EXPECT_EQ(o.message, "");
  }
}

TEST(SmtpReply, SilentServerFailsTheStepAfterTheReplyTimeout) {
  ScriptServer s;
  // The reply stops mid-line; the QUIT that follows gets no answer either.
  s.Reply("220 ready").Expect("HELO client.test").Send("250-wait for").Expect("QUIT");
  s.Start();
  TestConnection c;
  c.SetReplyTimeout(200ms);
  const Outcome o = ConnectPlainly(c, s);
  EXPECT_EQ(o.number, mail::kErrHelo);
  EXPECT_EQ(o.message, "250-wait for");
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpReply, AfterATimeOutQuitWaitsOnlyBriefly) {
  // A server that accepts and never says a word: the greeting's full wait,
  // then a short one for QUIT rather than a second full one.
  ScriptServer s;
  s.Do([](smtptest::Session& session, ScriptServer& server) {
    std::string line;
    if (!session.ReadLine(line, 10s) || line != "QUIT") server.Fail("no QUIT: \"" + line + "\"");
  });
  s.Start();
  TestConnection c;
  c.SetReplyTimeout(6s);
  const auto start = std::chrono::steady_clock::now();
  const Outcome o = ConnectPlainly(c, s);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(o.number, mail::kErrGreeting);
  EXPECT_GE(elapsed, 6s + CTernSMTPConnection::kQuitAfterTimeout - 100ms);
  EXPECT_LT(elapsed, 6s + CTernSMTPConnection::kQuitAfterTimeout + 1s);
  static_assert(CTernSMTPConnection::kDefaultReplyTimeout + CTernSMTPConnection::kQuitAfterTimeout < 65s);
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpSocket, ConnectionFailuresAreSystemErrorsWithoutMessage) {
  // A port nobody listens on: take a free one and close it again.
  std::uint16_t port;
  {
    platform::TcpListener probe;
    port = probe.Port();
  }
  TestConnection c;
  try {
    c.Connect(kHost, AuthMethod::kNone, "", "", port);
    ADD_FAILURE() << "Connect succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Facility(), mail::kFacilitySystem);
    EXPECT_EQ(e.Number(), ECONNREFUSED);
    EXPECT_EQ(e.Code(), 0x80070000u | ECONNREFUSED);
    EXPECT_EQ(e.Message(), "");
  }
  EXPECT_FALSE(c.IsConnected());

  try {
    c.Connect("no-such-host.invalid", AuthMethod::kNone, "", "", 25);
    ADD_FAILURE() << "Connect succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Facility(), mail::kFacilitySystem);
    EXPECT_EQ(e.Number(), platform::HostNotFoundError());
  }
}

TEST(SmtpSocket, UnresolvableBindAddressFailsBeforeAnyConnect) {
  ScriptServer s;
  s.acceptTimeout = 300ms;
  s.Start();
  TestConnection c;
  try {
    c.Connect(kHost, AuthMethod::kNone, "", "", s.Port(), "no-such-host.invalid");
    ADD_FAILURE() << "Connect succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Facility(), mail::kFacilitySystem);
  }
  EXPECT_FALSE(s.Connected());
}

// The server listens on 127.0.0.1; a client left to itself comes from
// there too, so only a bind to another loopback address shows in the peer.
TEST(SmtpSocket, BindAddressIsUsedForTheConnection) {
  ScriptServer s;
  s.ExpectPeer("127.0.0.2").Reply("220 ready").Expect("HELO client.test").Reply("250 ok").QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kNone, "", "", s.Port(), "127.0.0.2");
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpSocket, WithoutBindAddressTheSystemChoosesTheSource) {
  ScriptServer s;
  s.ExpectPeer("127.0.0.1").Reply("220 ready").Expect("HELO client.test").Reply("250 ok").QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

}  // namespace
