#include "mailer/hmac_md5.h"
#include "mailer/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using mail::HmacMd5;
using mail::ToLowerHex;

std::string Hmac(std::string_view key, std::string_view data) { return ToLowerHex(HmacMd5(key, data)); }

// The seven HMAC-MD5 cases published in RFC 2202.
TEST(HmacMd5, Rfc2202ShortKeys) {
  EXPECT_EQ(Hmac(std::string(16, '\x0b'), "Hi There"), "9294727a3638bb1c13f48ef8158bfc9d");
  EXPECT_EQ(Hmac("Jefe", "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
  EXPECT_EQ(Hmac(std::string(16, '\xaa'), std::string(50, '\xdd')), "56be34521d144c88dbb8c733f0e8b3f6");
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4.push_back(static_cast<char>(i));
  EXPECT_EQ(Hmac(key4, std::string(50, '\xcd')), "697eaf0aca3a3aea3a75164746ffaa79");
  EXPECT_EQ(Hmac(std::string(16, '\x0c'), "Test With Truncation"), "56461ef2342edc00f9bab995690efd4c");
}

TEST(HmacMd5, Rfc2202KeysLongerThanBlock) {
  const std::string key(80, '\xaa');
  EXPECT_EQ(Hmac(key, "Test Using Larger Than Block-Size Key - Hash Key First"),
            "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
  EXPECT_EQ(Hmac(key, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
            "6f630fad67cda0ee1fb1f562db3aa53e");
}

// A 64-byte key is used as is; only a key longer than the block is hashed.
TEST(HmacMd5, KeyLengthThreshold) {
  EXPECT_EQ(Hmac(std::string(64, 'k'), "data"), "e0525f930df7e5415f8beed9da4e1f3c");
  EXPECT_EQ(Hmac(std::string(65, 'k'), "data"), "b7d1158ae12147f7faa37bc828cc7321");

  const std::string longKey(65, 'k');
  const auto digest = mail::Md5(longKey);
  const std::string hashedKey(reinterpret_cast<const char*>(digest.data()), digest.size());
  EXPECT_EQ(HmacMd5(longKey, "data"), HmacMd5(hashedKey, "data"));
}

TEST(HmacMd5, EmptyKeyAndData) { EXPECT_EQ(Hmac("", ""), "74e6f7298a9c2d168935f58c001bad88"); }

// The worked CRAM-MD5 exchange from RFC 2195.
TEST(HmacMd5, CramMd5Example) {
  EXPECT_EQ(Hmac("tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
            "b913a602c7eda7a495b4e6e7334d3890");
}

}  // namespace
