#include "mailer/md5.h"

#include <algorithm>
#include <cstring>

namespace mail {

namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Per-round left rotation amounts, four per round.
constexpr unsigned kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline std::uint32_t Rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t LoadLe32(const unsigned char* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

inline void StoreLe32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

Md5Context::Md5Context() { Reset(); }

void Md5Context::Reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  bitCount_ = 0;
  bufferLen_ = 0;
  std::memset(buffer_, 0, sizeof buffer_);
}

void Md5Context::Transform(const unsigned char block[64]) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLe32(block + 4 * i);

  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (unsigned i = 0; i < 64; ++i) {
    std::uint32_t f;
    unsigned g;
    switch (i / 16) {
      case 0:
        f = (b & c) | (~b & d);
        g = i;
        break;
      case 1:
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
        break;
    }
    const std::uint32_t next = b + Rotl(a + f + kSine[i] + m[g], kShift[i / 16][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5Context::Update(const void* data, std::size_t len) {
  if (len == 0) return;
  const auto* in = static_cast<const unsigned char*>(data);
  bitCount_ += static_cast<std::uint64_t>(len) << 3;

  if (bufferLen_ > 0) {
    const std::size_t take = std::min(len, sizeof buffer_ - bufferLen_);
    std::memcpy(buffer_ + bufferLen_, in, take);
    bufferLen_ += take;
    in += take;
    len -= take;
    if (bufferLen_ < sizeof buffer_) return;
    Transform(buffer_);
    bufferLen_ = 0;
  }
  while (len >= 64) {
    Transform(in);
    in += 64;
    len -= 64;
  }
  if (len > 0) {
    std::memcpy(buffer_, in, len);
    bufferLen_ = len;
  }
}

Md5Digest Md5Context::Final() {
  unsigned char lengthLe[8];
  for (int i = 0; i < 8; ++i) lengthLe[i] = static_cast<unsigned char>(bitCount_ >> (8 * i));

  // Pad with 0x80 then zeros until 56 bytes remain in the block, then the
  // original length. Update() would count the padding, so save the length first.
  static const unsigned char kPad[64] = {0x80};
  const std::size_t padLen = bufferLen_ < 56 ? 56 - bufferLen_ : 120 - bufferLen_;
  Update(kPad, padLen);
  Update(lengthLe, 8);

  Md5Digest out{};
  for (int i = 0; i < 4; ++i) StoreLe32(out.data() + 4 * i, state_[i]);
  Reset();
  return out;
}

Md5Digest Md5(std::string_view data) {
  Md5Context ctx;
  ctx.Update(data.data(), data.size());
  return ctx.Final();
}

}  // namespace mail
