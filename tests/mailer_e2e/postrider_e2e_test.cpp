// Runs the real Postrider program against a local SMTP server and reads
// what arrived with Python's email package.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../foundation/test_support.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "mailer/postrider.h"

namespace {

namespace fs = std::filesystem;

const std::string kPython = "/usr/bin/python3";
const std::string kScripts = std::string(QM_SOURCE_DIR) + "/tests/mailer_e2e/";

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// JSON string literal of a Latin-1 text, as Python's json.dumps writes it.
std::string Json(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// The local SMTP server, one per test, stopped by its process id.
class SmtpSink {
 public:
  SmtpSink(const fs::path& folder, const std::string& auth, const std::string& user = {},
           const std::string& password = {})
      : store_(folder / "store"), portFile_(folder / "port") {
    fs::create_directories(store_);
    std::vector<std::string> args = {kPython,          kScripts + "smtp_sink.py", "--port-file",
                                     portFile_.string(), "--store",                 store_.string(),
                                     "--auth",          auth,                      "--user",
                                     user,              "--password",              password};
    pid_ = ::fork();
    if (pid_ == 0) {
      std::freopen((folder / "sink.log").c_str(), "w", stderr);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(portFile_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    port_ = std::stoi("0" + Slurp(portFile_));
  }
  ~SmtpSink() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  int port() const { return port_; }
  // The verbs of the commands received so far, separated by spaces.
  std::string Commands() const {
    std::string text = Slurp(store_ / "commands.log");
    for (char& c : text) {
      if (c == '\n') c = ' ';
    }
    return text;
  }
  std::vector<fs::path> Messages() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(store_)) {
      if (e.path().extension() == ".eml") out.push_back(e.path());
    }
    return out;
  }

 private:
  fs::path store_, portFile_;
  pid_t pid_ = -1;
  int port_ = 0;
};

class PostriderEndToEnd : public ::testing::Test {
 protected:
  ScratchRegistry scratch;

  void SetScrambled(std::string_view name, const std::string& value) {
    CRegString(common::QuillmarkValue(name)).Set(common::Scramble(value));
  }
  // Stored even when 0 (a Set of 0 on a missing value writes nothing).
  void SetTls(std::uint32_t mode) {
    CRegDword value(common::QuillmarkValue("SMTPTLS"));
    value.Set(mode);
    value.Write();
  }
  void SetPlain(std::string_view name, const std::string& value) {
    CRegString(common::QuillmarkValue(name)).Set(value);
  }

  void Configure(int port, const std::string& auth, const std::string& file) {
    SetScrambled("EmailAddress", "a@x.test;B <b@x.test>");
    SetPlain("ToSendFile", file);
    SetScrambled("SMTPEmailAddress", "reports@x.test");
    SetScrambled("SMTPName", "Quillmark Reports");
    SetScrambled("SMTPSRV", "127.0.0.1");
    SetScrambled("SMTPAUTH", auth);
    SetScrambled("SMTPEmailAddress4Server", "mailuser");
    SetScrambled("SMTPPass4MailServer", "s3cret \xE9");
    CRegDword(common::QuillmarkValue("SMTPPORT")).Set(static_cast<std::uint32_t>(port));
  }

  // Exit status of one run of the program, which takes no arguments,
  // prints nothing on success and one diagnostic line on standard error
  // otherwise (kept in `diagnostic`). `environment` is put before the
  // command ("NAME=value ...").
  std::string diagnostic;
  int RunPostrider(const std::string& environment = {}) {
    const fs::path out = scratch.folder() / "postrider.out";
    const fs::path err = scratch.folder() / "postrider.err";
    const std::string cmd = "QUILLMARK_REGISTRY='" + scratch.registryRoot().string() + "' " + environment +
                            " timeout 100 '" + QM_APP_DIR + "/Postrider' >'" + out.string() + "' 2>'" +
                            err.string() + "' </dev/null";
    const int status = std::system(cmd.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    EXPECT_EQ(Slurp(out), "") << "Postrider wrote to standard output";
    diagnostic = Slurp(err);
    if (code == 0) {
      EXPECT_EQ(diagnostic, "") << "Postrider wrote something on success";
    } else {
      EXPECT_EQ(diagnostic.rfind("Postrider: error ", 0), 0u) << diagnostic;
      EXPECT_EQ(diagnostic.find('\n'), diagnostic.size() - 1) << "one line: " << diagnostic;
    }
    return code;
  }

  std::map<std::string, std::string> Inspect(const fs::path& message) {
    std::map<std::string, std::string> fields;
    const std::string cmd = kPython + " '" + kScripts + "inspect_message.py' '" + message.string() + "'";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) return fields;
    char line[1 << 16];
    std::string text;
    while (std::fgets(line, sizeof line, pipe)) text += line;
    ::pclose(pipe);
    std::istringstream lines(text);
    std::string l;
    while (std::getline(lines, l)) {
      const auto eq = l.find('=');
      if (eq != std::string::npos) fields[l.substr(0, eq)] = l.substr(eq + 1);
    }
    return fields;
  }

  std::string Envelope(const fs::path& message) {
    fs::path meta = message;
    meta.replace_extension(".json");
    return Slurp(meta);
  }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const fs::path file = scratch.folder() / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }
};

std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 40; ++round) {
    for (int c = 0; c < 256; ++c) bytes.push_back(static_cast<char>(c));
  }
  bytes += "\r\n.\r\n.. after a lone dot\r\n";
  return bytes;
}

