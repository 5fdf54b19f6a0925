#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mailer/smtp_connection.h"
#include "mailer/smtp_message.h"
#include "script_server.h"

namespace {

using mail::AuthMethod;
using mail::CSMTPAddress;
using mail::CSMTPException;
using mail::CSMTPMessage;
using mail::CTernSMTPConnection;
using smtptest::ScriptServer;
using namespace std::chrono_literals;

constexpr const char* kHost = "127.0.0.1";

// A connection that greets as "client.test", gives up on a silent server
// quickly, so that a broken script fails the test rather than hanging it,
// and (unless a test asks for TLS) never tries STARTTLS.
struct TestConnection : CTernSMTPConnection {
  explicit TestConnection(mail::TlsMode mode = mail::TlsMode::kNever) {
    SetHeloHost("client.test");
    SetReplyTimeout(3s);
    SetTlsMode(mode);
  }
};

CSMTPMessage SimpleMessage() {
  CSMTPMessage m;
  m.SetSender(CSMTPAddress("from@x.test", "Sender"));
  m.AddRecipientList("to1@x.test; To Two <to2@x.test>", CSMTPMessage::kTo);
  m.AddRecipient(CSMTPAddress("cc@x.test"), CSMTPMessage::kCc);
  m.AddRecipient(CSMTPAddress("hidden@x.test"), CSMTPMessage::kBcc);
  m.SetSubject("Report");
  m.SetBodyText("line one\n.line two starts with a dot\n");
  return m;
}

// The expected commands and replies of one message transaction.
void ScriptTransaction(ScriptServer& s) {
  s.Expect("MAIL FROM:<from@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<to1@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<to2@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<cc@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<hidden@x.test>")
      .Reply("250 ok")
      .Expect("DATA")
      .Reply("354 go ahead")
      .ExpectData()
      .Reply("250 queued");
}

TEST(SmtpConversation, WithoutLoginGreetsWithHeloAndQuitsOnDestruction) {
  ScriptServer s;
  s.Reply("220 mail.test ready").Expect("HELO client.test").Reply("250 hello");
  ScriptTransaction(s);
  s.QuitReply();
  s.Start();
  {
    TestConnection c;
    c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());
    EXPECT_TRUE(c.IsConnected());
    c.SendMessage(SimpleMessage());
    EXPECT_EQ(c.LastReply(), "250 queued");
  }
  EXPECT_EQ(s.Finish(), "");
  const auto data = s.Data();
  ASSERT_EQ(data.size(), 1u);
  // Header, blank line, body; the Bcc recipient is in no header, the dot
  // line is stuffed once.
  EXPECT_NE(data[0].find("To: to1@x.test,To Two <to2@x.test>\r\nCc: cc@x.test\r\n"), std::string::npos);
  EXPECT_EQ(data[0].find("hidden"), std::string::npos);
  EXPECT_NE(data[0].find("\r\n\r\nline one\r\n..line two starts with a dot\r\n"), std::string::npos);
}

