#include "platform/posix/cups_event_relay.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace platform::cups {

std::optional<std::string> RelaySocketName(std::string_view recipient) {
  const std::string prefix = std::string(kRelayScheme) + ":";
  if (recipient.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::string_view name = recipient.substr(prefix.size());
  if (name.empty() || name.size() > sizeof(sockaddr_un::sun_path) - 2) return std::nullopt;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-';
    if (!ok) return std::nullopt;
  }
  return std::string(name);
}

int RelayEvents(std::string_view recipient) {
  const std::optional<std::string> name = RelaySocketName(recipient);
  if (!name) return 1;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // An abstract name: a leading zero byte, no file.
  std::memcpy(address.sun_path + 1, name->data(), name->size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name->size());

  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // Nobody listening, or a full socket (the watcher is woken already):
    // nothing to do; the next batch tries again.
    const char signal = 1;
    [[maybe_unused]] ssize_t sent = ::sendto(fd, &signal, 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                                             reinterpret_cast<const sockaddr*>(&address), length);
  }
  ::close(fd);
  return 0;
}

}  // namespace platform::cups
