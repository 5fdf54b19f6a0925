#pragma once

// A one-connection SMTP server on the loopback address that plays a script
// of expected client lines and canned replies on a thread of its own, and
// records everything the client sent.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/socket.h"

namespace smtptest {

using namespace std::chrono_literals;

// The server's side of the one connection, for custom script steps.
class Session {
 public:
  explicit Session(platform::TcpSocket socket) : socket_(std::move(socket)) {}

  // The next line without its CR LF; false when the client closed or was
  // silent for `timeout`.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout = 5s) {
    for (;;) {
      if (const auto end = buffer_.find("\r\n"); end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return true;
      }
      if (!Fill(timeout)) return false;
    }
  }

  // Everything up to and including the end-of-data line "\r\n.\r\n"
  // (returned without it).
  bool ReadData(std::string& data, std::chrono::milliseconds timeout = 5s) {
    for (;;) {
      if (const auto end = buffer_.find("\r\n.\r\n"); end != std::string::npos) {
        data = buffer_.substr(0, end);
        buffer_.erase(0, end + 5);
        return true;
      }
      if (!Fill(timeout)) {
        data = buffer_;
        return false;
      }
    }
  }

  void Send(std::string_view bytes) { socket_.SendAll(bytes); }
  void Close() { socket_.Close(); }
  bool IsOpen() const { return socket_.IsOpen(); }
  // The client's address as the server sees it.
  std::string PeerAddress() const { return socket_.PeerAddress(); }

  // True when the client closed the connection within `timeout`; bytes it
  // sent meanwhile land in `rest`.
  bool WaitForClose(std::string& rest, std::chrono::milliseconds timeout = 5s) {
    while (Fill(timeout)) {
    }
    rest = std::move(buffer_);
    buffer_.clear();
    return closed_;
  }

 private:
  bool Fill(std::chrono::milliseconds timeout) {
    if (closed_ || !socket_.IsOpen()) return false;
    try {
      if (!socket_.WaitReadable(timeout)) return false;
      char chunk[4096];
      const std::size_t got = socket_.Receive(chunk, sizeof chunk);
      if (got == 0) {
        closed_ = true;
        return false;
      }
      buffer_.append(chunk, got);
      return true;
    } catch (const std::system_error&) {
      closed_ = true;
      return false;
    }
  }

  platform::TcpSocket socket_;
  std::string buffer_;
  bool closed_ = false;
};

class ScriptServer {
 public:
  using Action = std::function<void(Session&, ScriptServer&)>;

  ScriptServer() = default;
  ~ScriptServer() { Finish(); }

  uint16_t Port() const { return listener_.Port(); }

  // Sends `bytes` as they stand (the caller writes the CR LFs).
  ScriptServer& Send(std::string bytes) {
    return Do([bytes](Session& s, ScriptServer&) { s.Send(bytes); });
  }
  // One reply line: `line` followed by CR LF.
  ScriptServer& Reply(const std::string& line) { return Send(line + "\r\n"); }
  // Sends `bytes` one byte per write, with a pause between writes so each
  // byte travels in a segment of its own.
  ScriptServer& SendBytewise(std::string bytes) {
    return Do([bytes](Session& s, ScriptServer&) {
      for (char c : bytes) {
        s.Send(std::string_view(&c, 1));
        std::this_thread::sleep_for(2ms);
      }
    });
  }
  // Reads one line and checks it is `line`.
  ScriptServer& Expect(std::string line) {
    return Do([line](Session& s, ScriptServer& server) {
      std::string got;
      if (!s.ReadLine(got)) {
        server.Fail("expected \"" + line + "\", got nothing");
      } else if (got != line) {
        server.Fail("expected \"" + line + "\", got \"" + got + "\"");
      }
    });
  }
  // Reads one line and checks it starts with `prefix`.
  ScriptServer& ExpectPrefix(std::string prefix) {
    return Do([prefix](Session& s, ScriptServer& server) {
      std::string got;
      if (!s.ReadLine(got) || got.rfind(prefix, 0) != 0) {
        server.Fail("expected a line starting \"" + prefix + "\", got \"" + got + "\"");
      }
    });
  }
  // Reads the message text up to the end-of-data line.
  ScriptServer& ExpectData() {
    return Do([](Session& s, ScriptServer& server) {
      std::string data;
      if (!s.ReadData(data)) server.Fail("no end of data; got \"" + data + "\"");
      server.Record(std::move(data));
    });
  }
  // Checks the client connected from `address`.
  ScriptServer& ExpectPeer(std::string address) {
    return Do([address](Session& s, ScriptServer& server) {
      const std::string got = s.PeerAddress();
      if (got != address) server.Fail("expected a client from " + address + ", got one from \"" + got + "\"");
    });
  }
  // Closes the connection from the server's side.
  ScriptServer& Hangup() {
    return Do([](Session& s, ScriptServer&) { s.Close(); });
  }
  ScriptServer& Do(Action action) {
    script_.push_back(std::move(action));
    return *this;
  }

  // A full greeting-to-QUIT dialogue around the message transaction.
  ScriptServer& QuitReply() { return Expect("QUIT").Reply("221 bye"); }

  // Starts serving; the script runs once a client connects.
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }

  // Waits for the script to end and for the client to close; returns the
  // script failures and whatever the client sent that the script did not
  // read, one per line. Empty when all went as scripted.
  std::string Finish() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return failures_;
  }

  // Whether a client connected at all.
  bool Connected() {
    Finish();
    return connected_;
  }

  // The message texts read by ExpectData, in order.
  std::vector<std::string> Data() {
    Finish();
    std::lock_guard lock(mutex_);
    return data_;
  }

  void Fail(const std::string& what) {
    std::lock_guard lock(mutex_);
    failures_ += what + "\n";
  }
  void Record(std::string data) {
    std::lock_guard lock(mutex_);
    data_.push_back(std::move(data));
  }

  // How long to wait for a client to connect.
  std::chrono::milliseconds acceptTimeout = 5s;

 private:
  void Run() {
    platform::TcpSocket socket = listener_.Accept(acceptTimeout);
    if (!socket.IsOpen()) return;
    {
      std::lock_guard lock(mutex_);
      connected_ = true;
    }
    Session session(std::move(socket));
    for (auto& step : script_) {
      if (!session.IsOpen()) break;
      step(session, *this);
    }
    if (!session.IsOpen()) return;
    std::string rest;
    if (!session.WaitForClose(rest)) Fail("the client did not close the connection");
    if (!rest.empty()) Fail("unexpected from the client: \"" + rest + "\"");
  }

  platform::TcpListener listener_;
  std::vector<Action> script_;
  std::thread thread_;
  std::mutex mutex_;
  std::string failures_;
  std::vector<std::string> data_;
  bool connected_ = false;
};

}  // namespace smtptest
