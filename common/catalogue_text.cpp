#include "common/catalogue_text.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <vector>

#include "common/name_filter.h"

namespace common {

namespace {

constexpr std::size_t npos = std::string_view::npos;

constexpr std::string_view kName = "<name>";
constexpr std::string_view kNameEnd = "</name>";
constexpr std::string_view kId = "<ID>";
constexpr std::string_view kIdEnd = "</ID>";
constexpr std::string_view kCost = "<cost>";
constexpr std::string_view kCostEnd = "</cost>";
constexpr std::string_view kMonitored = "<monitored>";
constexpr std::string_view kMonitoredEnd = "</monitored>";
constexpr std::string_view kPrinters = "<printers>";
constexpr std::string_view kPrintersEnd = "</printers>";
constexpr std::string_view kUsers = "<users>";
constexpr std::string_view kUsername = "<username>";
constexpr std::string_view kUsernameEnd = "</username>";
constexpr std::string_view kLog = "<log>";

// Finds tags in one text, remembering for each tag the last search: a
// search from a later position reuses it when the occurrence found then is
// still ahead, or when there was none. A damaged catalogue (entries without
// their closing or value tags) would otherwise have every entry search to
// the end of the text for a tag that is not there.
class TagSearch {
 public:
  explicit TagSearch(std::string_view text) : text_(text) {}

  std::size_t Find(std::string_view tag, std::size_t from) {
    for (Memo& m : memos_) {
      if (m.tag != tag.data()) continue;
      if (from < m.from || (m.found != npos && m.found < from)) {
        m.from = from;
        m.found = text_.find(tag, from);
      }
      return m.found;
    }
    memos_.push_back({tag.data(), from, text_.find(tag, from)});
    return memos_.back().found;
  }

  // After the text changed: nothing remembered holds any more.
  void Reset(std::string_view text) {
    text_ = text;
    memos_.clear();
  }

