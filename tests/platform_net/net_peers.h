// The real peers net_peers.py started for this run: TLS servers with
// certificates of a throw-away authority, and local SMTP servers. Tests
// that need them skip when the program runs without the script.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace nettest {

class Peers {
 public:
  // The list named by QM_TEST_NET_PEERS; empty without it.
  static const Peers& Get() {
    static const Peers peers;
    return peers;
  }
  bool Available() const { return !ports_.empty(); }
  std::uint16_t Port(const std::string& name) const {
    const auto found = ports_.find(name);
    return found == ports_.end() ? 0 : found->second;
  }
  // The folder where an SMTP server keeps what it received.
  std::string Store(const std::string& name) const {
    const auto found = stores_.find(name);
    return found == stores_.end() ? std::string() : found->second;
  }
  // The authority's certificate (PEM).
  const std::string& Authority() const { return authority_; }

 private:
  Peers() {
    const char* list = std::getenv("QM_TEST_NET_PEERS");
    if (!list || !*list) return;
    std::ifstream in(list, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::istringstream fields(line);
      std::string name, value, store;
      fields >> name >> value;
      if (name == "ca") {
        authority_ = value;
        continue;
      }
      ports_[name] = static_cast<std::uint16_t>(std::stoi(value));
      if (fields >> store) stores_[name] = store;
    }
  }

  std::map<std::string, std::uint16_t> ports_;
  std::map<std::string, std::string> stores_;
  std::string authority_;
};

#define QM_NEED_PEERS()                   \
  if (!nettest::Peers::Get().Available()) \
  GTEST_SKIP() << "needs the peers of tests/platform_net/net_peers.py (QM_TEST_NET_PEERS)"

// Sets an environment variable for the life of the object (an empty value
// removes it), restoring the previous value afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_.value_or(std::string())); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::string& value) {
#if defined(_WIN32)
    ::_putenv_s(name_, value.c_str());  // updates the process's environment too
#else
    if (value.empty()) {
      ::unsetenv(name_);
    } else {
      ::setenv(name_, value.c_str(), 1);
    }
#endif
  }

  const char* name_;
  std::optional<std::string> old_;
};

// Trust in the throw-away authority only (the system's trust store
// replaced), as the TLS backends read it from SSL_CERT_FILE/SSL_CERT_DIR.
struct TrustTestAuthority {
  ScopedEnv file{"SSL_CERT_FILE", Peers::Get().Authority()};
  ScopedEnv folder{"SSL_CERT_DIR", "/nonexistent"};
};

}  // namespace nettest