TEST(SmtpConversation, AuthPlainIsATwoPromptDialogueInPlainText) {
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250-mail.test\r\n250 AUTH PLAIN LOGIN")
      .Expect("AUTH PLAIN")
      .Reply("334 Username:")
      .Expect("jane")
      .Reply("334 Password:")
      .Expect("s3cret")
      .Reply("235 welcome");
  ScriptTransaction(s);
  s.QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kPlain, "jane", "s3cret", s.Port());
  c.SendMessage(SimpleMessage());
  c.Disconnect();
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpConversation, AuthPlainOldDialogueAlsoWithBase64Prompts) {
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250 AUTH PLAIN")
      .Expect("AUTH PLAIN")
      .Reply("334 VXNlcm5hbWU6")  // "Username:"
      .Expect("jane")
      .Reply("334 UGFzc3dvcmQ6")  // "Password:"
      .Expect("s3cret")
      .Reply("235 welcome")
      .QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kPlain, "jane", "s3cret", s.Port());
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpConversation, AuthPlainSendsOneBase64ResponseToAnEmptyChallenge) {
  // RFC 4616, as Postfix and aiosmtpd speak it: "\0jane\0s3cret".
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250-mail.test\r\n250 AUTH PLAIN LOGIN")
      .Expect("AUTH PLAIN")
      .Reply("334 ")
      .Expect("AGphbmUAczNjcmV0")
      .Reply("235 2.7.0 Authentication successful")
      .QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kPlain, "jane", "s3cret", s.Port());
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpConversation, AuthLoginAnswersPromptsWhateverTheySay) {
  // aiosmtpd's "User Name" / "Password", and a server that sends none.
  for (const auto& [first, second] :
       {std::pair{"334 VXNlciBOYW1lAA==", "334 UGFzc3dvcmQA"}, std::pair{"334 ", "334 "}}) {
    ScriptServer s;
    s.Reply("220 ready")
        .Expect("EHLO client.test")
        .Reply("250 AUTH LOGIN")
        .Expect("AUTH LOGIN")
        .Reply(first)
        .Expect("amFuZQ==")
        .Reply(second)
        .Expect("czNjcmV0")
        .Reply("235 welcome")
        .QuitReply();
    s.Start();
    TestConnection c;
    c.Connect(kHost, AuthMethod::kLogin, "jane", "s3cret", s.Port());
    c.Disconnect();
    EXPECT_EQ(s.Finish(), "");
  }
}

TEST(SmtpConversation, AuthLoginSendsBase64AndAcceptsPromptsInAnyCase) {
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250 AUTH LOGIN")
      .Expect("AUTH LOGIN")
      .Reply("334 VXNlcm5hbWU6")  // "Username:"
      .Expect("amFuZQ==")
      .Reply("334 UEFTU1dPUkQ6")  // "PASSWORD:"
      .Expect("czNjcmV0")
      .Reply("235 welcome")
      .QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kLogin, "jane", "s3cret", s.Port());
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpConversation, CramMd5AnswersWithUserAndLowerCaseHexDigest) {
  // The worked example of RFC 2195.
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250 AUTH CRAM-MD5")
      .Expect("AUTH CRAM-MD5")
      .Reply("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+")
      .Expect("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw")
      .Reply("235 ok")
      .QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kCramMd5, "tim", "tanstaaftanstaaf", s.Port());
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpConversation, CramMd5ChallengeEndsAtItsFirstZeroByte) {
  // "<1>\0tail" is answered like "<1>".
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250 AUTH CRAM-MD5")
      .Expect("AUTH CRAM-MD5")
      .Reply("334 PDE+AHRhaWw=")
      .Expect("dSAyYjBhZDNlZmRiZjkxNGI1NmVhY2UwNzFhOTcwNmEzZA==")
      .Reply("235 ok")
      .QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kCramMd5, "u", "p", s.Port());
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

// One step answered wrongly: the server's script up to the step, the wrong
// reply, and the error number the connection must raise.
struct WrongStep {
  const char* name;
  AuthMethod method;
  std::vector<std::pair<const char*, const char*>> dialogue;  // expected line, reply
  const char* wrongReply;
  int number;
  bool duringConnect = true;
};

