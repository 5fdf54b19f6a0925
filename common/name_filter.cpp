#include "common/name_filter.h"

#include <algorithm>

#include "platform/percent_escape.h"

namespace common {

namespace {

bool IsXmlSpecial(char c) { return c == '<' || c == '>' || c == '&' || c == '\'' || c == '"'; }

bool IsUnsafeFolderByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == '/' || c == '\\' || c == ':' || c == '%' || u < 0x20 || u == 0x7F;
}

}  // namespace

void StripXmlSpecials(std::string& s) { s.erase(std::remove_if(s.begin(), s.end(), IsXmlSpecial), s.end()); }

std::string CleanXmlName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (IsXmlSpecial(c) || (u < 0x20 && c != '\t')) continue;
    out.push_back(c);
  }
  return out;
}

std::string SafeFolderName(std::string_view name) {
  const bool safe =
      !name.empty() && name.front() != '.' && std::none_of(name.begin(), name.end(), IsUnsafeFolderByte);
  // "." and ".." start with a dot, so they never count as safe.
  if (safe || name.empty()) return std::string(name);

  bool leading = true;
  return platform::PercentEscape(name, [&leading](unsigned char c) {
    leading = leading && c == '.';
    return !IsUnsafeFolderByte(static_cast<char>(c)) && !leading;
  });
}

}  // namespace common
