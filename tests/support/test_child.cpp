// A program for the process tests to start, told what to do through its
// environment (programs of the system are started without arguments):
//   QM_CHILD_STDERR         text written to standard error
//   QM_CHILD_STDERR_BYTES   that many more bytes of 'x' to standard error
//   QM_CHILD_SLEEP_MS       then waits that long
//   QM_CHILD_EXIT           exit status (0 when unset)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {
long Number(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::strtol(value, nullptr, 10) : 0;
}
}  // namespace

int main() {
  if (const char* text = std::getenv("QM_CHILD_STDERR")) std::fputs(text, stderr);
  const std::string flood(static_cast<std::size_t>(Number("QM_CHILD_STDERR_BYTES")), 'x');
  std::fwrite(flood.data(), 1, flood.size(), stderr);
  std::fflush(stderr);
  std::this_thread::sleep_for(std::chrono::milliseconds(Number("QM_CHILD_SLEEP_MS")));
  return static_cast<int>(Number("QM_CHILD_EXIT"));
}