std::vector<WrongStep> WrongSteps() {
  using P = std::pair<const char*, const char*>;
  const P ehlo{"EHLO client.test", "250 ok"};
  const P login{"AUTH LOGIN", "334 VXNlcm5hbWU6"};
  const P loginUser{"dQ==", "334 UGFzc3dvcmQ6"};
  const P plain{"AUTH PLAIN", "334 username:"};
  const P plainUser{"u", "334 password:"};
  const P mail{"MAIL FROM:<from@x.test>", "250 ok"};
  const P rcpt{"RCPT TO:<to@x.test>", "250 ok"};
  return {
      {"greeting", AuthMethod::kNone, {}, "554 go away", 512},
      {"helo", AuthMethod::kNone, {{"HELO client.test", nullptr}}, "421 busy", 517},
      {"ehlo", AuthMethod::kLogin, {{"EHLO client.test", nullptr}}, "421 busy", 516},
      {"login command", AuthMethod::kLogin, {ehlo, {"AUTH LOGIN", nullptr}}, "504 no such method", 525},
      {"login user", AuthMethod::kLogin, {ehlo, login, {"dQ==", nullptr}}, "535 no", 527},
      {"login password", AuthMethod::kLogin, {ehlo, login, loginUser, {"cA==", nullptr}}, "535 wrong", 529},
      {"plain command", AuthMethod::kPlain, {ehlo, {"AUTH PLAIN", nullptr}}, "504 no", 530},
      {"plain response",
       AuthMethod::kPlain,
       {ehlo, {"AUTH PLAIN", "334 "}, {"AHUAcA==", nullptr}},
       "535 5.7.8 no",
       534},
      {"plain user", AuthMethod::kPlain, {ehlo, plain, {"u", nullptr}}, "535 no", 532},
      {"plain password prompt", AuthMethod::kPlain, {ehlo, plain, {"u", nullptr}}, "334 username:", 533},
      {"plain password", AuthMethod::kPlain, {ehlo, plain, plainUser, {"p", nullptr}}, "535 wrong", 534},
      {"cram command", AuthMethod::kCramMd5, {ehlo, {"AUTH CRAM-MD5", nullptr}}, "504 no", 535},
      {"cram response",
       AuthMethod::kCramMd5,
       {ehlo, {"AUTH CRAM-MD5", "334 PDE+"}, {"dSAyYjBhZDNlZmRiZjkxNGI1NmVhY2UwNzFhOTcwNmEzZA==", nullptr}},
       "535 wrong",
       536},
      {"mail from",
       AuthMethod::kNone,
       {{"HELO client.test", "250 ok"}, {"MAIL FROM:<from@x.test>", nullptr}},
       "550 not you",
       519,
       false},
      {"rcpt to",
       AuthMethod::kNone,
       {{"HELO client.test", "250 ok"}, mail, {"RCPT TO:<to@x.test>", nullptr}},
       "550 unknown user",
       524,
       false},
      {"data",
       AuthMethod::kNone,
       {{"HELO client.test", "250 ok"}, mail, rcpt, {"DATA", nullptr}},
       "554 no data",
       520,
       false},
  };
}

TEST(SmtpConversation, EveryWrongReplyRaisesItsErrorWithTheReplyAndQuits) {
  for (const WrongStep& step : WrongSteps()) {
    SCOPED_TRACE(step.name);
    ScriptServer s;
    s.Reply(step.dialogue.empty() ? step.wrongReply : "220 ready");
    for (const auto& [line, reply] : step.dialogue) {
      s.Expect(line);
      s.Reply(reply ? reply : step.wrongReply);
    }
    s.QuitReply();
    s.Start();

    TestConnection c;
    try {
      c.Connect(kHost, step.method, "u", "p", s.Port());
      ASSERT_FALSE(step.duringConnect) << "Connect succeeded";
      CSMTPMessage m;
      m.SetSender(CSMTPAddress("from@x.test"));
      m.AddRecipient(CSMTPAddress("to@x.test"));
      m.SetBodyText("text");
      c.SendMessage(m);
      ADD_FAILURE() << "SendMessage succeeded";
    } catch (const CSMTPException& e) {
      EXPECT_EQ(e.Facility(), mail::kFacilityInterface);
      EXPECT_EQ(e.Number(), step.number);
      EXPECT_EQ(e.Code(), 0x80040000u | static_cast<unsigned>(step.number));
      EXPECT_EQ(e.Message(), step.wrongReply);
      // A failed Connect has already said QUIT and closed.
      EXPECT_EQ(c.IsConnected(), !step.duringConnect);
    }
    if (c.IsConnected()) c.Disconnect();
    EXPECT_EQ(s.Finish(), "");
  }
}

TEST(SmtpConversation, EndOfDataAndQuitFailures) {
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("HELO client.test")
      .Reply("250 ok")
      .Expect("MAIL FROM:<from@x.test>")
      .Reply("250 ok")
      .Expect("DATA")
      .Reply("354 go")
      .ExpectData()
      .Reply("552 too big")
      .Expect("QUIT")
      .Reply("500 what");
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());
  try {
    const std::vector<std::string> nobody;  // MAIL FROM goes straight to DATA
    c.SendMail("from@x.test", nobody, "Subject: x\r\n\r\nbody");
    ADD_FAILURE() << "SendMail succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrEndOfData);
    EXPECT_EQ(e.Message(), "552 too big");
  }
  try {
    c.Disconnect();
    ADD_FAILURE() << "Disconnect succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrQuit);
    EXPECT_EQ(e.Message(), "500 what");
  }
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(s.Finish(), "");
  EXPECT_EQ(s.Data(), std::vector<std::string>{"Subject: x\r\n\r\nbody"});
}

