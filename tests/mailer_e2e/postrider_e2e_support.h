// Shared by the mailer's end-to-end tests: the real Postrider program run
// against local SMTP servers, and what arrived read with Python's email
// package.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../foundation/test_support.h"
#include "common/reg_value.h"
#include "common/registry_keys.h"
#include "common/scramble.h"
#include "mailer/postrider.h"
#include "tests/support/read_file.h"

namespace e2e {

namespace fs = std::filesystem;

inline const std::string kPython = "/usr/bin/python3";
inline const std::string kScripts = std::string(QM_SOURCE_DIR) + "/tests/mailer_e2e/";

using testing_support::ReadWholeFile;

// JSON string literal of a Latin-1 text, as Python's json.dumps writes it.
inline std::string Json(std::string_view text) {
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

inline std::string Hex(std::string_view bytes) {
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
  // `extra` options go to smtp_sink.py as they are (--tls, --silent, ...).
  SmtpSink(const fs::path& folder, const std::string& auth, const std::string& user = {},
           const std::string& password = {}, const std::vector<std::string>& extra = {})
      : store_(folder / "store"), portFile_(folder / "port") {
    fs::create_directories(store_);
    fs::remove(portFile_);
    std::vector<std::string> args = {kPython,       kScripts + "smtp_sink.py",
                                     "--port-file", portFile_.string(),
                                     "--store",     store_.string(),
                                     "--auth",      auth,
                                     "--user",      user,
                                     "--password",  password};
    args.insert(args.end(), extra.begin(), extra.end());
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
    port_ = std::stoi("0" + ReadWholeFile(portFile_));
  }
  ~SmtpSink() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  int Port() const { return port_; }
  // The verbs of the commands received so far, separated by spaces.
  std::string Commands() const {
    std::string text = ReadWholeFile(store_ / "commands.log");
    for (char& c : text) {
      if (c == '\n') c = ' ';
    }
    return text;
  }
  std::vector<fs::path> Messages() const {
    std::vector<fs::path> out;
    if (!fs::exists(store_)) return out;
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

// A certificate authority and server certificates made for one test (see
// make_test_ca.sh), and the environment that makes Postrider trust it.
class TestCa {
 public:
  explicit TestCa(const fs::path& folder) : folder_(folder / "ca") {
    fs::create_directories(folder_);
    const std::string cmd = "sh '" + kScripts + "make_test_ca.sh' '" + folder_.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "cannot make the test certificates";
  }
  std::string File(const std::string& name) const { return (folder_ / name).string(); }
  // Server options of smtp_sink.py for the certificate `name`.
  std::vector<std::string> Sink(const std::string& mode, const std::string& name = "server") const {
    return {"--tls", mode, "--cert", File(name + ".crt"), "--key", File(name + ".key")};
  }
  std::string TrustIt() const { return "SSL_CERT_FILE='" + File("ca.crt") + "' SSL_CERT_DIR=/nonexistent"; }

 private:
  fs::path folder_;
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

  // The data folder's Logs, the one folder Postrider sends files from.
  fs::path Logs() {
    SetPlain("AppPath", scratch.Folder().string());
    fs::create_directories(scratch.Folder() / "Logs");
    return scratch.Folder() / "Logs";
  }

  void Configure(int port, const std::string& auth, const std::string& file) {
    Logs();
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
    const fs::path out = scratch.Folder() / "postrider.out";
    const fs::path err = scratch.Folder() / "postrider.err";
    const std::string cmd = "QUILLMARK_REGISTRY='" + scratch.RegistryRoot().string() + "' " + environment +
                            " timeout 100 '" + QM_APP_DIR + "/Postrider' >'" + out.string() + "' 2>'" +
                            err.string() + "' </dev/null";
    const int status = std::system(cmd.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    EXPECT_EQ(ReadWholeFile(out), "") << "Postrider wrote to standard output";
    diagnostic = ReadWholeFile(err);
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
    return ReadWholeFile(meta);
  }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const fs::path file = Logs() / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }
};

}  // namespace e2e
