// The exact text a message puts on the wire after DATA.
#include <gtest/gtest.h>

#include <algorithm>

#include "mailer/message_sink.h"
#include "mailer/smtp_exception.h"
#include "mailer/smtp_message.h"
#include "message_fixture.h"

namespace {

using mail::CSMTPAddress;
using mail::CSMTPMessage;
using mailtest::CountingUuids;

class MessageText : public ::testing::Test {
 protected:
  CountingUuids uuids;
  mailtest::FixedClock clock{mailtest::At(2006, 3, 9, 14, 5, 9)};
  mailtest::ScopedTimeZone tz{"UTC0"};
  mailtest::TempFolder folder;

  CSMTPMessage ReportMessage() {
    CSMTPMessage m;
    m.SetCharset("iso-8859-1");
    m.AddRecipientList("a@x.test;B <b@x.test>", CSMTPMessage::kTo);
    m.SetSubject("Log From Quillmark... LatestLog.xml");
    m.SetBodyText("Hello\n.dot");
    m.SetSender(CSMTPAddress("reports@x.test", "Quillmark Reports"));
    return m;
  }
};

TEST_F(MessageText, PlainMessageHasNoMimeVersionAndStuffsItsText) {
  CSMTPMessage m = ReportMessage();
  EXPECT_EQ(m.AddAttachmentList(""), 0);
  EXPECT_EQ(m.BuildMessageText(),
            "From: Quillmark Reports <reports@x.test>\r\n"
            "To: a@x.test,B <b@x.test>\r\n"
            "Subject: Log From Quillmark... LatestLog.xml\r\n"
            "X-Mailer: CTernSMTPConnection v2.49\r\n"
            "Content-Type: text/plain;\r\n\tcharset=iso-8859-1\r\n"
            "Date: Thu, 09 Mar 2006 14:05:09 +0000\r\n"
            "Message-ID: " +
                m.MessageId() +
                "\r\n"
                "\r\n"
                "Hello\r\n..dot");
}

TEST_F(MessageText, AttachmentMakesAMultipartMessage) {
  CSMTPMessage m = ReportMessage();
  const std::string file = folder.File("Report.xml", "<log>");
  EXPECT_EQ(m.AddAttachmentList(file), 1);
  const std::string root = CountingUuids::Nth(1);
  EXPECT_EQ(m.BuildMessageText(),
            "From: Quillmark Reports <reports@x.test>\r\n"
            "To: a@x.test,B <b@x.test>\r\n"
            "Subject: Log From Quillmark... LatestLog.xml\r\n"
            "X-Mailer: CTernSMTPConnection v2.49\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"" +
                root +
                "\"\r\n"
                "Date: Thu, 09 Mar 2006 14:05:09 +0000\r\n"
                "Message-ID: " +
                m.MessageId() +
                "\r\n"
                "\r\n"
                "This is a multi-part message in MIME format"
                "\r\n--" +
                root +
                "\r\n"
                "Content-Type: text/plain; charset=iso-8859-1\r\n"
                "Content-Transfer-Encoding: quoted-printable\r\n"
                "\r\n"
                "Hello\r\n..dot"
                "\r\n\r\n--" +
                root +
                "\r\n"
                "Content-Type: application/octet-stream; charset=iso-8859-1;\r\n\tname=\"Report.xml\"\r\n"
                "Content-Transfer-Encoding: base64\r\n"
                "Content-Disposition: attachment;\r\n\tfilename=\"Report.xml\"\r\n"
                "\r\n"
                "PGxvZz4=\r\n"
                "\r\n--" +
                root + "--");
}

TEST_F(MessageText, EmptyAttachmentHasAnEmptyBody) {
  CSMTPMessage m = ReportMessage();
  m.AddAttachmentList(folder.File("empty.xml", ""));
  const std::string text = m.BuildMessageText();
  const std::string tail = "filename=\"empty.xml\"\r\n\r\n\r\n--" + CountingUuids::Nth(1) + "--";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(MessageText, SeveralAttachmentsFollowTheTextInListOrder) {
  CSMTPMessage m = ReportMessage();
  const std::string a = folder.File("a.xml", "A"), b = folder.File("b.xml", "B");
  EXPECT_EQ(m.AddAttachmentList(" " + a + " ,, ;" + b + "; "), 2);
  ASSERT_EQ(m.Root().ChildCount(), 3u);
  EXPECT_EQ(m.Root().Child(0).ContentType(), "text/plain");
  EXPECT_EQ(m.Root().Child(1).Title(), "a.xml");
  EXPECT_EQ(m.Root().Child(2).Title(), "b.xml");
  const std::string text = m.BuildMessageText();
  EXPECT_LT(text.find("filename=\"a.xml\""), text.find("filename=\"b.xml\""));
}

TEST_F(MessageText, NonAsciiSubjectAndSenderNameAreEncodedWords) {
  CSMTPMessage m = ReportMessage();
  m.SetSubject("Caf\xE9 report");
  m.SetSender(CSMTPAddress("r@x.test", "J\xFCrgen"));
  const std::string header = m.BuildHeader();
  EXPECT_NE(header.find("From: =?iso-8859-1?q?J=FCrgen?= <r@x.test>\r\n"), std::string::npos) << header;
  EXPECT_NE(header.find("Subject: =?iso-8859-1?q?Caf=E9_report?=\r\n"), std::string::npos) << header;

  // 70-byte pieces: only the piece holding the high byte is encoded, and
  // the pieces stand side by side.
  std::string subject = std::string(70, 'a') + "\xE9";
  m.SetSubject(subject);
  EXPECT_NE(m.BuildHeader().find("Subject: " + std::string(70, 'a') + "=?iso-8859-1?q?=E9?=\r\n"),
            std::string::npos);
}

TEST_F(MessageText, Utf8CharsetConvertsSubjectAndText) {
  CSMTPMessage m;
  m.SetCharset("UTF-8");
  m.SetSubject("\xE9");
  m.SetMimeMode(true);
  m.SetBodyText("\xE9");
  const std::string text = m.BuildMessageText();
  EXPECT_NE(text.find("Subject: =?UTF-8?q?=C3=A9?=\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n=C3=A9"),
            std::string::npos)
      << text;
}

TEST_F(MessageText, LongTextLinesGetQuotedPrintableSoftBreaks) {
  CSMTPMessage m = ReportMessage();
  m.SetBodyText(std::string(200, 'a') + "\n" + "x. " + std::string(75, 'b') + "\nend");
  m.AddAttachmentList(folder.File("r.xml", "r"));
  const std::string text = m.BuildMessageText();
  const std::string expected = std::string(77, 'a') + "=\r\n" + std::string(77, 'a') + "=\r\n" +
                               std::string(46, 'a') + "\r\n" + "x. =\r\n" + std::string(75, 'b') + "\r\nend";
  EXPECT_NE(text.find("quoted-printable\r\n\r\n" + expected + "\r\n\r\n--"), std::string::npos) << text;
}

TEST_F(MessageText, SoftBreakLineStartingWithDotIsStuffed) {
  // The soft break puts a "." at the start of a wire line; it is stuffed
  // like any other.
  CSMTPMessage m = ReportMessage();
  m.SetBodyText(std::string(77, 'a') + ".b");
  m.SetMimeMode(true);
  const std::string text = m.BuildMessageText();
  EXPECT_NE(text.find("\r\n\r\n" + std::string(77, 'a') + "=\r\n..b\r\n--"), std::string::npos) << text;
}

TEST_F(MessageText, CcIsNamedBccIsNot) {
  CSMTPMessage m = ReportMessage();
  m.AddRecipient(CSMTPAddress("c@x.test"), CSMTPMessage::kCc);
  m.AddRecipient(CSMTPAddress("hidden@x.test"), CSMTPMessage::kBcc);
  EXPECT_EQ(m.AddRecipient(CSMTPAddress("z@x.test"), 3), -1);
  const std::string header = m.BuildHeader();
  EXPECT_NE(header.find("To: a@x.test,B <b@x.test>\r\nCc: c@x.test\r\nSubject:"), std::string::npos);
  EXPECT_EQ(header.find("hidden"), std::string::npos);
  EXPECT_EQ(m.RecipientCount(CSMTPMessage::kBcc), 1);
}

TEST_F(MessageText, OptionalHeaderLinesComeInTheirPlaces) {
  CSMTPMessage m = ReportMessage();
  m.SetMailerName("");
  m.SetReplyTo(CSMTPAddress("back@x.test", "Back"));
  m.SetPriority(CSMTPMessage::kHighPriority);
  m.SetHeaderLines({"X-One: 1", "X-Two: 2"});
  m.SetMessageId("<id@x.test>");
  EXPECT_EQ(m.BuildHeader(),
            "From: Quillmark Reports <reports@x.test>\r\n"
            "To: a@x.test,B <b@x.test>\r\n"
            "Subject: Log From Quillmark... LatestLog.xml\r\n"
            "Content-Type: text/plain;\r\n\tcharset=iso-8859-1\r\n"
            "Reply-To: Back <back@x.test>\r\n"
            "Date: Thu, 09 Mar 2006 14:05:09 +0000\r\n"
            "Message-ID: <id@x.test>\r\n"
            "X-Priority: 1\r\n"
            "X-One: 1\r\nX-Two: 2\r\n");
  m.SetPriority(CSMTPMessage::kLowPriority);
  EXPECT_NE(m.BuildHeader().find("X-Priority: 5\r\n"), std::string::npos);
  m.SetPriority(CSMTPMessage::kNormalPriority);
  EXPECT_NE(m.BuildHeader().find("X-Priority: 3\r\n"), std::string::npos);
}

TEST_F(MessageText, MimeModeMovesTheTextIntoAChildAndBack) {
  CSMTPMessage m = ReportMessage();
  m.SetMimeMode(true);
  ASSERT_EQ(m.Root().ChildCount(), 1u);
  EXPECT_EQ(m.Root().Text(), "This is a multi-part message in MIME format");
  EXPECT_EQ(m.Root().ContentType(), "multipart/mixed");
  EXPECT_EQ(m.Root().Child(0).Text(), "Hello\r\n.dot");
  m.SetBodyText("second");  // goes to the existing text child
  ASSERT_EQ(m.Root().ChildCount(), 1u);
  EXPECT_EQ(m.Root().Child(0).Text(), "second");
  m.SetMimeMode(true);  // no change
  EXPECT_EQ(m.Root().ChildCount(), 1u);
  m.SetMimeMode(false);
  EXPECT_EQ(m.Root().ChildCount(), 0u);
}

// Header or command injection: a line break in anything that goes into a
// header line or an SMTP command stops the text from being built at all.
TEST_F(MessageText, LineBreaksInAddressesAndHeaderFieldsAreRefused) {
  auto expectHeaderError = [](const CSMTPMessage& m, const char* what) {
    try {
      (void)m.BuildMessageText();
      ADD_FAILURE() << what << " was accepted";
    } catch (const mail::CSMTPException& e) {
      EXPECT_EQ(e.Code(), 0x80040201u) << what;
    }
  };
  {
    CSMTPMessage m = ReportMessage();
    m.SetSender(CSMTPAddress("a@x.test>\r\nRCPT TO:<evil@x.test"));
    expectHeaderError(m, "sender address");
  }
  {
    CSMTPMessage m = ReportMessage();
    m.SetSender(CSMTPAddress("a@x.test", "Name\nBcc: evil@x.test"));
    expectHeaderError(m, "sender name");
  }
  {
    CSMTPMessage m = ReportMessage();
    m.AddRecipient(CSMTPAddress("b@x.test\r\nDATA"), CSMTPMessage::kBcc);
    expectHeaderError(m, "bcc address");
  }
  {
    CSMTPMessage m = ReportMessage();
    m.SetSubject("s\rX-Evil: 1");
    expectHeaderError(m, "subject");
  }
  {
    CSMTPMessage m = ReportMessage();
    m.AddAttachmentList(folder.File("a\nContent-Type: text", "x"));
    expectHeaderError(m, "attachment name");
  }
}

TEST_F(MessageText, MissingAttachmentFailsBeforeAnyTextIsMade) {
  CSMTPMessage m = ReportMessage();
  m.AddAttachmentList((folder.Path() / "gone.xml").string());
  try {
    (void)m.BuildMessageText();
    FAIL() << "missing attachment accepted";
  } catch (const mail::CSMTPException& e) {
    EXPECT_EQ(e.Code(), 0x80040202u);
    EXPECT_EQ(e.Number(), mail::kErrPartBody);
  }
}

TEST_F(MessageText, EveryMessageHasItsOwnMessageId) {
  const CSMTPMessage a = ReportMessage();
  const CSMTPMessage b = ReportMessage();
  EXPECT_NE(a.MessageId(), b.MessageId());
  // "<" uuid "@" host ">", the host a dot-atom.
  const std::string& id = a.MessageId();
  ASSERT_GT(id.size(), 40u);
  EXPECT_EQ(id.front(), '<');
  EXPECT_EQ(id.back(), '>');
  EXPECT_EQ(id.find('@'), 37u) << id;
  EXPECT_EQ(id.find_first_not_of("<>@-.abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"),
            std::string::npos)
      << id;
  EXPECT_EQ(a.BuildHeader(), a.BuildHeader()) << "one identifier per message, however often built";
}

TEST_F(MessageText, MultipartTopHeaderNamesNoTransferEncoding) {
  CSMTPMessage m = ReportMessage();
  m.Root().SetBase64(true);  // whatever the root's flags say
  m.AddAttachmentList(folder.File("Report.xml", "<log>"));
  const std::string header = m.BuildHeader();
  EXPECT_EQ(header.find("Content-Transfer-Encoding"), std::string::npos) << header;
  EXPECT_NE(header.find("MIME-Version: 1.0\r\n"), std::string::npos);
}

TEST_F(MessageText, WrittenInPiecesEqualsTheWholeText) {
  CSMTPMessage m = ReportMessage();
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 >> 5);
  m.AddAttachmentList(folder.File("a.bin", bytes) + ";" + folder.File("b.bin", "short"));
  mail::AttachmentFiles files;
  m.OpenAttachments(files);
  EXPECT_EQ(files.size(), 2u);

  struct Pieces : mail::CMessageSink {
    std::string text;
    std::size_t largest = 0;
    void Write(std::string_view b) override {
      text.append(b);
      largest = std::max(largest, b.size());
    }
  } pieces;
  m.WriteMessageText(pieces, &files);
  EXPECT_EQ(pieces.text, m.BuildMessageText());
  EXPECT_LT(pieces.largest, 200000u) << "the attachment is encoded a piece at a time";
}

}  // namespace