TEST(SmtpGreeting, LoginFallsBackToHeloOnlyWhenEhloIsUnknown) {
  for (const char* unknown : {"500 command unrecognized", "502 not implemented"}) {
    SCOPED_TRACE(unknown);
    ScriptServer s;
    s.Reply("220 ready")
        .Expect("EHLO client.test")
        .Reply(unknown)
        .Expect("HELO client.test")
        .Reply("250 old server")
        .Expect("AUTH PLAIN")
        .Reply("334 username:")
        .Expect("u")
        .Reply("334 password:")
        .Expect("p")
        .Reply("235 ok")
        .QuitReply();
    s.Start();
    TestConnection c;
    c.Connect(kHost, AuthMethod::kPlain, "u", "p", s.Port());
    c.Disconnect();
    EXPECT_EQ(s.Finish(), "");
  }
}

TEST(SmtpGreeting, EhloRefusedOtherwiseOrHeloRefusedAfterFallbackFails) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> dialogue;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{{"EHLO client.test", "554 no service"}}, "554 no service"},
      {{{"EHLO client.test", "502 unknown"}, {"HELO client.test", "501 bad name"}}, "501 bad name"},
  };
  for (const Case& k : cases) {
    ScriptServer s;
    s.Reply("220 ready");
    for (const auto& [line, reply] : k.dialogue) s.Expect(line).Reply(reply);
    s.QuitReply();
    s.Start();
    TestConnection c;
    try {
      c.Connect(kHost, AuthMethod::kLogin, "u", "p", s.Port());
      ADD_FAILURE() << "Connect succeeded";
    } catch (const CSMTPException& e) {
      EXPECT_EQ(e.Number(), mail::kErrHeloBeforeAuth);
      EXPECT_EQ(e.Message(), k.message);
    }
    EXPECT_EQ(s.Finish(), "");
  }
}

TEST(SmtpGreeting, WithoutLoginAnEhloOnlyServerStillGetsHelo) {
  // No fallback the other way: without a login there is no reason for EHLO.
  ScriptServer s;
  s.Reply("220 ready").Expect("HELO client.test").Reply("502 use EHLO").QuitReply();
  s.Start();
  TestConnection c;
  try {
    c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());
    ADD_FAILURE() << "Connect succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrHelo);
  }
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpLineBreaks, HostUserAndPasswordAreRefusedBeforeConnecting) {
  struct Case {
    const char* host;
    const char* user;
    const char* password;
    const char* helo;
  };
  const Case cases[] = {
      {"127.0.0.1\r\nRSET", "u", "p", "client.test"},
      {kHost, "u\r\nMAIL FROM:<x@y>", "p", "client.test"},
      {kHost, "u", "p\n", "client.test"},
      {kHost, "u", "p", "client.test\rX"},
  };
  for (const Case& k : cases) {
    ScriptServer s;
    s.acceptTimeout = 300ms;
    s.Start();
    TestConnection c;
    c.SetHeloHost(k.helo);
    try {
      c.Connect(k.host, AuthMethod::kPlain, k.user, k.password, s.Port());
      ADD_FAILURE() << "Connect succeeded";
    } catch (const CSMTPException& e) {
      EXPECT_EQ(e.Facility(), mail::kFacilityInterface);
      EXPECT_EQ(e.Number(), mail::kErrLineBreak);
    }
    EXPECT_FALSE(s.Connected());
  }
}

