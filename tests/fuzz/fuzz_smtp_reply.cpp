// The SMTP reply reader on any bytes a server may send: read reply after
// reply until the server's close, the replies (each with the CR LF that
// ended it) and the unfinished rest are exactly the bytes sent: no reply
// byte is lost or made up, wherever the receives split them.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "mailer/mail_socket.h"
#include "platform/socket.h"

namespace {

using namespace std::chrono_literals;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t piece = in.ConsumeIntegralInRange<std::size_t>(1, 64);
  const std::string sent = in.ConsumeRemainingBytesAsString();

  platform::TcpListener listener;
  mail::CMailSocket client;
  client.Connect("127.0.0.1", listener.Port(), "", 5s);
  platform::TcpSocket server = listener.Accept(5s);
  Check(server.IsOpen(), "no connection on the loopback");
  // The server writes in pieces, so that lines and CR LFs straddle receives.
  std::thread writer([&] {
    for (std::size_t at = 0; at < sent.size(); at += piece)
      server.SendAll(std::string_view(sent).substr(at, piece));
    server.ShutdownSend();
  });

  std::string read;
  for (;;) {
    mail::SmtpReply reply = client.ReadReply(5s);
    Check(!reply.timedOut, "the reader waited although the server had closed");
    read += reply.text;
    if (!reply.complete) break;
    read += "\r\n";
    Check(reply.code == 0 || (reply.code >= 100 && reply.code <= 999), "a reply code out of range");
  }
  writer.join();
  Check(read == sent, "reply bytes lost or added");
  return 0;
}
