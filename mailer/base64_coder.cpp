#include "mailer/base64_coder.h"

#include <cstdint>

namespace mail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::size_t kLineLength = 76;

// Appends the base64 text of in[0..len) to out. When lineLength is non-zero
// a CRLF follows every lineLength characters and the final partial line.
void AppendBase64(const unsigned char* in, std::size_t len, std::size_t lineLength, std::string& out) {
  const std::size_t textLen = (len + 2) / 3 * 4;
  std::size_t total = textLen;
  if (lineLength != 0) total += (textLen + lineLength - 1) / lineLength * 2;
  out.resize(out.size() + total);

  char* p = out.data() + out.size() - total;
  std::size_t column = 0;
  auto put = [&](char c) {
    *p++ = c;
    if (lineLength != 0 && ++column == lineLength) {
      *p++ = '\r';
      *p++ = '\n';
      column = 0;
    }
  };

  std::size_t i = 0;
  for (; i + 3 <= len; i += 3) {
    const std::uint32_t v = (std::uint32_t(in[i]) << 16) | (std::uint32_t(in[i + 1]) << 8) | in[i + 2];
    put(kAlphabet[(v >> 18) & 0x3f]);
    put(kAlphabet[(v >> 12) & 0x3f]);
    put(kAlphabet[(v >> 6) & 0x3f]);
    put(kAlphabet[v & 0x3f]);
  }
  const std::size_t rest = len - i;
  if (rest != 0) {
    std::uint32_t v = std::uint32_t(in[i]) << 16;
    if (rest == 2) v |= std::uint32_t(in[i + 1]) << 8;
    put(kAlphabet[(v >> 18) & 0x3f]);
    put(kAlphabet[(v >> 12) & 0x3f]);
    put(rest == 2 ? kAlphabet[(v >> 6) & 0x3f] : '=');
    put('=');
  }
  if (lineLength != 0 && column != 0) {
    *p++ = '\r';
    *p++ = '\n';
  }
}

// -1 for bytes outside the alphabet.
int DecodeValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

void CBase64Coder::Encode(const void* bytes, std::size_t len) {
  encoded_.clear();
  AppendBase64(static_cast<const unsigned char*>(bytes), len, 0, encoded_);
}

void CBase64Coder::Encode(std::string_view bytes) { Encode(bytes.data(), bytes.size()); }

void CBase64Coder::Decode(std::string_view text) {
  decoded_.clear();
  decoded_.reserve(text.size() / 4 * 3 + 3);

  std::uint32_t acc = 0;
  int bits = 0;
  for (unsigned char c : text) {
    if (c == '=') break;
    const int v = DecodeValue(c);
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      decoded_.push_back(static_cast<char>((acc >> bits) & 0xff));
    }
  }
  // Any 2..6 bits left over are padding from the final group and are dropped.
}

void AppendBase64Lines(std::string_view bytes, std::string& out) {
  AppendBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), kLineLength, out);
}

std::string Base64Lines(std::string_view bytes) {
  std::string out;
  AppendBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), kLineLength, out);
  return out;
}

}  // namespace mail
