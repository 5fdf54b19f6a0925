// MD5 message digest (RFC 1321), used by the mailer for CRAM-MD5 logins.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mail {

using Md5Digest = std::array<unsigned char, 16>;

// Incremental MD5. Feed any number of Update() calls, then call Final()
// once; after Final() the context is reset and can be reused.
class Md5Context {
 public:
  Md5Context();

  void Update(const void* data, std::size_t len);
  Md5Digest Final();

 private:
  void Reset();
  void Transform(const unsigned char block[64]);

  std::uint32_t state_[4];
  std::uint64_t bitCount_;  // total message length in bits, mod 2^64
  unsigned char buffer_[64];
  std::size_t bufferLen_;
};

Md5Digest Md5(std::string_view data);

}  // namespace mail
