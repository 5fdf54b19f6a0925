#include "mailer/md5.h"
#include "mailer/hmac_md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using mail::Md5;
using mail::Md5Context;
using mail::ToLowerHex;

std::string Hex(std::string_view s) { return ToLowerHex(Md5(s)); }

// The reference test suite from the MD5 RFC.
TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths around the 56-byte padding boundary and the 64-byte block size,
// where off-by-one errors in the padding step show up.
TEST(Md5, PaddingBoundaries) {
  const struct {
    std::size_t len;
    const char* hex;
  } cases[] = {
      {55, "04364420e25c512fd958a70738aa8f72"},  {56, "668a72d5ba17f08e62dabcafad6db14b"},
      {57, "693037871c4a9d3d8685018905cb530a"},  {63, "7dc2ca208106a2f703567bdff99d8981"},
      {64, "c1bb4f81d892b2d57947682aeb252456"},  {65, "1bc932052302d074bdec39795fe00cf6"},
      {119, "ab347a5f68c8a443cfcddc633f12c24f"}, {120, "fb98667f98096de92620b64f46e1c5b5"},
      {128, "d69cb61a6ee87200676eb0d4b90edbcb"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(std::string(c.len, 'x')), c.hex) << "length " << c.len;
  }
}

TEST(Md5, MillionAs) { EXPECT_EQ(Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21"); }

TEST(Md5Context, AnySplitMatchesOneShot) {
  std::string msg;
  for (int i = 0; i < 300; ++i) msg.push_back(static_cast<char>(i * 37 + 11));
  const auto expected = Md5(msg);
  for (std::size_t cut = 0; cut <= msg.size(); ++cut) {
    Md5Context ctx;
    ctx.Update(msg.data(), cut);
    ctx.Update(msg.data() + cut, msg.size() - cut);
    ASSERT_EQ(ctx.Final(), expected) << "split at " << cut;
  }
}

TEST(Md5Context, ByteAtATimeAndEmptyUpdates) {
  const std::string msg = "message digest, fed one byte at a time with empty updates between";
  Md5Context ctx;
  for (char c : msg) {
    ctx.Update(&c, 1);
    ctx.Update(nullptr, 0);
  }
  EXPECT_EQ(ctx.Final(), Md5(msg));
}

TEST(Md5Context, ReusableAfterFinal) {
  Md5Context ctx;
  ctx.Update("garbage", 7);
  (void)ctx.Final();
  ctx.Update("abc", 3);
  EXPECT_EQ(ToLowerHex(ctx.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(ToLowerHex, FormatsEveryNibble) {
  std::array<unsigned char, 16> d{};
  for (int i = 0; i < 16; ++i) d[i] = static_cast<unsigned char>(i * 0x11);
  d[15] = 0x0a;
  EXPECT_EQ(ToLowerHex(d), "00112233445566778899aabbccddee0a");
}

}  // namespace
