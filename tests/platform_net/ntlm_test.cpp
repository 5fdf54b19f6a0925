// The system's NTLM package through the platform's contexts, client and
// server in one process. Where the package or the user's credentials are
// missing (wine without Samba's ntlm_auth, a POSIX machine without an
// NTLM credentials file) every step must say so with a failure status and
// the package's words, never hand out a token.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/ntlm_security.h"

namespace {

using platform::NtlmClientContext;
using platform::NtlmServerContext;
using platform::NtlmStep;
namespace status = platform::ntlm_status;
using namespace std::string_literals;

// The NTLMSSP message type of a token (1 negotiate, 2 challenge, 3
// authenticate), 0 when it is no NTLMSSP message.
int MessageType(const std::string& token) {
  if (token.size() < 12 || token.compare(0, 8, "NTLMSSP\0"s) != 0) return 0;
  return static_cast<unsigned char>(token[8]);
}

void ExpectCleanFailure(const NtlmStep& step) {
  EXPECT_TRUE(step.Failed()) << step.status;
  EXPECT_LT(step.status, 0);
  EXPECT_FALSE(step.error.empty());
  EXPECT_TRUE(step.token.empty());
}

// Where the package is there: negotiate, challenge, authenticate, and the
// server knows who the client is.
TEST(NtlmContexts, ExchangeCompletesWithTheSystemsPackage) {
  auto client = NtlmClientContext::Create();
  ASSERT_TRUE(client);
  const NtlmStep negotiate = client->Start("localhost");
  if (negotiate.Failed()) GTEST_SKIP() << "no usable NTLM package here: " << negotiate.error;
  ASSERT_TRUE(negotiate.ContinueNeeded());
  EXPECT_EQ(MessageType(negotiate.token), 1);

  auto server = NtlmServerContext::Create();
  const NtlmStep challenge = server->Accept(negotiate.token);
  ASSERT_TRUE(challenge.ContinueNeeded()) << challenge.error;
  EXPECT_EQ(MessageType(challenge.token), 2);
  EXPECT_EQ(server->ClientName(), "") << "not before the exchange completed";

  const NtlmStep authenticate = client->Continue(challenge.token);
  ASSERT_FALSE(authenticate.Failed()) << authenticate.error;
  EXPECT_EQ(MessageType(authenticate.token), 3);
  const NtlmStep done = server->Accept(authenticate.token);
  EXPECT_EQ(done.status, status::kOk) << done.error;
  EXPECT_NE(server->ClientName(), "");
}

// Where it is not (wine without Samba's ntlm_auth, a POSIX machine
// without credentials): both sides say why, with nothing to send.
TEST(NtlmContexts, MissingPackageOrCredentialsAreReportedByEverySide) {
  auto client = NtlmClientContext::Create();
  const NtlmStep negotiate = client->Start("localhost");
  if (!negotiate.Failed()) GTEST_SKIP() << "the NTLM package works here";
  ExpectCleanFailure(negotiate);
#if defined(_WIN32)
  // Windows always has the package; wine has it only with ntlm_auth, and
  // then neither side can work without it.
  EXPECT_TRUE(negotiate.status == status::kPackageNotFound || negotiate.status == status::kNoCredentials)
      << std::hex << negotiate.status << " " << negotiate.error;
  if (negotiate.status == status::kPackageNotFound) {
    auto server = NtlmServerContext::Create();
    ExpectCleanFailure(server->Accept("NTLMSSP\0\1\0\0\0\0\0\0\0"s));
    EXPECT_EQ(server->ClientName(), "");
  }
#endif
}

TEST(NtlmContexts, StepsOutOfOrderOrWithGarbageFail) {
  auto early = NtlmClientContext::Create();
  ExpectCleanFailure(early->Continue("NTLMSSP\0\2\0\0\0"s));

  auto twice = NtlmClientContext::Create();
  const NtlmStep first = twice->Start("localhost");
  ExpectCleanFailure(twice->Start("localhost"));
  if (!first.Failed()) ExpectCleanFailure(twice->Continue("not a challenge"));

  auto server = NtlmServerContext::Create();
  ExpectCleanFailure(server->Accept("not a negotiate token"));
  EXPECT_EQ(server->ClientName(), "");
}

}  // namespace
