#include "mailer/quoted_printable.h"

#include <gtest/gtest.h>

#include "mailer/header_encoding.h"

TEST(QuotedPrintable, LongWordIsCutInto77CharacterPieces) {
  std::string out = mail::QuotedPrintableEncode(std::string(200, 'a'));
  EXPECT_EQ(out, std::string(77, 'a') + "=\r\n" + std::string(77, 'a') + "=\r\n" + std::string(46, 'a'));
}

TEST(QuotedPrintable, EscapesEqualsAndHighBytesButKeepsWhiteSpace) {
  EXPECT_EQ(mail::QuotedPrintableEncode("a=b\xE9\tc d\r\n"), "a=3Db=E9\tc d\r\n");
}

TEST(QuotedPrintable, EscapesAreNeverSplitBySoftBreaks) {
  std::string text = std::string(75, 'a') + "\xE9\xE9\xE9" + std::string(20, 'b');
  std::string out = mail::QuotedPrintableEncode(text);
  std::size_t pos = 0;
  while ((pos = out.find("=\r\n", pos)) != std::string::npos) {
    // The piece before a soft break never ends inside "=XX".
    std::string piece = out.substr(0, pos);
    std::size_t eq = piece.rfind('=');
    if (eq != std::string::npos) {
      EXPECT_GE(piece.size() - eq, 3u) << out;
    }
    pos += 3;
  }
  std::string decoded;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out.compare(i, 3, "=\r\n") == 0) {
      i += 2;
      continue;
    }
    if (out[i] == '=') {
      decoded.push_back(static_cast<char>(std::stoi(out.substr(i + 1, 2), nullptr, 16)));
      i += 2;
      continue;
    }
    decoded.push_back(out[i]);
  }
  EXPECT_EQ(decoded, text);
}

TEST(DotStuffing, LinesStartingWithADotGetOneMore) {
  EXPECT_EQ(mail::DotStuff(".a\r\nb\r\n.\r\n..c"), "..a\r\nb\r\n..\r\n...c");
  EXPECT_EQ(mail::DotStuff("a.b"), "a.b");
}

TEST(HeaderWords, PlainTextStaysAndHighBytesBecomeAdjacentWords) {
  EXPECT_EQ(mail::EncodeHeaderText("Log From Quillmark... LatestLog.xml", "iso-8859-1"),
            "Log From Quillmark... LatestLog.xml");
  EXPECT_EQ(mail::EncodeHeaderText("caf\xE9 ok?", "iso-8859-1"), "=?iso-8859-1?q?caf=E9_ok=3F?=");
  std::string longText = std::string(70, 'a') + std::string(69, 'b') + "\xE9";
  EXPECT_EQ(mail::EncodeHeaderText(longText, "iso-8859-1"),
            std::string(70, 'a') + "=?iso-8859-1?q?" + std::string(69, 'b') + "=E9?=");
  EXPECT_EQ(mail::EncodeHeaderText("\xE9", "UTF-8"), "=?UTF-8?q?=C3=A9?=");
}
