#include "mailer/base64_coder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using mail::Base64Lines;
using mail::CBase64Coder;

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

std::string Encoded(std::string_view s) {
  CBase64Coder c;
  c.Encode(s);
  return c.EncodedMessage();
}

std::string Decoded(std::string_view s) {
  CBase64Coder c;
  c.Decode(s);
  return c.DecodedMessage();
}

// ---- encoding ----

TEST(Base64Encode, Rfc4648Vectors) {
  EXPECT_EQ(Encoded(""), "");
  EXPECT_EQ(Encoded("f"), "Zg==");
  EXPECT_EQ(Encoded("fo"), "Zm8=");
  EXPECT_EQ(Encoded("foo"), "Zm9v");
  EXPECT_EQ(Encoded("foob"), "Zm9vYg==");
  EXPECT_EQ(Encoded("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Encoded("foobar"), "Zm9vYmFy");
}

TEST(Base64Encode, UsesPlusAndSlashAndHighBits) {
  EXPECT_EQ(Encoded(std::string("\xfb\xff\xbf", 3)), "+/+/");
  EXPECT_EQ(Encoded(std::string("\0\0\0", 3)), "AAAA");
  EXPECT_EQ(Encoded(std::string("\xff", 1)), "/w==");
}

TEST(Base64Encode, PointerOverloadAndSizes) {
  CBase64Coder c;
  const unsigned char bytes[] = {'f', 'o', 'o', 'b', 'a'};
  c.Encode(bytes, sizeof bytes);
  EXPECT_EQ(c.EncodedMessage(), "Zm9vYmE=");
  EXPECT_EQ(c.EncodedMessageSize(), 8u);
}

TEST(Base64Encode, LongInputStaysOnOneLine) {
  const std::string out = Encoded(std::string(1000, 'x'));
  EXPECT_EQ(out.size(), (1000u + 2) / 3 * 4);
  EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
}

TEST(Base64Encode, ReencodingReplacesPreviousResult) {
  CBase64Coder c;
  c.Encode("foobar");
  c.Encode("f");
  EXPECT_EQ(c.EncodedMessage(), "Zg==");
  EXPECT_EQ(c.EncodedMessageSize(), 4u);
}

TEST(Base64Encode, FiftyMebibytes) {
  const std::string big(50u * 1024 * 1024, '\x5a');
  CBase64Coder c;
  c.Encode(big);
  ASSERT_EQ(c.EncodedMessageSize(), (big.size() + 2) / 3 * 4);
  // 0x5a5a5a encodes to "Wlpa".
  EXPECT_EQ(c.EncodedMessage().substr(0, 8), "WlpaWlpa");
  EXPECT_EQ(c.EncodedMessage().substr(c.EncodedMessageSize() - 4), "Wlo=");  // 52428800 % 3 == 2
}

// ---- decoding ----

TEST(Base64Decode, Rfc4648Vectors) {
  EXPECT_EQ(Decoded(""), "");
  EXPECT_EQ(Decoded("Zg=="), "f");
  EXPECT_EQ(Decoded("Zm8="), "fo");
  EXPECT_EQ(Decoded("Zm9v"), "foo");
  EXPECT_EQ(Decoded("Zm9vYg=="), "foob");
  EXPECT_EQ(Decoded("Zm9vYmE="), "fooba");
  EXPECT_EQ(Decoded("Zm9vYmFy"), "foobar");
}

TEST(Base64Decode, SkipsCharactersOutsideAlphabet) {
  EXPECT_EQ(Decoded("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(Decoded(" Z m 9 v *Y-m.F\ty "), "foobar");
}

TEST(Base64Decode, StopsAtPadding) {
  EXPECT_EQ(Decoded("Zg==Zm9v"), "f");
  EXPECT_EQ(Decoded("Zm8=YmFy"), "fo");
}

TEST(Base64Decode, UnpaddedTailStillDecodes) {
  EXPECT_EQ(Decoded("Zm8"), "fo");
  EXPECT_EQ(Decoded("Zg"), "f");
}

TEST(Base64Decode, KeepsEmbeddedNulAndReportsSize) {
  CBase64Coder c;
  c.Decode("AGEA");
  EXPECT_EQ(c.DecodedMessage(), std::string("\0a\0", 3));
  EXPECT_EQ(c.DecodedMessageSize(), 3u);
}

// Encoding and decoding keep separate results on the same object.
TEST(Base64Decode, EncodeAndDecodeResultsIndependent) {
  CBase64Coder c;
  c.Encode("foo");
  c.Decode("YmFy");
  EXPECT_EQ(c.EncodedMessage(), "Zm9v");
  EXPECT_EQ(c.DecodedMessage(), "bar");
}

// ---- round trips ----

TEST(Base64RoundTrip, AllByteValuesAtEveryAlignment) {
  const std::string all = AllBytes();
  for (std::size_t skip = 0; skip < 3; ++skip) {
    const std::string in = all.substr(skip);
    CBase64Coder c;
    c.Encode(in);
    c.Decode(c.EncodedMessage());
    EXPECT_EQ(c.DecodedMessage(), in) << "skip " << skip;
  }
}

TEST(Base64RoundTrip, EveryShortLength) {
  const std::string all = AllBytes();
  for (std::size_t len = 0; len <= 40; ++len) {
    const std::string in = all.substr(200, len);
    EXPECT_EQ(Decoded(Encoded(in)), in) << "length " << len;
  }
}

// ---- MIME lines ----

TEST(Base64Lines, EmptyInputGivesNothing) { EXPECT_EQ(Base64Lines(""), ""); }

TEST(Base64Lines, ShortInputIsOneTerminatedLine) {
  EXPECT_EQ(Base64Lines("foobar"), "Zm9vYmFy\r\n");
  EXPECT_EQ(Base64Lines("f"), "Zg==\r\n");
}

TEST(Base64Lines, ExactlyOneFullLineHasNoEmptyLineAfter) {
  // 57 bytes -> exactly 76 characters.
  const std::string out = Base64Lines(std::string(57, 'q'));
  EXPECT_EQ(out.size(), 78u);
  EXPECT_EQ(out.substr(76), "\r\n");
  EXPECT_EQ(out.find('\r'), 76u);
}

TEST(Base64Lines, SplitsInto76CharacterLines) {
  const std::string all = AllBytes();
  const std::string out = Base64Lines(all);
  const std::string single = Encoded(all);  // 344 characters

  std::string joined;
  std::size_t pos = 0;
  std::size_t lines = 0;
  while (pos < out.size()) {
    const std::size_t eol = out.find("\r\n", pos);
    ASSERT_NE(eol, std::string::npos) << "unterminated last line";
    const std::size_t len = eol - pos;
    if (eol + 2 < out.size()) {
      EXPECT_EQ(len, 76u) << "line " << lines;
    } else {
      EXPECT_EQ(len, 344u % 76);
    }
    joined += out.substr(pos, len);
    pos = eol + 2;
    ++lines;
  }
  EXPECT_EQ(lines, 5u);
  EXPECT_EQ(joined, single);
  EXPECT_EQ(Decoded(out), all);
}

}  // namespace
