#include "mailer/hmac_md5.h"

#include "mailer/md5.h"

#include <cstring>

namespace mail {

std::array<unsigned char, 16> HmacMd5(std::string_view key, std::string_view data) {
  constexpr std::size_t kBlock = 64;

  // Keys longer than a block are first hashed down; shorter ones are
  // zero-padded to the block size.
  unsigned char block[kBlock] = {};
  if (key.size() > kBlock) {
    const Md5Digest hashed = Md5(key);
    std::memcpy(block, hashed.data(), hashed.size());
  } else if (!key.empty()) {
    std::memcpy(block, key.data(), key.size());
  }

  unsigned char ipad[kBlock];
  unsigned char opad[kBlock];
  for (std::size_t i = 0; i < kBlock; ++i) {
    ipad[i] = static_cast<unsigned char>(block[i] ^ 0x36);
    opad[i] = static_cast<unsigned char>(block[i] ^ 0x5c);
  }

  Md5Context inner;
  inner.Update(ipad, kBlock);
  inner.Update(data.data(), data.size());
  const Md5Digest innerDigest = inner.Final();

  Md5Context outer;
  outer.Update(opad, kBlock);
  outer.Update(innerDigest.data(), innerDigest.size());
  return outer.Final();
}

std::string ToLowerHex(const std::array<unsigned char, 16>& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(digest.size() * 2);
  for (unsigned char b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0f]);
  }
  return out;
}

}  // namespace mail
