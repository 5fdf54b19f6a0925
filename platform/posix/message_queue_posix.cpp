#include "platform/message_queue.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {

struct Queue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Message> messages;
};

std::mutex g_queuesMutex;
std::map<ThreadId, std::shared_ptr<Queue>>& Queues() {
  static auto* queues = new std::map<ThreadId, std::shared_ptr<Queue>>();
  return *queues;
}

// Drops the thread's queue when the thread ends, so that a later thread
// with a reused id starts without stale messages.
struct QueueOwner {
  ThreadId id = 0;
  std::shared_ptr<Queue> queue;
  ~QueueOwner() {
    if (!queue) return;
    std::lock_guard lock(g_queuesMutex);
    Queues().erase(id);
  }
};
thread_local QueueOwner t_owner;

std::shared_ptr<Queue> OwnQueue() {
  if (!t_owner.queue) {
    auto queue = std::make_shared<Queue>();
    ThreadId id = CurrentThreadId();
    std::lock_guard lock(g_queuesMutex);
    Queues()[id] = queue;
    t_owner.id = id;
    t_owner.queue = queue;
  }
  return t_owner.queue;
}

}  // namespace

ThreadId CurrentThreadId() { return static_cast<ThreadId>(::syscall(SYS_gettid)); }

void EnsureMessageQueue() { OwnQueue(); }

bool GetMessage(Message& out) {
  auto queue = OwnQueue();
  std::unique_lock lock(queue->mutex);
  queue->ready.wait(lock, [&] { return !queue->messages.empty(); });
  out = queue->messages.front();
  queue->messages.pop_front();
  return out.message != kQuitMessage;
}

bool PostThreadMessage(ThreadId thread, const Message& message) {
  std::shared_ptr<Queue> queue;
  {
    std::lock_guard lock(g_queuesMutex);
    auto it = Queues().find(thread);
    if (it == Queues().end()) return false;
    queue = it->second;
  }
  {
    std::lock_guard lock(queue->mutex);
    queue->messages.push_back(message);
  }
  queue->ready.notify_one();
  return true;
}

void PostQuitMessage(int exitCode) {
  PostThreadMessage(CurrentThreadId(), Message{kQuitMessage, static_cast<std::uintptr_t>(exitCode), 0});
}

}  // namespace platform