 private:
  struct Memo {
    const char* tag;
    std::size_t from;
    std::size_t found;
  };
  std::string_view text_;
  std::vector<Memo> memos_;
};

// Where a value sits in the text: [begin, end). `found` is false when either
// tag is missing, in which case the value reads as empty.
struct Span {
  bool found = false;
  std::size_t begin = 0;
  std::size_t end = 0;
};

std::string_view SpanText(std::string_view text, const Span& s) {
  return s.found ? text.substr(s.begin, s.end - s.begin) : std::string_view{};
}

// The value between `open` and `close`, both tags searched from `from`.
// A closing tag that comes before the opening one gives an empty value.
Span ValueAfter(TagSearch& search, std::string_view text, std::size_t from, std::string_view open,
                std::string_view close) {
  Span s;
  if (from == npos || from > text.size()) return s;
  const std::size_t o = search.Find(open, from);
  const std::size_t c = search.Find(close, from);
  if (o == npos || c == npos) return s;
  s.found = true;
  s.begin = o + open.size();
  s.end = c < s.begin ? s.begin : c;
  return s;
}

// One printer entry found at a "<name>" tag.
struct Entry {
  bool named = false;       // "</name>" was found
  std::size_t nameEnd = 0;  // position of "</name>"
  std::string_view name;
  Span id;
  Span cost;
  Span monitored;
  std::size_t next = 0;  // where to look for the following "<name>"
};

Entry EntryAt(TagSearch& search, std::string_view text, std::size_t p) {
  Entry e;
  e.next = p + kName.size();
  const std::size_t nameBegin = p + kName.size();
  const std::size_t nameEnd = search.Find(kNameEnd, nameBegin);
  if (nameEnd == npos) return e;
  e.named = true;
  e.nameEnd = nameEnd;
  e.name = text.substr(nameBegin, nameEnd - nameBegin);
  e.id = ValueAfter(search, text, nameEnd, kId, kIdEnd);
  e.cost = ValueAfter(search, text, nameEnd, kCost, kCostEnd);
  if (!e.cost.found) return e;
  e.monitored = ValueAfter(search, text, search.Find(kCostEnd, nameEnd), kMonitored, kMonitoredEnd);
  if (e.monitored.found) e.next = e.monitored.begin;
  return e;
}

// Calls fn(entry) for every "<name>" in the text, front to back.
template <typename Fn>
void ForEachEntry(std::string_view text, Fn fn) {
  TagSearch search(text);
  std::size_t p = search.Find(kName, 0);
  while (p != npos) {
    const Entry e = EntryAt(search, text, p);
    if (!fn(e)) return;
    p = search.Find(kName, e.next);
  }
}

// Sets the monitored flag (the one following the entry's "</name>") of every
// entry accepted by `match`. Positions are taken afresh after each edit.
template <typename Match>
void SetMonitoredWhere(std::string& text, std::string_view value, Match match) {
  TagSearch search(text);
  std::size_t p = search.Find(kName, 0);
  while (p != npos) {
    const Entry e = EntryAt(search, text, p);
    std::size_t next = p + kName.size();
    if (e.named) {
      next = e.nameEnd + kNameEnd.size();
      const std::size_t open = search.Find(kMonitored, e.nameEnd);
      const std::size_t close = open == npos ? npos : search.Find(kMonitoredEnd, open + kMonitored.size());
      if (close != npos) {
        const std::size_t begin = open + kMonitored.size();
        if (match(e.name)) {
          text.replace(begin, close - begin, value);
          search.Reset(text);
          next = begin + value.size();
        }
      }
    }
    p = search.Find(kName, next);
  }
}

long LargestId(std::string_view text) {
  long largest = 0;
  std::size_t p = text.find(kId);
  while (p != npos) {
    const std::size_t begin = p + kId.size();
    const std::size_t end = text.find(kIdEnd, begin);
    if (end == npos) break;
    const long id = ParseLeadingInt(text.substr(begin, end - begin));
    if (id > largest) largest = id;
    p = text.find(kId, end);
  }
  return largest;
}

void EnsurePrintersSection(std::string& text) {
  if (text.find(kPrinters) != npos) return;
  if (text.empty()) {
    text = "<printers></printers>";
    return;
  }
  const std::size_t log = text.find(kLog);
  if (log != npos)
    text.insert(log + kLog.size(), "<printers></printers>");
  else
    text += "<log><printers></printers></log>";
}

}  // namespace

long ParseLeadingInt(std::string_view s) {
  long value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    const int digit = c - '0';
    if (value > (LONG_MAX - digit) / 10) return LONG_MAX;
    value = value * 10 + digit;
  }
  return value;
}

std::vector<MonitoredPrinter> ScanMonitoredPrinters(std::string_view text, std::size_t capacity) {
  std::vector<MonitoredPrinter> out;
  if (capacity == 0) return out;
  ForEachEntry(text, [&](const Entry& e) {
    if (e.named && SpanText(text, e.monitored) == "1") {
      out.push_back({std::string(e.name), std::string(SpanText(text, e.cost))});
      if (out.size() >= capacity) return false;
    }
    return true;
  });
  return out;
}

std::string FindPrinterId(std::string_view text, std::string_view name) {
  std::string id;
  ForEachEntry(text, [&](const Entry& e) {
    if (e.named && e.name == name) id = std::string(SpanText(text, e.id));
    return true;
  });
  return id;
}

bool AddUserIfMissing(std::string& text, std::string_view user) {
  if (user.empty() || OccursInText(text, user)) return false;
  AddUserEntry(text, user);
  return true;
}

bool OccursInText(std::string_view text, std::string_view name) {
  // A catalogue of many users repeats the first letters of a name in
  // every entry ("<username>"), which stops a byte-by-byte search at
  // each; the Horspool skips mostly jump a name's length.
  if (name.size() < 4) return text.find(name) != npos;
  return std::search(text.begin(), text.end(),
                     std::boyer_moore_horspool_searcher(name.begin(), name.end())) != text.end();
}

