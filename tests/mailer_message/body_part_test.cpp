// Headers, bodies and trailers of single parts; attachment reading.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mailer/base64_coder.h"
#include "mailer/parameter_encoding.h"
#include "mailer/smtp_body_part.h"
#include "mailer/smtp_exception.h"
#include "message_fixture.h"

namespace {

using mail::CSMTPBodyPart;
using mailtest::CountingUuids;

class BodyPart : public ::testing::Test {
 protected:
  CountingUuids uuids;
  mailtest::TempFolder folder;
  CSMTPBodyPart parent;  // boundary ...01

  // A copy of `part` as the parent's child, as it is sent.
  const CSMTPBodyPart& Adopt(const CSMTPBodyPart& part) { return parent.Child(parent.AddBodyPart(part)); }

  std::string SizedFile(const std::string& name, std::uintmax_t size) {
    std::string file = folder.File(name, "");
    std::filesystem::resize_file(file, size);
    return file;
  }
};

TEST_F(BodyPart, TextHeadersFollowTheEncodingFlags) {
  const std::string p = CountingUuids::Nth(1);
  CSMTPBodyPart part;  // ...02
  part.SetBodyText("x");
  EXPECT_EQ(Adopt(part).BuildHeader(), "\r\n--" + p +
                                           "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                                           "Content-Transfer-Encoding: quoted-printable\r\n\r\n");
  part.SetBase64(true);  // wins over quoted-printable
  EXPECT_EQ(Adopt(part).BuildHeader(), "\r\n--" + p +
                                           "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                                           "Content-Transfer-Encoding: base64\r\n\r\n");
  part.SetBase64(false);
  part.SetQuotedPrintable(false);
  part.SetContentBase("http://x.test/");
  part.SetContentID("<id@x.test>");
  part.SetContentLocation("loc");
  EXPECT_EQ(Adopt(part).BuildHeader(),
            "\r\n--" + p +
                "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                "Content-Base: http://x.test/\r\nContent-ID: <id@x.test>\r\nContent-Location: loc\r\n\r\n");
}

TEST_F(BodyPart, PartsWithChildrenNameTheirOwnBoundary) {
  const std::string p = CountingUuids::Nth(1);
  CSMTPBodyPart text;   // ...02
  CSMTPBodyPart inner;  // ...03
  text.SetContentType("multipart/alternative");
  text.AddBodyPart(inner);
  EXPECT_EQ(Adopt(text).BuildHeader(),
            "\r\n--" + p + "\r\nContent-Type: multipart/alternative; charset=iso-8859-1; Boundary=\"" +
                CountingUuids::Nth(2) + "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n");
  EXPECT_EQ(text.BuildTrailer(), "\r\n--" + CountingUuids::Nth(2) + "--");

  CSMTPBodyPart file;  // ...04
  file.SetAttachmentPath("C:\\Logs\\Report.xml");
  file.SetQuotedPrintable(false);  // an attachment says base64 whatever its flags
  file.AddBodyPart(inner);
  EXPECT_EQ(Adopt(file).BuildHeader(),
            "\r\n\r\n--" + p +
                "\r\nContent-Type: application/octet-stream; charset=iso-8859-1;\r\n"
                "\tname=\"Report.xml\";\r\n\tBoundary=\"" +
                CountingUuids::Nth(4) +
                "\"\r\n"
                "Content-Transfer-Encoding: base64\r\n"
                "Content-Disposition: attachment;\r\n\tfilename=\"Report.xml\"\r\n\r\n");
}

TEST_F(BodyPart, QuotesAndBackslashesInNamesAreEscaped) {
  CSMTPBodyPart file;
  file.SetAttachmentPath("/srv/r\" x=\"evil.exe");
  const std::string header = Adopt(file).BuildHeader();
  EXPECT_NE(header.find("\tname=\"r\\\" x=\\\"evil.exe\"\r\n"), std::string::npos) << header;
  EXPECT_NE(header.find("\tfilename=\"r\\\" x=\\\"evil.exe\"\r\n"), std::string::npos) << header;
  // A backslash separates folders in a path; in a name it is escaped too.
  EXPECT_EQ(mail::QuotedParameterValue("a\\b\"c"), "\"a\\\\b\\\"c\"");
}

TEST_F(BodyPart, NonAsciiNamesAreEncodedIn7Bit) {
  CSMTPBodyPart file;
  file.SetAttachmentPath("/srv/Z\xFCrich.xml");
  std::string header = Adopt(file).BuildHeader();
  EXPECT_NE(header.find("\tname=\"=?utf-8?B?WsO8cmljaC54bWw=?=\"\r\n"), std::string::npos) << header;
  EXPECT_NE(header.find("\tfilename*=utf-8''Z%C3%BCrich.xml\r\n"), std::string::npos) << header;

  // A long name: several encoded words, numbered continuations, and no
  // line near the 998-character limit.
  file.SetAttachmentPath("/srv/" + std::string(120, '\xE9') + " \"x\".xml");
  header = Adopt(file).BuildHeader();
  for (unsigned char c : header) EXPECT_LT(c, 0x80);
  EXPECT_NE(header.find("filename*0*=utf-8''%C3%A9"), std::string::npos) << header;
  EXPECT_NE(header.find(";\r\n\tfilename*1*=%C3%A9"), std::string::npos) << header;
  EXPECT_NE(header.find("%20%22x%22.xml\r\n"), std::string::npos) << header;
  EXPECT_NE(header.find("?=\r\n =?utf-8?B?"), std::string::npos) << header;
  std::size_t start = 0;
  for (std::size_t end; (end = header.find("\r\n", start)) != std::string::npos; start = end + 2) {
    EXPECT_LE(end - start, 100u) << header.substr(start, end - start);
  }
}

TEST_F(BodyPart, NonAsciiFileIsFoundUnderItsSystemName) {
  // The path is Latin-1 text; the file on disk has the system's name for
  // it: UTF-8 bytes on POSIX, the same code points as a wide name on Windows.
  const std::string bytes = "<log>Z\xC3\xBCrich</log>";
#if defined(_WIN32)
  std::ofstream(folder.Path() / std::filesystem::path(L"Z\u00FCrich.xml"), std::ios::binary) << bytes;
#else
  folder.File("Z\xC3\xBCrich.xml", bytes);
#endif
  CSMTPBodyPart part;
  part.SetAttachmentPath((folder.Path() / "Z").string() + "\xFCrich.xml");
  EXPECT_EQ(part.Title(), "Z\xFCrich.xml");
  EXPECT_EQ(part.BuildBody(), mail::Base64Lines(bytes));
}

TEST_F(BodyPart, TitleIsTheBareFileName) {
  CSMTPBodyPart part;
  part.SetAttachmentPath("/var/lib/quillmark/Logs/Report.xml");
  EXPECT_EQ(part.Title(), "Report.xml");
  EXPECT_EQ(part.ContentType(), "application/octet-stream");
  part.SetAttachmentPath("C:\\Program Files\\Quillmark\\Logs\\TestEmail.xml");
  EXPECT_EQ(part.Title(), "TestEmail.xml");
  part.SetAttachmentPath("D:Report.xml");
  EXPECT_EQ(part.Title(), "Report.xml");
  part.SetAttachmentPath("/tmp/a:b.xml");
  EXPECT_EQ(part.Title(), "a:b.xml");
}

TEST_F(BodyPart, AttachmentBodyIsBase64InLinesOf76) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<char>(i * 7 % 256));
  CSMTPBodyPart part;
  part.SetAttachmentPath(folder.File("data.bin", bytes));
  const std::string body = part.BuildBody();

  std::string joined;
  std::size_t start = 0, lines = 0;
  while (start < body.size()) {
    const std::size_t end = body.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "last line lacks CR LF";
    const std::size_t length = end - start;
    ++lines;
    if (end + 2 < body.size())
      EXPECT_EQ(length, 76u) << "line " << lines;
    else
      EXPECT_LE(length, 76u);
    joined.append(body, start, length);
    start = end + 2;
  }
  EXPECT_EQ(lines, (1336u + 75) / 76);
  mail::CBase64Coder coder;
  coder.Decode(joined);
  EXPECT_EQ(coder.DecodedMessage(), bytes);
}

TEST_F(BodyPart, AttachmentAcrossReadChunksEncodesLikeOneBlock) {
  // Bigger than one read chunk and not a multiple of 57 bytes.
  std::string bytes(57 * 16384 * 2 + 100, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 3);
  CSMTPBodyPart part;
  part.SetAttachmentPath(folder.File("big.bin", bytes));
  EXPECT_EQ(part.BuildBody(), mail::Base64Lines(bytes));
}

TEST_F(BodyPart, AttachmentSizeLimitIsInclusive) {
  CSMTPBodyPart part;
  part.SetAttachmentPath(SizedFile("limit.bin", CSMTPBodyPart::kMaxAttachmentSize));
  std::string body;
  part.AppendBody(body);
  // 69905068 base64 characters in 919804 lines.
  EXPECT_EQ(body.size(), 69905068u + 2 * 919804u);
  EXPECT_EQ(body.compare(0, 8, "AAAAAAAA"), 0);

  part.SetAttachmentPath(SizedFile("over.bin", CSMTPBodyPart::kMaxAttachmentSize + 1));
  std::string out = "kept";
  try {
    part.AppendBody(out);
    FAIL() << "one byte over the limit was accepted";
  } catch (const mail::CSMTPException& e) {
    EXPECT_EQ(e.Code(), 0x80040202u);
  }
  EXPECT_EQ(out, "kept");
}

TEST_F(BodyPart, UnreadableAttachmentsFail) {
  CSMTPBodyPart part;
  for (const std::string& path : {(folder.Path() / "missing.xml").string(), folder.Path().string()}) {
    part.SetAttachmentPath(path);
    EXPECT_THROW(part.BuildBody(), mail::CSMTPException) << path;
  }
#if !defined(_WIN32)  // permissions() cannot take read access away on Windows
  if (::geteuid() != 0) {
    std::string locked = folder.File("locked.xml", "x");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    part.SetAttachmentPath(locked);
    EXPECT_THROW(part.BuildBody(), mail::CSMTPException);
  }
#endif
}

TEST_F(BodyPart, TextBodiesAreEncodedThenStuffed) {
  CSMTPBodyPart part;
  part.SetBodyText(".a=b\r\n\xE9");
  EXPECT_EQ(part.BuildBody(), "..a=3Db\r\n=E9");
  part.SetQuotedPrintable(false);
  EXPECT_EQ(part.BuildBody(), "..a=b\r\n\xE9");
  part.SetCharset("utf-8");
  EXPECT_EQ(part.BuildBody(), "..a=b\r\n\xC3\xA9");
  part.SetBase64(true);  // base64 lines are never stuffed
  EXPECT_EQ(part.BuildBody(), mail::Base64Lines(".a=b\r\n\xC3\xA9"));
}

TEST_F(BodyPart, LineBreaksAreNormalizedToCrLf) {
  CSMTPBodyPart part;
  part.SetBodyText("a\nb\r\nc\rd\r\r\ne\n\r");
  EXPECT_EQ(part.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n\r\n");
}

TEST_F(BodyPart, CopiesAreDeepAndKeepTheBoundary) {
  CSMTPBodyPart outer;  // ...02
  CSMTPBodyPart inner;  // ...03
  inner.SetBodyText("inner");
  outer.AddBodyPart(inner);
  CSMTPBodyPart copy(outer);
  EXPECT_EQ(copy.Boundary(), outer.Boundary());
  ASSERT_EQ(copy.ChildCount(), 1u);
  EXPECT_EQ(copy.Child(0).Parent(), &copy);
  EXPECT_EQ(copy.Child(0).Boundary(), CountingUuids::Nth(3));
  copy.Child(0).SetBodyText("changed");
  EXPECT_EQ(outer.Child(0).Text(), "inner");

  outer = outer.Child(0);  // assigning from one's own child
  EXPECT_EQ(outer.Text(), "inner");
  EXPECT_EQ(outer.ChildCount(), 0u);
  EXPECT_EQ(copy.FindChildByType("text/plain"), &copy.Child(0));
  EXPECT_EQ(copy.FindChildByType("Text/Plain"), nullptr);
}

}  // namespace
