#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "mailer/base64_coder.h"
#include "mailer/smtp_connection.h"
#include "platform/ntlm_security.h"
#include "script_server.h"
#include "tests/support/test_env.h"

// The NTLM mechanism's library keeps a few hash objects of its crypto
// library for good; they are not this program's to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:gssntlmssp.so\nleak:libcrypto.so\n"; }

namespace {

using mail::AuthMethod;
using mail::CSMTPException;
using mail::CTernSMTPConnection;
using smtptest::ScriptServer;
using smtptest::Session;
using namespace std::chrono_literals;
namespace status = platform::ntlm_status;

constexpr const char* kHost = "127.0.0.1";

std::string Encode(std::string_view bytes) {
  mail::CBase64Coder coder;
  coder.Encode(bytes);
  return coder.EncodedMessage();
}

std::string Decode(std::string_view text) {
  mail::CBase64Coder coder;
  coder.Decode(text);
  return coder.DecodedMessage();
}

struct TestConnection : CTernSMTPConnection {
  TestConnection() {
    SetHeloHost("client.test");
    SetReplyTimeout(3s);
    SetTlsMode(mail::TlsMode::kNever);
  }
};

// Restores an environment variable on destruction.
class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    testing_support::SetEnv(name, value);
  }
  ~EnvVar() {
    if (old_) {
      testing_support::SetEnv(name_, *old_);
    } else {
      testing_support::UnsetEnv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Credential files of the NTLM mechanism ("DOMAIN:USER:PASSWORD" lines),
// the first of them the current user's.
class NtlmUsers : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("quillmark-ntlm-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    good_ = Write("users", "QUILLTEST:alice:Correct horse 1\n");
    other_ = Write("other", "QUILLTEST:alice:another password\n");
    userFile_.emplace("NTLM_USER_FILE", good_);
  }
  void TearDown() override {
    userFile_.reset();
    std::filesystem::remove_all(folder_);
  }
  std::string Write(const char* name, const std::string& text) {
    const auto path = folder_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  std::filesystem::path folder_;
  std::string good_, other_;
  std::optional<EnvVar> userFile_;
};

// The server's half of AUTH NTLM, checked by the system's NTLM acceptor.
// `beforeVerify` runs between the challenge and the check of the answer.
ScriptServer::Action NtlmAcceptor(std::string* clientName, std::function<void()> beforeVerify = {}) {
  return [clientName, beforeVerify](Session& session, ScriptServer& server) {
    std::string line;
    if (!session.ReadLine(line) || line.rfind("AUTH NTLM ", 0) != 0) {
      server.Fail("expected AUTH NTLM with a token, got \"" + line + "\"");
      return;
    }
    auto acceptor = platform::NtlmServerContext::Create();
    platform::NtlmStep step = acceptor->Accept(Decode(line.substr(10)));
    if (!step.ContinueNeeded()) {
      server.Fail("the negotiate token was not accepted: " + step.error);
      session.Send("535 bad negotiate\r\n");
      return;
    }
    session.Send("334 " + Encode(step.token) + "\r\n");
    if (!session.ReadLine(line)) {
      server.Fail("no answer to the challenge");
      return;
    }
    if (beforeVerify) beforeVerify();
    step = acceptor->Accept(Decode(line));
    if (step.status == status::kOk) {
      *clientName = acceptor->ClientName();
      session.Send("235 authenticated\r\n");
    } else {
      session.Send("535 authentication failed\r\n");
    }
  };
}

TEST_F(NtlmUsers, AcceptorAuthenticatesTheCurrentUser) {
  std::string clientName;
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250-mail.test\r\n250 AUTH NTLM")
      .Do(NtlmAcceptor(&clientName))
      .QuitReply();
  s.Start();
  TestConnection c;
  // The configured user name and password play no part.
  c.Connect(kHost, AuthMethod::kNtlm, "ignored", "ignored", s.Port());
  EXPECT_EQ(c.LastReply(), "235 authenticated");
  c.Disconnect();
  EXPECT_EQ(s.Finish(), "");
  EXPECT_EQ(clientName, "QUILLTEST\\alice");
}

TEST_F(NtlmUsers, WrongPasswordIsRefusedWithTheNtlmError) {
  std::string clientName;
  // The acceptor checks against a file where alice has another password;
  // the client is waiting for the reply while the variable changes.
  std::optional<EnvVar> serverSide;
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250 AUTH NTLM")
      .Do(NtlmAcceptor(&clientName, [&] { serverSide.emplace("NTLM_USER_FILE", other_); }))
      .QuitReply();
  s.Start();
  TestConnection c;
  try {
    c.Connect(kHost, AuthMethod::kNtlm, "", "", s.Port());
    ADD_FAILURE() << "Connect succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrNtlm);
    EXPECT_EQ(e.Message(), "535 authentication failed");
  }
  EXPECT_EQ(s.Finish(), "");
  EXPECT_EQ(clientName, "");
}

TEST_F(NtlmUsers, MissingCredentialsFailWithTheSecurityStatusBeforeAuth) {
  EnvVar none("NTLM_USER_FILE", (folder_ / "missing").string());
  ScriptServer s;
  s.Reply("220 ready").Expect("EHLO client.test").Reply("250 AUTH NTLM").QuitReply();
  s.Start();
  TestConnection c;
  try {
    c.Connect(kHost, AuthMethod::kNtlm, "", "", s.Port());
    ADD_FAILURE() << "Connect succeeded";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Code(), static_cast<std::uint32_t>(status::kNoCredentials));
    EXPECT_FALSE(e.Message().empty());
  }
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(s.Finish(), "");
}

// A security package with fixed tokens, to follow the tokens over the wire.
class FixedTokens final : public platform::NtlmClientContext {
 public:
  explicit FixedTokens(std::string* challengeSeen) : challengeSeen_(challengeSeen) {}
  platform::NtlmStep Start(std::string_view host) override {
    return {host == kHost ? status::kContinueNeeded : status::kInternalError, "NEGOTIATE", {}};
  }
  platform::NtlmStep Continue(std::string_view challenge) override {
    *challengeSeen_ = std::string(challenge);
    return {status::kOk, "AUTHENTICATE\x01\xFF", {}};
  }

 private:
  std::string* challengeSeen_;
};

struct FixedTokenConnection : TestConnection {
  explicit FixedTokenConnection(std::string* challengeSeen) {
    SetContextFactory([challengeSeen] { return std::make_unique<FixedTokens>(challengeSeen); });
  }
};

TEST(NtlmTokens, TokensTravelBase64EncodedAndTheChallengeDecoded) {
  const std::string challenge("CHALLENGE\0\x80 bytes", 17);
  ScriptServer s;
  s.Reply("220 ready")
      .Expect("EHLO client.test")
      .Reply("250 ok")
      .Expect("AUTH NTLM " + Encode("NEGOTIATE"))
      .Reply("334 " + Encode(challenge))
      .Expect(Encode("AUTHENTICATE\x01\xFF"))
      .Reply("235 ok")
      .QuitReply();
  s.Start();
  std::string seen;
  FixedTokenConnection c(&seen);
  c.Connect(kHost, AuthMethod::kNtlm, "", "", s.Port());
  c.Disconnect();
  EXPECT_EQ(seen, challenge);
  EXPECT_EQ(s.Finish(), "");
}

TEST(NtlmTokens, WrongRepliesAndOversizedChallenges) {
  struct Case {
    const char* name;
    std::string challengeReply;
    const char* finalReply;  // null: no answer expected
    std::uint32_t code;
  };
  const Case cases[] = {
      {"no challenge", "535 NTLM not supported", nullptr, 0x80040000u | mail::kErrNtlm},
      {"refused answer", "334 " + Encode("C"), "535 denied", 0x80040000u | mail::kErrNtlm},
      {"oversized challenge", "334 " + Encode(std::string(12000, 'c')), nullptr, 0x80090300u},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ScriptServer s;
    s.Reply("220 ready")
        .Expect("EHLO client.test")
        .Reply("250 ok")
        .Expect("AUTH NTLM " + Encode("NEGOTIATE"))
        .Reply(k.challengeReply);
    if (k.finalReply) s.Expect(Encode("AUTHENTICATE\x01\xFF")).Reply(k.finalReply);
    s.QuitReply();
    s.Start();
    std::string seen;
    FixedTokenConnection c(&seen);
    try {
      c.Connect(kHost, AuthMethod::kNtlm, "", "", s.Port());
      ADD_FAILURE() << "Connect succeeded";
    } catch (const CSMTPException& e) {
      EXPECT_EQ(e.Code(), k.code);
    }
    EXPECT_EQ(s.Finish(), "");
  }
}

}  // namespace
