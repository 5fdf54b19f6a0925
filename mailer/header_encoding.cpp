#include "mailer/header_encoding.h"

#include "common/latin1.h"

#include <algorithm>
#include <cstddef>

namespace mail {

namespace {

constexpr std::size_t kPieceBytes = 70;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

bool HasHighByte(std::string_view piece) {
  return std::any_of(piece.begin(), piece.end(), [](char c) { return static_cast<unsigned char>(c) > 127; });
}

void AppendPiece(std::string_view piece, std::string_view charset, std::string& out) {
  if (!HasHighByte(piece)) {
    out.append(piece);
    return;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.append("=?").append(charset).append("?q?");
  for (unsigned char c : piece) {
    if (c == ' ') {
      out.push_back('_');
    } else if (c == '=' || c == '?' || c == '_' || c > 127) {
      out.push_back('=');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0f]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.append("?=");
}

}  // namespace

std::string EncodeHeaderText(std::string_view text, std::string_view charset) {
  std::string converted;
  if (EqualsIgnoreCase(charset, "UTF-8")) {
    converted = common::Latin1ToUtf8(text);
    text = converted;
  }

  std::string out;
  for (std::size_t pos = 0; pos < text.size(); pos += kPieceBytes) {
    AppendPiece(text.substr(pos, kPieceBytes), charset, out);
  }
  return out;
}

}  // namespace mail
