#include <uuid/uuid.h>

#include "platform/uuid.h"

namespace platform {

namespace {

class LibUuidSource final : public UuidSource {
 public:
  std::string NewUuidText() override {
    uuid_t id;
    uuid_generate(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return std::string(text, 36);
  }
};

}  // namespace

UuidSource& SystemUuidSource() {
  static LibUuidSource source;
  return source;
}

}  // namespace platform
