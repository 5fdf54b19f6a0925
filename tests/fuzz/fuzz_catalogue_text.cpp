// The catalogue's text rules on any text: readers never fail, and every
// writer leaves what it does not mean to change byte for byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/catalogue_text.h"
#include "common/name_filter.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

// Whether `after` is `before` with one run of bytes inserted somewhere.
bool IsOneInsertion(const std::string& before, const std::string& after) {
  if (after.size() < before.size()) return false;
  std::size_t head = 0;
  while (head < before.size() && before[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < before.size() - head && before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
    ++tail;
  return head + tail == before.size();
}

// The text with what stands between each "<monitored>" and the next
// "</monitored>" left out.
std::string WithoutMonitoredValues(const std::string& text) {
  static const std::string open = "<monitored>", close = "</monitored>";
  std::string out;
  std::size_t from = 0;
  for (std::size_t o; (o = text.find(open, from)) != std::string::npos;) {
    const std::size_t c = text.find(close, o + open.size());
    if (c == std::string::npos) break;
    out.append(text, from, o + open.size() - from);
    from = c;
  }
  out.append(text, from);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string user = in.ConsumeRandomLengthString(16);
  const int cost = in.ConsumeIntegral<int>();
  const std::string text = in.ConsumeRemainingBytesAsString();

  // Readers.
  const std::vector<common::CataloguePrinter> printers = common::ListPrinters(text);
  (void)common::ScanMonitoredPrinters(text);
  (void)common::ListUsers(text);
  for (const auto& p : printers) (void)common::FindPrinterId(text, p.name);

  // A new user is one insertion; the rest of the text stays as it was.
  {
    std::string edited = text;
    if (common::AddUserIfMissing(edited, user)) {
      Check(IsOneInsertion(text, edited), "AddUserIfMissing changed more than it inserted");
    } else {
      Check(edited == text, "AddUserIfMissing changed the text without adding");
    }
  }

  // A cost for a printer the catalogue does not have changes nothing.
  {
    bool known = false;
    for (const auto& p : printers) known = known || p.name == user;
    std::string edited = text;
    common::SetPrinterCost(edited, user, cost);
    if (!known) Check(edited == text, "SetPrinterCost changed a catalogue without that printer");
  }

  // Choosing a printer the catalogue has changes monitored flags and
  // nothing else.
  std::string chosen = printers.empty() ? std::string() : printers.front().name;
  common::StripXmlSpecials(chosen);  // as the writer stores names
  if (!printers.empty() && chosen == printers.front().name && text.find("<printers>") != std::string::npos) {
    std::string edited = text;
    common::ApplyMonitoredSet(edited, {{printers.front().name, "1"}});
    Check(WithoutMonitoredValues(edited) == WithoutMonitoredValues(text),
          "ApplyMonitoredSet changed more than monitored flags");
  }
  return 0;
}