TEST(SmtpLineBreaks, AddressesAreRefusedBeforeMailFrom) {
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("HELO client.test")
      .Reply("250 ok")
      .Expect("MAIL FROM:<from@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<to@x.test>")
      .Reply("250 ok")
      .Expect("DATA")
      .Reply("354 go")
      .ExpectData()
      .Reply("250 ok")
      .QuitReply();
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());

  // Through the message: the header error, nothing sent.
  CSMTPMessage m;
  m.SetSender(CSMTPAddress("from@x.test"));
  m.AddRecipient(CSMTPAddress("to@x.test>\r\nRCPT TO:<victim@x.test"), CSMTPMessage::kBcc);
  m.SetBodyText("text");
  try {
    c.SendMessage(m);
    ADD_FAILURE() << "SendMessage succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrPartHeader);
  }
  // Directly: the command error, nothing sent.
  const std::vector<std::string> injected{"to@x.test>\nDATA"};
  EXPECT_THROW(c.SendMail("from@x.test", injected, "x"), CSMTPException);
  try {
    c.SendMail("from@x.test\r\n", std::vector<std::string>{"to@x.test"}, "x");
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrLineBreak);
  }
  // The connection is still in step with the server.
  c.SendMail("from@x.test", std::vector<std::string>{"to@x.test"}, "Subject: ok\r\n\r\nok");
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
}

TEST(SmtpMessageText, MissingAttachmentFailsBeforeMailFromAndQuitIsAnsweredAtOnce) {
  const std::string missing =
      (std::filesystem::temp_directory_path() / "quillmark-no-such-report.xml").string();
  std::filesystem::remove(missing);
  ScriptServer s;
  s.Reply("220 ready").Expect("HELO client.test").Reply("250 ok").QuitReply();
  s.Start();
  // The real time-out: a QUIT lost inside message data would wait for it.
  CTernSMTPConnection c;
  c.SetHeloHost("client.test");
  c.SetTlsMode(mail::TlsMode::kNever);
  c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());
  CSMTPMessage m = SimpleMessage();
  m.AddAttachmentList(missing);
  try {
    c.SendMessage(m);
    ADD_FAILURE() << "SendMessage succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrPartBody);
  }
  EXPECT_TRUE(c.IsConnected());
  EXPECT_NO_THROW(c.Disconnect());  // 221 arrived: QUIT was a command, not data
  EXPECT_EQ(s.Finish(), "");
  EXPECT_TRUE(s.Data().empty());
}

TEST(SmtpMessageText, AttachmentFailingMidwayIsNeverDelivered) {
  // The file passes the checks before MAIL FROM, then grows past the limit
  // while it is sent: the client drops the connection instead of ending
  // the data, so the server discards the half message.
  const auto file =
      std::filesystem::temp_directory_path() / ("quillmark-growing-" + std::to_string(::getpid()) + ".bin");
  std::ofstream{file};  // an empty file, made sparse to the limit at once
  std::filesystem::resize_file(file, mail::CSMTPBodyPart::kMaxAttachmentSize);
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("HELO client.test")
      .Reply("250 ok")
      .Expect("MAIL FROM:<from@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<to1@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<to2@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<cc@x.test>")
      .Reply("250 ok")
      .Expect("RCPT TO:<hidden@x.test>")
      .Reply("250 ok")
      .Expect("DATA")
      .Do([file](smtptest::Session&, ScriptServer&) {
        std::filesystem::resize_file(file, mail::CSMTPBodyPart::kMaxAttachmentSize + 100);
      })
      .Reply("354 go ahead")
      .Do([](smtptest::Session& session, ScriptServer& server) {
        std::string data;
        if (!session.WaitForClose(data, 20s)) server.Fail("the client did not drop the connection");
        if (data.find("\r\n.\r\n") != std::string::npos) server.Fail("the data was ended");
        if (data.find("QUIT") != std::string::npos) server.Fail("QUIT inside the data");
        if (data.size() < mail::CSMTPBodyPart::kMaxAttachmentSize) server.Fail("too little data");
      });
  s.Start();
  TestConnection c;
  c.Connect(kHost, AuthMethod::kNone, "", "", s.Port());
  CSMTPMessage m = SimpleMessage();
  m.AddAttachmentList(file.string());
  try {
    c.SendMessage(m);
    ADD_FAILURE() << "SendMessage succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrPartBody);
  }
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(s.Finish(), "");
  std::filesystem::remove(file);
}

}  // namespace