void AddUserEntry(std::string& text, std::string_view user) {
  const std::string entry = std::string(kUsername) + std::string(user) + std::string(kUsernameEnd);
  const std::size_t users = text.find(kUsers);
  if (users != npos) {
    text.insert(users + kUsers.size(), entry);
    return;
  }

  const std::string section = "<users>" + entry + "</users>";
  const std::size_t printersEnd = text.find(kPrintersEnd);
  if (printersEnd != npos) {
    text.insert(printersEnd + kPrintersEnd.size(), section);
    return;
  }
  const std::size_t log = text.find(kLog);
  if (log != npos) {
    text.insert(log + kLog.size(), "<printers></printers>" + section);
    return;
  }
  text += "<log><printers></printers>" + section + "</log>";
}

std::vector<std::string> ListUsers(std::string_view text) {
  std::vector<std::string> users;
  std::size_t p = text.find(kUsername);
  while (p != npos) {
    const std::size_t begin = p + kUsername.size();
    const std::size_t end = text.find(kUsernameEnd, begin);
    if (end == npos) break;
    users.emplace_back(text.substr(begin, end - begin));
    p = text.find(kUsername, end + kUsernameEnd.size());
  }
  return users;
}

void ApplyMonitoredSet(std::string& text, const std::vector<ChosenPrinter>& chosen) {
  EnsurePrintersSection(text);
  SetMonitoredWhere(text, "0", [](std::string_view) { return true; });

  for (const ChosenPrinter& c : chosen) {
    std::string name = c.name;
    StripXmlSpecials(name);
    std::string cost = c.cost;
    // The cost ends up inside an element too; keep it from breaking one.
    StripXmlSpecials(cost);
    if (cost.empty()) cost = "0";

    bool known = false;
    ForEachEntry(text, [&](const Entry& e) {
      if (e.named && e.name == name) known = true;
      return !known;
    });

    if (known) {
      SetMonitoredWhere(text, "1", [&](std::string_view n) { return n == name; });
      continue;
    }

    // Ids only grow; a catalogue that already holds the largest there is
    // gets no new printer rather than one sharing another's folder.
    const long largest = LargestId(text);
    if (largest == LONG_MAX) continue;
    const long id = largest + 1;
    const std::string entry = "<name>" + name + "</name><ID>" + std::to_string(id) + "</ID><cost>" + cost +
                              "</cost><monitored>1</monitored>";
    const std::size_t printers = text.find(kPrinters);
    text.insert(printers + kPrinters.size(), entry);
  }
}

void SetPrinterCost(std::string& text, std::string_view name, int cost) {
  const std::string value = std::to_string(cost);
  TagSearch search(text);
  std::size_t p = search.Find(kName, 0);
  while (p != npos) {
    const Entry e = EntryAt(search, text, p);
    std::size_t next = e.next;
    if (e.named && e.name == name) {
      const std::size_t open = search.Find(kCost, e.nameEnd);
      const std::size_t close = open == npos ? npos : search.Find(kCostEnd, open + kCost.size());
      if (close != npos) {
        const std::size_t begin = open + kCost.size();
        text.replace(begin, close - begin, value);
        search.Reset(text);
        next = begin + value.size();
      }
    }
    p = search.Find(kName, next);
  }
}

std::vector<CataloguePrinter> ListPrinters(std::string_view text) {
  std::vector<CataloguePrinter> out;
  ForEachEntry(text, [&](const Entry& e) {
    if (e.named) {
      out.push_back({std::string(e.name), std::string(SpanText(text, e.id)),
                     std::string(SpanText(text, e.cost)), std::string(SpanText(text, e.monitored))});
    }
    return true;
  });
  return out;
}

}  // namespace common
