#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/latin1.h"
#include "platform/user_account.h"

namespace platform {

std::string CurrentUserName() {
  // The account of the effective user: what the process may do is decided
  // by it, whatever the environment claims.
  const uid_t uid = ::geteuid();
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) return {};
    return Utf8ToLatin1(found->pw_name);
  }
}

}  // namespace platform
