#include "engine/job_log_store.h"

namespace engine {

void JobLogStore::log(int, int, int, int, int, std::string_view, std::uint32_t,
                      std::string_view, std::string_view, std::string_view) {}

}  // namespace engine
