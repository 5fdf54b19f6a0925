// The platform's TCP sockets over the loopback interface, client and
// listener of the same build talking to each other (the system's own
// sockets on both ends: Winsock on Windows, BSD sockets elsewhere).
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "platform/socket.h"
#include "platform/status.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::StatusCode;
using platform::TcpListener;
using platform::TcpSocket;

// Reads until `count` bytes arrived or the peer closed.
std::string ReceiveBytes(TcpSocket& socket, std::size_t count) {
  std::string bytes;
  char chunk[65536];
  while (bytes.size() < count) {
    if (!socket.WaitReadable(10s)) break;
    const std::size_t got = socket.Receive(chunk, sizeof chunk);
    if (got == 0) break;
    bytes.append(chunk, got);
  }
  return bytes;
}

// A payload larger than any socket buffer, so that sends are partial.
std::string Payload(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
  return bytes;
}

// The code of the error `call` throws (std::system_error, with the
// system's number), or nothing when it does not throw.
template <typename Call>
std::optional<int> ErrorOf(Call call) {
  try {
    call();
  } catch (const std::system_error& error) {
    return error.code().value();
  }
  return std::nullopt;
}

TEST(TcpSocket, BytesTravelBothWaysUntilEachSideStopsSending) {
  TcpListener listener;
  ASSERT_NE(listener.Port(), 0);
  const std::string toServer = Payload(3 << 20);
  const std::string toClient = Payload(1 << 20).substr(7);

  std::string serverGot;
  std::string serverSawPeer;
  std::jthread server([&] {
    TcpSocket connection = listener.Accept(10s);
    if (!connection.IsOpen()) return;
    serverSawPeer = connection.PeerAddress();
    // All of it, to the client's end of sending; only then the answer, so
    // that neither side sends while the other does not read.
    serverGot = ReceiveBytes(connection, toServer.size() + 1);
    connection.SendAll(toClient);
    connection.ShutdownSend();
  });

  TcpSocket client;
  // With a time-out the connect is made in non-blocking mode; the socket
  // must be blocking again afterwards, or the large send below fails.
  client.Connect("127.0.0.1", listener.Port(), 5s);
  ASSERT_TRUE(client.IsOpen());
  EXPECT_EQ(client.PeerAddress(), "127.0.0.1");
  client.SendAll(toServer);
  client.ShutdownSend();
  const std::string clientGot = ReceiveBytes(client, toClient.size() + 1);
  server.join();

  EXPECT_EQ(serverSawPeer, "127.0.0.1");
  EXPECT_TRUE(serverGot == toServer) << "server received " << serverGot.size() << " of " << toServer.size();
  EXPECT_TRUE(clientGot == toClient) << "client received " << clientGot.size() << " of " << toClient.size();
  // Once the peer stopped sending, a receive is ready and brings 0.
  EXPECT_TRUE(client.WaitReadable(0ms));
  char byte;
  EXPECT_EQ(client.Receive(&byte, 1), 0u);
}

TEST(TcpSocket, ConnectWithoutTimeOutAndByHostName) {
  TcpListener listener;
  std::jthread server([&] {
    for (int i = 0; i < 2; ++i) {
      TcpSocket connection = listener.Accept(10s);
      if (connection.IsOpen()) connection.SendAll("hello " + std::to_string(i));
    }
  });
  TcpSocket plain;
  plain.Connect("127.0.0.1", listener.Port());
  EXPECT_EQ(ReceiveBytes(plain, 7), "hello 0");
  TcpSocket named;
  named.Create();
  named.Bind("127.0.0.1");
  named.Connect("localhost", listener.Port(), 5s);
  EXPECT_EQ(ReceiveBytes(named, 7), "hello 1");
}

