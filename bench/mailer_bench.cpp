// Mailing a 50 MiB attachment: sends the message to a local SMTP sink that
// discards what it gets, and prints the mailer's speed as a ratio to
// reading and base64-encoding the file alone (target: at least 0.8), and
// its peak resident memory as a ratio to the attachment's size (target: at
// most 1.5). Then shows that a file one byte over the limit is refused
// before DATA.

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "mailer/base64_coder.h"
#include "mailer/smtp_connection.h"
#include "mailer/smtp_message.h"
#include "platform/socket.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kSize = mail::CSMTPBodyPart::kMaxAttachmentSize;

// Resident set size and its peak, in bytes, from /proc/self/status.
std::uint64_t StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stoull(line.substr(prefix.size())) * 1024;
  }
  return 0;
}

// Starts a new peak measurement; false when the system cannot reset it.
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

std::uint64_t PeakBytes() {
  std::uint64_t hwm = StatusKiB("VmHWM");
  if (hwm == 0) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    hwm = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
  }
  return hwm;
}

// A minimal SMTP server that accepts everything and throws the message
// data away.
class DiscardingSink {
 public:
  DiscardingSink() : thread_([this](std::stop_token stop) { Run(stop); }) {}
  std::uint16_t Port() const { return listener_.Port(); }
  int DataCommands() const { return dataCommands_.load(); }
  std::uint64_t Discarded() const { return discarded_.load(); }

 private:
  void Run(std::stop_token stop) {
    while (!stop.stop_requested()) {
      platform::TcpSocket client = listener_.Accept(std::chrono::milliseconds(100));
      if (!client.IsOpen()) continue;
      try {
        Serve(client);
      } catch (const std::exception&) {
      }
    }
  }

  void Serve(platform::TcpSocket& client) {
    client.SendAll("220 sink ready\r\n");
    std::string buffer;
    std::string tail;  // the last bytes of message data, to find its end
    bool inData = false;
    char chunk[1 << 16];
    for (;;) {
      if (!client.WaitReadable(std::chrono::seconds(30))) return;
      const std::size_t got = client.Receive(chunk, sizeof chunk);
      if (got == 0) return;
      std::string_view piece(chunk, got);
      if (inData) {
        discarded_ += got;
        tail += piece.substr(piece.size() > 8 ? piece.size() - 8 : 0);
        if (tail.size() > 8) tail.erase(0, tail.size() - 8);
        if (tail.size() >= 5 && tail.compare(tail.size() - 5, 5, "\r\n.\r\n") == 0) {
          inData = false;
          tail.clear();
          client.SendAll("250 discarded\r\n");
        }
        continue;
      }
      buffer += piece;
      std::size_t end;
      while (!inData && (end = buffer.find("\r\n")) != std::string::npos) {
        std::string verb = buffer.substr(0, 4);
        buffer.erase(0, end + 2);
        if (verb == "DATA") {
          ++dataCommands_;
          inData = true;
          client.SendAll("354 go ahead\r\n");
        } else if (verb == "QUIT") {
          client.SendAll("221 bye\r\n");
          return;
        } else {
          client.SendAll("250 ok\r\n");
        }
      }
    }
  }

  platform::TcpListener listener_;
  std::atomic<int> dataCommands_{0};
  std::atomic<std::uint64_t> discarded_{0};
  std::jthread thread_;
};

void WriteTestFile(const fs::path& file) {
  std::ofstream out(file, std::ios::binary);
  std::string block(1 << 20, '\0');
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (std::uint64_t written = 0; written < kSize; written += block.size()) {
    for (char& c : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      c = static_cast<char>(x);
    }
    out.write(block.data(),
              static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), kSize - written)));
  }
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double MiB(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

mail::CSMTPMessage ReportMessage(const std::string& file) {
  mail::CSMTPMessage message;
  message.AddRecipientList("a@x.test", mail::CSMTPMessage::kTo);
  message.SetSender(mail::CSMTPAddress("bench@x.test", "Bench"));
  message.SetSubject("Log From Quillmark... LatestLog.xml");
  message.SetBodyText("The report is attached.");
  message.AddAttachmentList(file);
  return message;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/quillmark-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const fs::path folder = tmpl;
  const fs::path file = folder / "Report.xml";
  WriteTestFile(file);
  std::printf("attachment: %llu bytes (%.1f MiB)\n", static_cast<unsigned long long>(kSize), MiB(kSize));

  const bool peakResets = ResetPeak();

  // Baseline: read the whole file and base64-encode it into MIME lines.
  auto baseline = [&] {
    const auto t0 = Clock::now();
    std::ifstream in(file, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(fs::file_size(file)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::size_t encoded = mail::Base64Lines(bytes).size();
    if (encoded == 0) std::printf("nothing encoded\n");
    return Seconds(Clock::now() - t0);
  };

  // The mailer: compose and send over a real socket to the sink, the
  // attachment encoded while it is sent.
  DiscardingSink sink;
  auto mailer = [&] {
    const auto t0 = Clock::now();
    mail::CTernSMTPConnection connection;
    connection.SetTlsMode(mail::TlsMode::kNever);
    connection.Connect("127.0.0.1", mail::AuthMethod::kNone, {}, {}, sink.Port());
    connection.SendMessage(ReportMessage(file.string()));
    connection.Disconnect(true);
    return Seconds(Clock::now() - t0);
  };

  // The mailer first, so that its peak is its own; then both alternately,
  // the best of three runs each for the speed.
  (void)baseline();  // the file in the page cache for both
  if (peakResets) ResetPeak();
  const std::uint64_t startRss = StatusKiB("VmRSS");
  double mailSeconds = mailer();
  const std::uint64_t mailPeak = PeakBytes();
  double baseSeconds = baseline();
  for (int round = 0; round < 2; ++round) {
    mailSeconds = std::min(mailSeconds, mailer());
    baseSeconds = std::min(baseSeconds, baseline());
  }

  const double baseRate = MiB(kSize) / baseSeconds;
  const double mailRate = MiB(kSize) / mailSeconds;
  std::printf("baseline  read + base64:   %8.1f MiB/s\n", baseRate);
  std::printf("mailer    compose + send:  %8.1f MiB/s  (%llu bytes after DATA, 3 messages)\n", mailRate,
              static_cast<unsigned long long>(sink.Discarded()));
  std::printf("speed     mailer / baseline:              %5.2f  (target >= 0.80)\n", mailRate / baseRate);
  auto times = [](std::uint64_t bytes) { return static_cast<double>(bytes) / static_cast<double>(kSize); };
  std::printf(
      "memory    mailer's peak RSS / attachment: %5.2f  (target <= 1.50; %.1f MiB, %.1f MiB at start)%s\n",
      times(mailPeak), MiB(mailPeak), MiB(startRss),
      peakResets ? "" : " (process peak, not reset between phases)");

  // One byte over the limit: refused before the server is asked for DATA.
  fs::resize_file(file, kSize + 1);
  const int dataBefore = sink.DataCommands();
  try {
    mail::CTernSMTPConnection connection;
    connection.Connect("127.0.0.1", mail::AuthMethod::kNone, {}, {}, sink.Port());
    connection.SendMessage(ReportMessage(file.string()));
    std::printf("over the limit: SENT (wrong)\n");
  } catch (const mail::CSMTPException& e) {
    std::printf("over the limit (%llu bytes): refused with error %u, DATA commands sent: %d\n",
                static_cast<unsigned long long>(kSize + 1), static_cast<unsigned>(e.Number()),
                sink.DataCommands() - dataBefore);
  }

  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
