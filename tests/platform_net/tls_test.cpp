// The platform's TLS client against real TLS servers (Python's ssl module,
// started by net_peers.py): records of every size both ways, the end of
// the stream, the certificate and name checks, and failing handshakes.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "net_peers.h"
#include "platform/socket.h"
#include "platform/tls.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nettest::Peers;
using platform::TcpSocket;
using platform::TlsError;
using platform::TlsStream;

struct Session {
  TcpSocket socket;
  std::unique_ptr<TlsStream> tls;
};

// Connects to the peer `name` and runs the handshake checking `host`.
std::unique_ptr<Session> Open(const std::string& name, const std::string& host,
                              std::chrono::milliseconds timeout = 10s) {
  auto session = std::make_unique<Session>();
  session->socket.Connect("127.0.0.1", Peers::Get().Port(name), 5s);
  session->tls = platform::StartTlsClient(session->socket, host, timeout);
  return session;
}

// The handshake's error text, or "" when it succeeded.
std::string Refusal(const std::string& name, const std::string& host,
                    std::chrono::milliseconds timeout = 10s) {
  try {
    Open(name, host, timeout);
  } catch (const TlsError& error) {
    return error.what();
  }
  return "";
}

std::string ReceiveBytes(TlsStream& tls, std::size_t count) {
  std::string bytes;
  char chunk[50000];
  while (bytes.size() < count) {
    if (!tls.WaitReadable(10s)) break;
    const std::size_t got = tls.Receive(chunk, sizeof chunk);
    if (got == 0) break;
    bytes.append(chunk, got);
  }
  return bytes;
}

TEST(TlsClient, CarriesSmallAndLargeWritesAndEndsAtTheClosingAlert) {
  QM_NEED_PEERS();
  nettest::TrustTestAuthority trust;
  for (const char* peer : {"server", "server12"}) {
    SCOPED_TRACE(peer);
    auto session = Open(peer, "localhost");
    const std::string version = session->tls->Version();
    EXPECT_TRUE(version == "TLSv1.2" || version == "TLSv1.3") << version;
    if (std::string(peer) == "server12") {
      EXPECT_EQ(version, "TLSv1.2");
    }

    // Nothing is pending: the wait ends at its time-out.
    auto start = Clock::now();
    EXPECT_FALSE(session->tls->WaitReadable(300ms));
    EXPECT_GE(Clock::now() - start, 250ms);

    session->tls->SendAll("hello\r\n");
    EXPECT_EQ(ReceiveBytes(*session->tls, 7), "hello\r\n");

    // Many records each way, a write larger than the socket's buffers.
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4093);
    // Sent in pieces of many records each, the echo read between them so
    // that neither side's buffers fill up.
    std::string echoed;
    char chunk[50000];
    for (std::size_t at = 0; at < big.size(); at += 65536) {
      session->tls->SendAll(std::string_view(big).substr(at, 65536));
      while (session->tls->WaitReadable(0ms)) {
        const std::size_t got = session->tls->Receive(chunk, sizeof chunk);
        if (got == 0) break;
        echoed.append(chunk, got);
      }
    }
    echoed += ReceiveBytes(*session->tls, big.size() - echoed.size());
    EXPECT_TRUE(echoed == big) << "echoed " << echoed.size() << " of " << big.size() << " bytes";

    // The server answers BYE with its closing alert: the end of the stream.
    session->tls->SendAll("BYE\r\n");
    EXPECT_EQ(ReceiveBytes(*session->tls, 5), "BYE\r\n");
    ASSERT_TRUE(session->tls->WaitReadable(10s));
    char byte;
    EXPECT_EQ(session->tls->Receive(&byte, 1), 0u);
    EXPECT_EQ(session->tls->Receive(&byte, 1), 0u) << "the end stays the end";
    session->tls->Shutdown();
  }
}

TEST(TlsClient, TheCertificateMustNameTheHostAskedFor) {
  QM_NEED_PEERS();
  nettest::TrustTestAuthority trust;
  struct Case {
    const char* peer;
    const char* host;
    bool accepted;
  };
  for (const Case& k : {Case{"server", "localhost", true}, Case{"server", "LocalHost", true},
                        Case{"server", "127.0.0.1", true}, Case{"server", "127.0.0.2", false},
                        Case{"server", "mail.localhost", false}, Case{"other", "localhost", false},
                        Case{"other", "other.test", true}, Case{"wild", "mail.quill.test", true},
                        Case{"wild", "MAIL.Quill.TEST", true}, Case{"wild", "quill.test", false},
                        Case{"wild", "a.b.quill.test", false}, Case{"wild", "mail.quill.testx", false},
                        Case{"cn", "cn.quill.test", true}, Case{"cn", "other.quill.test", false}}) {
    SCOPED_TRACE(std::string(k.peer) + " as " + k.host);
    const std::string refusal = Refusal(k.peer, k.host);
    if (k.accepted) {
      EXPECT_EQ(refusal, "");
    } else {
      EXPECT_EQ(refusal.rfind("certificate verify failed", 0), 0u) << refusal;
    }
  }
}

TEST(TlsClient, OnlyTrustedAuthoritiesCount) {
  QM_NEED_PEERS();
  {
    nettest::TrustTestAuthority trust;
    const std::string refusal = Refusal("rogue", "localhost");
    EXPECT_EQ(refusal.rfind("certificate verify failed", 0), 0u) << "self-signed: " << refusal;
  }
  // The system's trust store does not know the test authority.
  nettest::ScopedEnv noFile("SSL_CERT_FILE", "");
  nettest::ScopedEnv noFolder("SSL_CERT_DIR", "");
  const std::string refusal = Refusal("server", "localhost");
  EXPECT_EQ(refusal.rfind("certificate verify failed", 0), 0u) << "system store: " << refusal;
}

TEST(TlsClient, HandshakesThatCannotSucceedEndPromptlyOrAtTheirTimeOut) {
  QM_NEED_PEERS();
  nettest::TrustTestAuthority trust;
  // A server that speaks no TLS: refused at once, not at the time-out.
  auto start = Clock::now();
  const std::string notTls = Refusal("plain", "localhost", 10s);
  EXPECT_EQ(notTls.rfind("TLS handshake failed", 0), 0u) << notTls;
  EXPECT_LT(Clock::now() - start, 5s);

  start = Clock::now();
  const std::string silent = Refusal("silent", "localhost", 700ms);
  const auto waited = Clock::now() - start;
  EXPECT_EQ(silent, "TLS handshake timed out");
  EXPECT_GE(waited, 600ms);
  EXPECT_LT(waited, 5s);

  TcpSocket closed;
  EXPECT_THROW(platform::StartTlsClient(closed, "localhost", 1s), std::system_error);
}

}  // namespace
