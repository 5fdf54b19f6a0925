// Mailing a 50 MiB attachment: composes the message and sends it to a
// local SMTP sink that discards what it gets, and compares the throughput
// and the memory peak with reading and base64-encoding the file alone.
// Then shows that a file one byte over the limit is refused before DATA.

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

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
    out.write(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), kSize - written)));
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
  std::uint64_t baseRss = StatusKiB("VmRSS");
  auto t0 = Clock::now();
  std::size_t encodedSize = 0;
  {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(fs::file_size(file)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    encodedSize = mail::Base64Lines(bytes).size();
  }
  const double baseSeconds = Seconds(Clock::now() - t0);
  const std::uint64_t basePeak = PeakBytes() - baseRss;

  // Composing alone: the whole text that follows DATA.
  if (peakResets) ResetPeak();
  const std::uint64_t composeRss = StatusKiB("VmRSS");
  t0 = Clock::now();
  std::size_t composedSize = 0;
  {
    const mail::CSMTPMessage message = ReportMessage(file.string());
    composedSize = message.BuildMessageText().size();
  }
  const double composeSeconds = Seconds(Clock::now() - t0);
  const std::uint64_t composePeak = PeakBytes() - composeRss;

  // The mailer: compose and send over a real socket to the sink.
  DiscardingSink sink;
  if (peakResets) ResetPeak();
  const std::uint64_t mailRss = StatusKiB("VmRSS");
  t0 = Clock::now();
  {
    mail::CTernSMTPConnection connection;
    connection.Connect("127.0.0.1", mail::AuthMethod::None, {}, {}, sink.Port());
    connection.SendMessage(ReportMessage(file.string()));
    connection.Disconnect(true);
  }
  const double mailSeconds = Seconds(Clock::now() - t0);
  const std::uint64_t mailPeak = PeakBytes() - mailRss;

  const double baseRate = MiB(kSize) / baseSeconds;
  const double mailRate = MiB(kSize) / mailSeconds;
  std::printf("baseline  read + base64:      %8.1f MiB/s  (%zu encoded bytes)\n", baseRate, encodedSize);
  const double composeRate = MiB(kSize) / composeSeconds;
  std::printf("compose   message text:       %8.1f MiB/s  (%zu bytes)\n", composeRate, composedSize);
  std::printf("mailer    compose + send:     %8.1f MiB/s  (%llu bytes after DATA)\n", mailRate,
              static_cast<unsigned long long>(sink.Discarded()));
  std::printf("ratio     compose / baseline: %8.2f\n", composeRate / baseRate);
  std::printf("ratio     mailer / baseline:  %8.2f\n", mailRate / baseRate);
  auto times = [](std::uint64_t bytes) { return static_cast<double>(bytes) / static_cast<double>(kSize); };
  std::printf("peak memory above start, as a multiple of the attachment size%s:\n",
              peakResets ? "" : " (process peak, not reset between phases)");
  std::printf("  baseline %.2f x, compose %.2f x, compose + send %.2f x\n", times(basePeak),
              times(composePeak), times(mailPeak));

  // One byte over the limit: refused before the server is asked for DATA.
  fs::resize_file(file, kSize + 1);
  const int dataBefore = sink.DataCommands();
  try {
    mail::CTernSMTPConnection connection;
    connection.Connect("127.0.0.1", mail::AuthMethod::None, {}, {}, sink.Port());
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
