// The log retention rules on any file name and date: they never fail, and
// never delete a file that is not one of the period logs ("….xml" named
// after a period).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/retention_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  common::LocalDateTime now{};
  now.year = in.ConsumeIntegralInRange(1970, 2100);
  now.month = in.ConsumeIntegralInRange(1, 12);
  now.day = in.ConsumeIntegralInRange(1, 31);
  const int week = in.ConsumeIntegralInRange(1, 53);
  const std::string name = in.ConsumeRemainingBytesAsString();

  const bool remove = engine::ShouldDeleteLogFile(name, now, week);
  const bool isXml = name.size() >= 4 && name.compare(name.size() - 4, 4, ".xml") == 0;
  bool periodPrefix = false;
  for (const char* prefix : {"d_", "w_", "m_", "q_", "s_", "y_"}) {
    periodPrefix = periodPrefix || name.find(prefix) != std::string::npos;
  }
  if (remove && !(isXml && periodPrefix)) {
    std::fprintf(stderr, "would delete a file that is no period log\n");
    std::abort();
  }
  // The same name behind a folder gets the same answer.
  if (name.find_first_of("/\\") == std::string::npos &&
      engine::ShouldDeleteLogFile("Logs/Users/ann/" + name, now, week) != remove) {
    std::fprintf(stderr, "the folder changed the answer\n");
    std::abort();
  }
  return 0;
}
