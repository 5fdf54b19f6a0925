// The mailer's SMTP client through the platform's sockets and TLS to a
// real SMTP server (aiosmtpd, started by net_peers.py): plain, STARTTLS
// and TLS from the first byte, and a certificate that does not check out.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mailer/smtp_connection.h"
#include "net_peers.h"

namespace {

using mail::AuthMethod;
using mail::CSMTPException;
using mail::CTernSMTPConnection;
using mail::TlsMode;
using nettest::Peers;
using namespace std::chrono_literals;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What one server saw: the verbs of its commands (one a line in its
// commands.log) and the messages it stored, counted from when the object
// was made, since the server lives for the whole run.
class ServerLog {
 public:
  explicit ServerLog(const std::string& name) : store_(Peers::Get().Store(name)) {
    seen_ = Slurp(Log()).size();
  }
  std::string NewCommands() const {
    std::string text = Slurp(Log()).substr(seen_);
    for (char& c : text) {
      if (c == '\n') c = ' ';
    }
    return text;
  }
  // The stored message number `n` (1, 2, ...), empty when there is none.
  std::string Message(int n) const {
    return Slurp(store_ + Separator() + "msg-" + std::to_string(n) + ".eml");
  }

 private:
  static const char* Separator() {
#if defined(_WIN32)
    return "\\";
#else
    return "/";
#endif
  }
  std::string Log() const { return store_ + Separator() + "commands.log"; }
  std::string store_;
  std::size_t seen_ = 0;
};

struct TestConnection : CTernSMTPConnection {
  explicit TestConnection(TlsMode mode) {
    SetHeloHost("client.test");
    SetReplyTimeout(10s);
    SetTlsMode(mode);
  }
};

const std::string kData =
    "Subject: net test\r\n\r\nfirst line\r\n..a line that starts with a dot\r\nlast line\r\n";
const std::vector<std::string> kRecipients = {"to@x.test", "cc@x.test"};

TEST(SmtpPeer, PlainConversationDeliversTheMessage) {
  QM_NEED_PEERS();
  ServerLog server("smtp");
  TestConnection c(TlsMode::kNever);
  c.Connect("127.0.0.1", AuthMethod::kNone, "", "", Peers::Get().Port("smtp"));
  EXPECT_FALSE(c.IsEncrypted());
  c.SendMail("from@x.test", kRecipients, kData);
  c.Disconnect();
  EXPECT_EQ(server.NewCommands(), "HELO MAIL RCPT RCPT DATA QUIT ");
  EXPECT_NE(server.Message(1).find("first line\r\n.a line that starts with a dot\r\nlast line"),
            std::string::npos)
      << server.Message(1);
}

TEST(SmtpPeer, StartTlsThenLoginAndDelivery) {
  QM_NEED_PEERS();
  nettest::TrustTestAuthority trust;
  ServerLog server("smtp_starttls");
  TestConnection c(TlsMode::kRequired);
  c.Connect("127.0.0.1", AuthMethod::kPlain, "mailuser", "s3cret", Peers::Get().Port("smtp_starttls"));
  EXPECT_TRUE(c.IsEncrypted());
  EXPECT_FALSE(c.TlsVersion().empty());
  c.SendMail("from@x.test", kRecipients, kData);
  c.Disconnect();
  EXPECT_EQ(server.NewCommands(), "EHLO STARTTLS EHLO AUTH MAIL RCPT RCPT DATA QUIT ");
}

TEST(SmtpPeer, TlsFromTheFirstByte) {
  QM_NEED_PEERS();
  nettest::TrustTestAuthority trust;
  ServerLog server("smtp_implicit");
  const std::uint16_t port = Peers::Get().Port("smtp_implicit");
  TestConnection c(TlsMode::kWhenOffered);
  c.SetImplicitTlsPort(port);
  c.Connect("localhost", AuthMethod::kPlain, "mailuser", "s3cret", port);
  EXPECT_TRUE(c.IsEncrypted());
  c.SendMail("from@x.test", kRecipients, kData);
  c.Disconnect();
  EXPECT_EQ(server.NewCommands(), "EHLO AUTH MAIL RCPT RCPT DATA QUIT ");
}

TEST(SmtpPeer, UntrustedCertificateEndsTheConversationBeforeTheLogin) {
  QM_NEED_PEERS();
  // Only the system's authorities: the test authority is not one of them.
  nettest::ScopedEnv noFile("SSL_CERT_FILE", "");
  nettest::ScopedEnv noFolder("SSL_CERT_DIR", "");
  ServerLog server("smtp_starttls");
  TestConnection c(TlsMode::kWhenOffered);
  try {
    c.Connect("127.0.0.1", AuthMethod::kPlain, "mailuser", "s3cret", Peers::Get().Port("smtp_starttls"));
    ADD_FAILURE() << "connected";
  } catch (const CSMTPException& e) {
    EXPECT_EQ(e.Number(), mail::kErrTlsHandshake);
    EXPECT_EQ(e.Message().rfind("certificate verify failed", 0), 0u) << e.Message();
  }
  EXPECT_FALSE(c.IsConnected());
  // The server may or may not log the aborted connection's end; no login
  // and no message either way.
  EXPECT_EQ(server.NewCommands().rfind("EHLO STARTTLS ", 0), 0u);
  EXPECT_EQ(server.NewCommands().find("AUTH"), std::string::npos);
}

}  // namespace
