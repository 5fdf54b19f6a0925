// Postrider against a real MTA: a private Postfix on loopback ports, with
// Cyrus SASL (PLAIN, LOGIN, CRAM-MD5 from a sasldb), STARTTLS and TLS from
// the first byte with a CA made for the test, and delivery to a maildir.
// Every delivered copy must pass Python's strict parser and carry the
// attachment byte for byte.
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "../mailer_e2e/postrider_e2e_support.h"
#include "platform/socket.h"

namespace {

using namespace e2e;
using namespace std::chrono_literals;

const std::string kUser = "mailuser";
const std::string kPassword = "pass w0rd;\"x";
const std::string kPostfixScript = std::string(QM_SOURCE_DIR) + "/tests/mailer_postfix/private_postfix.sh";

bool PortAnswers(int port) {
  try {
    platform::TcpSocket socket;
    socket.Connect("127.0.0.1", static_cast<std::uint16_t>(port), 1s);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// One Postfix for the whole suite (starting one takes a few seconds),
// stopped at the end by the script that started it.
class PrivatePostfix {
 public:
  PrivatePostfix() {
    char tmpl[] = "/tmp/quillmark-postfix-XXXXXX";
    if (!::mkdtemp(tmpl)) return;
    folder_ = tmpl;
    // The delivery agent (nobody) and postfix must reach the folders below.
    ::chmod(folder_.c_str(), 0755);
    ca_ = std::make_unique<TestCa>(folder_);
    const std::string cmd = "sh '" + kPostfixScript + "' start '" + (folder_ / "pf").string() + "' '" +
                            ca_->File("server.crt") + "' '" + ca_->File("server.key") + "' '" + kUser +
                            "' '" + kPassword + "' >'" + (folder_ / "start.log").string() + "' 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      error_ = "private Postfix did not start: " + ReadWholeFile(folder_ / "start.log");
      return;
    }
    smtp_ = std::stoi("0" + ReadWholeFile(folder_ / "pf" / "smtp.port"));
    smtps_ = std::stoi("0" + ReadWholeFile(folder_ / "pf" / "smtps.port"));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!(PortAnswers(smtp_) && PortAnswers(smtps_))) {
      if (std::chrono::steady_clock::now() > deadline) {
        error_ = "private Postfix is not listening";
        return;
      }
      std::this_thread::sleep_for(100ms);
    }
  }
  ~PrivatePostfix() {
    if (folder_.empty()) return;
    const std::string cmd = "sh '" + kPostfixScript + "' stop '" + (folder_ / "pf").string() + "'";
    (void)std::system(cmd.c_str());
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  const std::string& Error() const { return error_; }
  int SmtpPort() const { return smtp_; }
  int SmtpsPort() const { return smtps_; }
  const TestCa& Ca() const { return *ca_; }
  std::string Log() const { return ReadWholeFile(folder_ / "pf" / "maillog"); }

  // The delivered copy for `recipient` (its Delivered-To line), waited for.
  std::optional<std::string> Delivered(const std::string& recipient, std::chrono::seconds wait = 20s) const {
    const fs::path inbox = folder_ / "pf" / "mail" / "inbox" / "new";
    const std::string mark = "Delivered-To: " + recipient + "\n";
    const auto deadline = std::chrono::steady_clock::now() + wait;
    do {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(inbox, ec)) {
        std::string text = ReadWholeFile(entry.path());
        if (text.find(mark) != std::string::npos) return text;
      }
      std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
  }

 private:
  fs::path folder_;
  std::unique_ptr<TestCa> ca_;
  std::string error_;
  int smtp_ = 0;
  int smtps_ = 0;
};

PrivatePostfix* postfix = nullptr;

class PostriderPostfix : public PostriderEndToEnd {
 protected:
  static void SetUpTestSuite() {
    if (::geteuid() != 0 || !fs::exists("/usr/sbin/postfix") || !fs::exists("/usr/sbin/saslpasswd2")) return;
    postfix = new PrivatePostfix();
  }
  static void TearDownTestSuite() {
    delete postfix;
    postfix = nullptr;
  }
  void SetUp() override {
    if (!postfix) GTEST_SKIP() << "needs root, postfix and sasl2-bin";
    ASSERT_EQ(postfix->Error(), "");
  }

  // A recipient of its own for every run in the suite, to find its copy by.
  static std::string NextRecipient() { return "run" + std::to_string(++runs_) + "@x.test"; }

  // Mails `file` with `method` and "SMTPTLS" `tls` (3: TLS from the first
  // byte on the second port); returns the delivered copy or "".
  std::string Mail(const std::string& method, int tls, const std::string& file, int expectedExit = 0) {
    const std::string recipient = NextRecipient();
    Configure(tls == 3 ? postfix->SmtpsPort() : postfix->SmtpPort(), method, file);
    SetScrambled("EmailAddress", recipient);
    SetScrambled("SMTPEmailAddress4Server", kUser);
    SetScrambled("SMTPPass4MailServer", kPassword);
    SetTls(tls == 3 ? 1 : static_cast<std::uint32_t>(tls));
    std::string environment = postfix->Ca().TrustIt();
    if (tls == 3) environment += " QUILLMARK_SMTPS_PORT=" + std::to_string(postfix->SmtpsPort());
    const int status = RunPostrider(environment);
    EXPECT_EQ(status, expectedExit) << diagnostic;
    if (status != 0) return "";
    auto text = postfix->Delivered(recipient);
    EXPECT_TRUE(text) << "not delivered to " << recipient << "\n" << postfix->Log();
    return text.value_or("");
  }

  // The Received line's protocol: ESMTP, ESMTPA, ESMTPS or ESMTPSA.
  static std::string Protocol(const std::string& copy) {
    const auto at = copy.find(" with ");
    if (at == std::string::npos) return "";
    const auto end = copy.find_first_of(" \n", at + 6);
    return copy.substr(at + 6, end - at - 6);
  }

  std::map<std::string, std::string> InspectText(const std::string& copy) {
    const fs::path file = scratch.Folder() / ("copy" + std::to_string(runs_) + ".eml");
    std::ofstream(file, std::ios::binary) << copy;
    return Inspect(file);
  }

  static inline int runs_ = 0;
};

std::string Attachment() {
  std::string bytes = "<log>\r\n.\r\n";
  for (int round = 0; round < 64; ++round) {
    for (int c = 0; c < 256; ++c) bytes.push_back(static_cast<char>(c));
  }
  return bytes + "\r\n.. end</log>";
}

TEST_F(PostriderPostfix, EveryLoginWithAndWithoutTlsDeliversAValidMessage) {
  const std::string bytes = Attachment();
  const std::string file = WriteFile("Report.xml", bytes);
  for (const char* method : {"AUTH PLAIN", "AUTH LOGIN", "CRAM MD5", "None"}) {
    for (int tls : {0, 1, 3}) {
      SCOPED_TRACE(std::string(method) + ", SMTPTLS " + (tls == 3 ? "port-465 style" : std::to_string(tls)));
      const std::string copy = Mail(method, tls, file);
      if (copy.empty()) continue;
      // Without a login or TLS the greeting is HELO.
      const bool login = std::string(method) != "None";
      const std::string protocol =
          !login && !tls ? "SMTP" : std::string("ESMTP") + (tls ? "S" : "") + (login ? "A" : "");
      EXPECT_EQ(Protocol(copy), protocol) << copy.substr(0, 400);
      auto m = InspectText(copy);
      EXPECT_EQ(m["strict"], "true");
      EXPECT_EQ(m["defects"], "[]");
      EXPECT_EQ(m["part1_filename"], Json("Report.xml"));
      EXPECT_EQ(m["part1_hex"], Json(Hex(bytes)));
      EXPECT_EQ(m["subject"], Json("Log From Quillmark... LatestLog.xml"));
      EXPECT_NE(copy.find("\nMessage-ID: <"), std::string::npos);
    }
  }
}

TEST_F(PostriderPostfix, NonAsciiFileNameAndALargeAttachmentArriveWhole) {
  std::string bytes(5 * 1024 * 1024 + 7, '\0');
  std::uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  WriteFile("Z\xC3\xBCrich.xml", bytes);
  const std::string copy = Mail("AUTH PLAIN", 1, (Logs() / "Z").string() + "\xFCrich.xml");
  ASSERT_FALSE(copy.empty());
  auto m = InspectText(copy);
  EXPECT_EQ(m["strict"], "true");
  EXPECT_EQ(m["part1_filename"], Json("Z\xFCrich.xml"));
  EXPECT_TRUE(m["part1_hex"] == Json(Hex(bytes))) << "the attachment differs";
}

TEST_F(PostriderPostfix, WrongPasswordAndInjectionsAreRefused) {
  const std::string file = WriteFile("Report.xml", "<log/>");
  Configure(postfix->SmtpPort(), "AUTH PLAIN", file);
  SetScrambled("SMTPEmailAddress4Server", kUser);
  SetScrambled("SMTPPass4MailServer", "wrong");
  EXPECT_EQ(RunPostrider(postfix->Ca().TrustIt()), 1);
  EXPECT_EQ(diagnostic.rfind("Postrider: error 534: 535 5.7.8 ", 0), 0u) << diagnostic;

  SetScrambled("SMTPPass4MailServer", kPassword);
  const std::string victim = NextRecipient();
  const std::vector<std::pair<const char*, std::string>> attempts = {
      {"EmailAddress", "a@x.test\r\nRCPT TO:<" + victim + ">"},
      {"SMTPEmailAddress", "r@x.test>\r\nRCPT TO:<" + victim},
      {"SMTPName", "Reports\r\nBcc: " + victim},
      {"SMTPSRV", "127.0.0.1\r\nRCPT TO:<" + victim + ">"},
      {"SMTPEmailAddress4Server", kUser + "\r\nMAIL FROM:<x@x.test>"},
  };
  for (const auto& [name, value] : attempts) {
    SCOPED_TRACE(name);
    Configure(postfix->SmtpPort(), "AUTH PLAIN", file);
    SetScrambled("SMTPEmailAddress4Server", kUser);
    SetScrambled("SMTPPass4MailServer", kPassword);
    SetScrambled(name, value);
    EXPECT_EQ(RunPostrider(postfix->Ca().TrustIt()), 1);
  }
  EXPECT_FALSE(postfix->Delivered(victim, 2s)) << "an injected recipient got mail";
}

}  // namespace
