// Base64 (RFC 2045 alphabet, "=" padding) for MIME attachments and SMTP AUTH.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mail {

// Holds the result of the last Encode() and of the last Decode() separately,
// so a coder can be reused for a challenge/response exchange.
class CBase64Coder {
 public:
  // Encodes to a single line, no line breaks.
  void Encode(const void* bytes, std::size_t len);
  void Encode(std::string_view bytes);

  // Characters outside the alphabet (line breaks, spaces, ...) are ignored;
  // decoding ends at the first '='.
  void Decode(std::string_view text);

  const std::string& EncodedMessage() const { return encoded_; }
  std::size_t EncodedMessageSize() const { return encoded_.size(); }
  const std::string& DecodedMessage() const { return decoded_; }
  std::size_t DecodedMessageSize() const { return decoded_.size(); }

 private:
  std::string encoded_;
  std::string decoded_;
};

// Base64 of `bytes` as MIME body lines: 76 characters per line, every line
// (including the shorter last one) terminated by "\r\n". Empty input gives "".
std::string Base64Lines(std::string_view bytes);
// The same, appended to `out`.
void AppendBase64Lines(std::string_view bytes, std::string& out);

}  // namespace mail
