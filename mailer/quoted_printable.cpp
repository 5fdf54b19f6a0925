#include "mailer/quoted_printable.h"

#include <cstddef>

namespace mail {

namespace {

constexpr std::size_t kMaxLineSpan = 76;

bool IsLiteral(unsigned char c) {
  return (c >= 33 && c <= 126 && c != '=') || c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

std::string EscapeBytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (unsigned char c : text) {
    if (IsLiteral(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('=');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0f]);
    }
  }
  return out;
}

// Index of the last character to keep on a line starting at `s` whose scan
// ran past the length limit at `j`.
std::size_t SoftBreakEnd(const std::string& r, std::size_t s, std::size_t j) {
  while (j > s) {
    if (r[j] == ' ' || r[j] == '\t') return j;
    if (j >= s + 2 && r[j - 2] == '=') return j;  // last digit of an escape
    --j;
  }
  // Nothing suitable: hard cut, but back off so the cut does not land
  // inside an escape that starts right at the cut position.
  j = s + kMaxLineSpan;
  if (r[j] == '=') return j - 1;
  if (r[j - 1] == '=') return j - 2;
  return j;
}

}  // namespace

std::string QuotedPrintableEncode(std::string_view text) {
  const std::string r = EscapeBytes(text);
  const std::size_t n = r.size();

  std::string out;
  out.reserve(n + n / 25 + 3);

  std::size_t s = 0;
  for (std::size_t j = 0; j < n; ++j) {
    if (r[j] == '\r' || r[j] == '\n' || j + 1 == n) {
      out.append(r, s, j - s + 1);
      s = j + 1;
    } else if (j - s > kMaxLineSpan) {
      j = SoftBreakEnd(r, s, j);
      out.append(r, s, j - s + 1);
      out.append("=\r\n");
      s = j + 1;
    }
  }
  return out;
}

std::string DotStuff(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && c == '.') out.push_back('.');
    out.push_back(c);
    lineStart = (c == '\n');
  }
  return out;
}

}  // namespace mail
