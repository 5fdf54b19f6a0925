#include "mailer/parameter_encoding.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/latin1.h"
#include "mailer/base64_coder.h"

namespace mail {

namespace {

// Bytes of UTF-8 per encoded word: 45 bytes make 60 base64 characters, and
// with "=?utf-8?B?" and "?=" the word stays within RFC 2047's 75.
constexpr std::size_t kWordBytes = 45;
// Percent-encoded characters per RFC 2231 continuation line.
constexpr std::size_t kSegmentChars = 60;

// RFC 2231 attribute-char: a token character other than "*", "'" and "%".
bool IsAttributeChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 'a' && c <= 'z') return true;
  if (c >= '0' && c <= '9') return true;
  return std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

bool IsPlainParameterValue(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F;
  });
}

std::string QuotedParameterValue(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string ContentTypeNameParameter(std::string_view latin1Name) {
  if (IsPlainParameterValue(latin1Name)) return "name=" + QuotedParameterValue(latin1Name);
  std::string out = "name=\"";
  std::string word;
  auto flush = [&] {
    if (word.empty()) return;
    CBase64Coder coder;
    coder.Encode(word);
    // Folding white space between the words keeps each line short;
    // readers drop it between encoded words.
    if (out.back() != '"') out += "\r\n ";
    out += "=?utf-8?B?" + coder.EncodedMessage() + "?=";
    word.clear();
  };
  // Whole characters per word: a UTF-8 sequence is never split.
  for (char c : latin1Name) {
    const std::string utf8 = common::Latin1ToUtf8(std::string_view(&c, 1));
    if (word.size() + utf8.size() > kWordBytes) flush();
    word += utf8;
  }
  flush();
  out.push_back('"');
  return out;
}

std::string FilenameParameter(std::string_view latin1Name) {
  if (IsPlainParameterValue(latin1Name)) return "filename=" + QuotedParameterValue(latin1Name);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::vector<std::string> segments(1);
  for (unsigned char c : common::Latin1ToUtf8(latin1Name)) {
    std::string piece;
    if (IsAttributeChar(c)) {
      piece.push_back(static_cast<char>(c));
    } else {
      piece = {'%', kHex[c >> 4], kHex[c & 15]};
    }
    if (segments.back().size() + piece.size() > kSegmentChars) segments.emplace_back();
    segments.back() += piece;
  }
  if (segments.size() == 1) return "filename*=utf-8''" + segments[0];
  std::string out;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i) out += ";\r\n\t";
    out += "filename*" + std::to_string(i) + "*=" + (i == 0 ? "utf-8''" : "") + segments[i];
  }
  return out;
}

}  // namespace mail