TEST_F(PostriderEndToEnd, CramMd5ReportWithAttachmentArrivesWhole) {
  SmtpSink sink(scratch.folder(), "cram", "mailuser", "s3cret \xE9");
  const std::string bytes = AllBytes();
  Configure(sink.port(), "CRAM MD5", WriteFile("Report.xml", bytes));
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
  SmtpSink sink(scratch.folder(), "login", "mailuser", "s3cret \xE9");
  Configure(sink.port(), "AUTH LOGIN", "");
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
}

TEST_F(PostriderEndToEnd, MethodNameInOtherCaseLogsInWithAuthLogin) {
  SmtpSink sink(scratch.folder(), "login", "mailuser", "s3cret \xE9");
  Configure(sink.port(), "none", WriteFile("TestEmail.xml", "<log></log>"));
  ASSERT_EQ(RunPostrider(), 0);
  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(Envelope(messages[0]).find(R"("login": "mailuser")"), std::string::npos);
  EXPECT_EQ(Inspect(messages[0])["part1_filename"], Json("TestEmail.xml"));
}

TEST_F(PostriderEndToEnd, WithoutLoginOrTlsUsesHelo) {
  SmtpSink sink(scratch.folder(), "none");
  Configure(sink.port(), "None", WriteFile("Report.xml", ".\r\n"));
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
  SmtpSink sink(scratch.folder(), "cram", "mailuser", "s3cret \xE9");
  const std::string report = WriteFile("Report.xml", "<log/>");

  Configure(sink.port(), "CRAM MD5", report);
  SetScrambled("SMTPPass4MailServer", "wrong");
  EXPECT_NE(RunPostrider(), 0) << "wrong password";
  EXPECT_EQ(diagnostic, "Postrider: error 536: 535 5.7.8 Authentication credentials invalid\n");

  Configure(sink.port(), "CRAM MD5", (scratch.folder() / "gone.xml").string());
  EXPECT_NE(RunPostrider(), 0) << "missing attachment";
  EXPECT_EQ(diagnostic.rfind("Postrider: error 514: ", 0), 0u) << diagnostic;
  // Logged in, then the file was found missing before the transaction
  // began: the server heard of no message at all.
  const std::string commands = sink.Commands();
  EXPECT_EQ(commands.substr(commands.size() - 5), "QUIT ");
  EXPECT_EQ(commands.find("MAIL"), std::string::npos) << commands;

  // A line break in a recipient would have become commands of its own.
  Configure(sink.port(), "CRAM MD5", report);
  SetScrambled("EmailAddress", "a@x.test\r\nRCPT TO:<evil@x.test>");
  EXPECT_NE(RunPostrider(), 0) << "line break in a recipient";

  Configure(sink.port(), "CRAM MD5", report);
  SetScrambled("SMTPSRV", "127.0.0.1\r\nQUIT");
  EXPECT_NE(RunPostrider(), 0) << "line break in the host";

  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_EQ(sink.Commands().find("MAIL"), std::string::npos) << sink.Commands();

  Configure(sink.port(), "CRAM MD5", report);
  EXPECT_EQ(RunPostrider(), 0) << "the same server still takes a good message";
  EXPECT_EQ(sink.Messages().size(), 1u);
}

TEST_F(PostriderEndToEnd, AttachmentOverTheLimitIsRefusedBeforeAnyMessageData) {
  SmtpSink sink(scratch.folder(), "none");
  const std::string big = WriteFile("big.xml", "");
  fs::resize_file(big, mail::CSMTPBodyPart::kMaxAttachmentSize + 1);
  Configure(sink.port(), "None", big);
  EXPECT_NE(RunPostrider(), 0);
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_EQ(sink.Commands(), "EHLO QUIT ");
}

}  // namespace