TEST(TcpSocket, AReceiveBlocksUntilTheAnswerComesAfterATimedConnect) {
  // A connect with a time-out goes through non-blocking mode; afterwards
  // the socket blocks again, so a receive asked before the answer came
  // waits for it instead of failing.
  TcpListener listener;
  std::jthread server([&] {
    TcpSocket connection = listener.Accept(10s);
    char question;
    if (connection.IsOpen() && connection.WaitReadable(10s) && connection.Receive(&question, 1) == 1) {
      connection.SendAll("answer");
    }
  });
  TcpSocket client;
  client.Connect("127.0.0.1", listener.Port(), 5s);
  client.SendAll("?");
  std::string answer;
  char chunk[16];
  while (answer.size() < 6) {
    const std::size_t got = client.Receive(chunk, sizeof chunk);
    if (got == 0) break;
    answer.append(chunk, got);
  }
  EXPECT_EQ(answer, "answer");
}

TEST(TcpSocket, WaitsEndAtTheirTimeOutOrWhenDataComes) {
  TcpListener listener;
  TcpSocket client;
  client.Connect("127.0.0.1", listener.Port(), 5s);
  TcpSocket server = listener.Accept(5s);
  ASSERT_TRUE(server.IsOpen());

  auto start = Clock::now();
  EXPECT_FALSE(client.WaitReadable(300ms));
  EXPECT_GE(Clock::now() - start, 250ms);
  EXPECT_FALSE(client.WaitReadable(0ms));

  server.SendAll("x");
  start = Clock::now();
  EXPECT_TRUE(client.WaitReadable(10s));
  EXPECT_LT(Clock::now() - start, 5s);

  // Accept gives a closed socket when nobody comes.
  start = Clock::now();
  TcpSocket nobody = listener.Accept(200ms);
  EXPECT_FALSE(nobody.IsOpen());
  EXPECT_GE(Clock::now() - start, 150ms);
}

TEST(TcpSocket, FailuresCarryTheSystemsNumber) {
  // A port nobody listens on: refused at once, with or without a time-out
  // (the non-blocking connect must see the failure, not wait it out).
  std::uint16_t unused = 0;
  {
    TcpListener probe;
    unused = probe.Port();
  }
  for (const auto timeout : {0ms, 5000ms}) {
    SCOPED_TRACE(timeout.count());
    TcpSocket socket;
    const auto start = Clock::now();
    const std::optional<int> error = ErrorOf([&] { socket.Connect("127.0.0.1", unused, timeout); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(platform::CodeOfSystemError(*error), StatusCode::kUnavailable)
        << platform::SystemErrorText(*error);
    EXPECT_LT(Clock::now() - start, 4s);
  }

  TcpSocket socket;
  EXPECT_EQ(ErrorOf([&] { socket.Connect("no-such-host.invalid", 25, 5s); }), platform::HostNotFoundError());
  EXPECT_EQ(ErrorOf([&] { socket.Connect("", 25); }), platform::HostNotFoundError());

  // Every call on a closed socket fails instead of touching a stale handle.
  TcpSocket closed;
  char byte;
  EXPECT_TRUE(ErrorOf([&] { closed.SendAll("x"); }).has_value());
  EXPECT_TRUE(ErrorOf([&] { closed.Receive(&byte, 1); }).has_value());
  EXPECT_TRUE(ErrorOf([&] { closed.WaitReadable(0ms); }).has_value());
  EXPECT_TRUE(ErrorOf([&] { closed.Bind("127.0.0.1"); }).has_value());
  EXPECT_EQ(closed.PeerAddress(), "");
  TcpListener listener;
  listener.Close();
  EXPECT_TRUE(ErrorOf([&] { listener.Accept(0ms); }).has_value());
}

TEST(TcpSocket, MovesHandOverTheConnection) {
  TcpListener listener;
  TcpSocket first;
  first.Connect("127.0.0.1", listener.Port(), 5s);
  TcpSocket server = listener.Accept(5s);
  TcpSocket second(std::move(first));
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  second.SendAll("moved");
  EXPECT_EQ(ReceiveBytes(server, 5), "moved");
  TcpSocket third;
  third = std::move(second);
  third.Close();
  EXPECT_EQ(ReceiveBytes(server, 1), "") << "the peer sees the close";
  EXPECT_FALSE(platform::LocalHostName().empty());
}

}  // namespace
