// The thread message queue: what one thread posts another receives in
// order, the quit message ends the loop, and a thread without a queue
// cannot be posted to.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stop_token>
#include <thread>
#include <vector>

#include "platform/message_queue.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kWork = 0x8001;

TEST(MessageQueue, MessagesArriveInOrderAndQuitEndsTheLoop) {
  std::promise<platform::ThreadId> ready;
  std::vector<platform::Message> received;
  std::thread loop([&] {
    platform::EnsureMessageQueue();
    ready.set_value(platform::CurrentThreadId());
    platform::Message m;
    while (platform::GetMessage(m)) received.push_back(m);
    received.push_back(m);  // the quit message itself
  });
  const platform::ThreadId id = ready.get_future().get();
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(platform::PostThreadMessage(id, {kWork, static_cast<std::uintptr_t>(i), -i}));
  ASSERT_TRUE(platform::PostThreadMessage(id, {platform::kQuitMessage, 7, 0}));
  loop.join();
  ASSERT_EQ(received.size(), 101u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(received[i].message, kWork);
    EXPECT_EQ(received[i].wparam, static_cast<std::uintptr_t>(i));
    EXPECT_EQ(received[i].lparam, -i);
  }
  EXPECT_EQ(received.back().message, platform::kQuitMessage);
  EXPECT_EQ(received.back().wparam, 7u);
}

// The engine's pattern: a stop request posts the quit message to the
// thread waiting in its loop, which then ends at once.
TEST(MessageQueue, AStopRequestEndsAWaitingLoop) {
  std::promise<platform::ThreadId> ready;
  std::jthread loop([&](std::stop_token) {
    platform::EnsureMessageQueue();
    ready.set_value(platform::CurrentThreadId());
    platform::Message m;
    while (platform::GetMessage(m)) {
    }
  });
  const platform::ThreadId id = ready.get_future().get();
  std::stop_callback quit(loop.get_stop_token(), [id] {
    platform::PostThreadMessage(id, {platform::kQuitMessage, 0, 0});
  });
  const auto before = std::chrono::steady_clock::now();
  loop.request_stop();
  loop.join();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

TEST(MessageQueue, PostQuitMessageEndsTheCallersOwnLoop) {
  std::thread own([] {
    platform::EnsureMessageQueue();
    platform::PostThreadMessage(platform::CurrentThreadId(), {kWork, 1, 0});
    platform::PostQuitMessage(3);
    platform::Message m;
    EXPECT_TRUE(platform::GetMessage(m));
    EXPECT_EQ(m.message, kWork);
    EXPECT_FALSE(platform::GetMessage(m));
    EXPECT_EQ(m.message, platform::kQuitMessage);
    EXPECT_EQ(m.wparam, 3u);
  });
  own.join();
}

TEST(MessageQueue, AThreadWithoutAQueueOrThatEndedCannotBePostedTo) {
  std::promise<platform::ThreadId> ended;
  std::thread gone([&] {
    platform::EnsureMessageQueue();
    ended.set_value(platform::CurrentThreadId());
  });
  const platform::ThreadId id = ended.get_future().get();
  gone.join();
  EXPECT_FALSE(platform::PostThreadMessage(id, {kWork, 0, 0}));
}

}  // namespace
