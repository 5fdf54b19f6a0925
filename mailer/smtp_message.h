// A mail message: sender, recipients, subject and a tree of body parts,
// turned into the exact text an SMTP connection sends after DATA.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mailer/smtp_address.h"
#include "mailer/smtp_body_part.h"

namespace mail {

class CSMTPMessage {
 public:
  enum RecipientKind { kTo = 0, kCc = 1, kBcc = 2 };
  enum Priority { kNoPriority = 0, kLowPriority = 1, kNormalPriority = 2, kHighPriority = 3 };

  // Plain form with an empty text root part.
  CSMTPMessage();
  CSMTPMessage(const CSMTPMessage&) = default;
  CSMTPMessage& operator=(const CSMTPMessage&) = default;
  virtual ~CSMTPMessage();

  // The charset of the root part, which header words are encoded with.
  void SetCharset(std::string charset) { root_.SetCharset(std::move(charset)); }
  const std::string& Charset() const { return root_.Charset(); }

  // Appends a copy to the list of `kind`; its index, or -1 for an
  // unknown kind.
  int AddRecipient(const CSMTPAddress& address, int kind = kTo);
  // Splits at "," and ";", parses each trimmed piece as an address and
  // adds those with a non-empty address; true when any was added.
  bool AddRecipientList(std::string_view text, int kind = kTo);
  int RecipientCount(int kind) const;
  const CSMTPAddress& Recipient(int index, int kind) const;

  // In multipart form the first "text/plain" child gets the text (one is
  // made when there is none); otherwise the root part itself.
  void SetBodyText(std::string_view text);
  // Switching rebuilds the root: its children go, and switching on moves
  // the root's text into a text child.
  void SetMimeMode(bool multipart);
  bool MimeMode() const { return multipart_; }
  // Switches to multipart form and appends a copy of `part` to the root.
  std::size_t AddBodyPart(const CSMTPBodyPart& part);
  // One attachment per non-empty piece of `text` split at "," and ";";
  // the number added.
  int AddAttachmentList(std::string_view text);

  // The header lines, without the blank line that ends them. Throws
  // CSMTPException (header error) when an address, name, subject or
  // other field holds a line break.
  virtual std::string BuildHeader() const;

  // Everything the connection sends between its DATA command and the
  // final "\r\n.\r\n": header, blank line, and the body with every part
  // encoded and every text dot-stuffed. Throws CSMTPException with the
  // header error (a line break in an address, name or field) or the body
  // error (an attachment missing, unreadable or larger than the limit).
  std::string BuildMessageText() const;

  // The same text written piece by piece, attachments read from `files`
  // (see OpenAttachments) and encoded while they are written, so memory
  // stays small whatever their size. The header is built and checked
  // before the first byte is written.
  void WriteMessageText(CMessageSink& sink, AttachmentFiles* files = nullptr) const;

  // Opens every attachment file: a connection does this before MAIL
  // FROM, so that a missing, unreadable or too large file fails before
  // the server hears of the message (CSMTPException, body error).
  void OpenAttachments(AttachmentFiles& files) const { root_.OpenAttachments(files); }

  // Throws the header error when a recipient, the sender or the reply-to
  // address could end an SMTP command or a header line early.
  void CheckAddresses() const;
  // Builds every header text of the message and its parts once, throwing
  // the header or trailer error a send would meet.
  void CheckTexts() const;

  void SetSender(CSMTPAddress sender) { sender_ = std::move(sender); }
  const CSMTPAddress& Sender() const { return sender_; }
  void SetSubject(std::string subject) { subject_ = std::move(subject); }
  const std::string& Subject() const { return subject_; }
  void SetMailerName(std::string name) { mailerName_ = std::move(name); }
  const std::string& MailerName() const { return mailerName_; }
  void SetReplyTo(CSMTPAddress address) { replyTo_ = std::move(address); }
  const CSMTPAddress& ReplyTo() const { return replyTo_; }
  void SetPriority(Priority priority) { priority_ = priority; }
  Priority GetPriority() const { return priority_; }
  void SetHeaderLines(std::vector<std::string> lines) { headerLines_ = std::move(lines); }
  // "<uuid@host>", made once per message.
  void SetMessageId(std::string id) { messageId_ = std::move(id); }
  const std::string& MessageId() const { return messageId_; }
  const std::vector<std::string>& HeaderLines() const { return headerLines_; }

  CSMTPBodyPart& Root() { return root_; }
  const CSMTPBodyPart& Root() const { return root_; }

 private:
  const std::vector<CSMTPAddress>* List(int kind) const;
  std::vector<CSMTPAddress>* List(int kind);

  CSMTPAddress sender_;
  std::string subject_;
  std::string mailerName_ = "CTernSMTPConnection v2.49";
  CSMTPAddress replyTo_;
  CSMTPBodyPart root_;
  Priority priority_ = kNoPriority;
  std::vector<CSMTPAddress> to_, cc_, bcc_;
  std::vector<std::string> headerLines_;
  std::string messageId_;
  bool multipart_ = false;
};

// A fresh "<uuid@host>" with the local host's name (a name that cannot
// stand in a message identifier is replaced by "localhost").
std::string NewMessageId();

// "Thu, 09 Mar 2006 14:05:09 +0100" for the current time of
// platform::Clock in the process's time zone.
std::string DateLineText();

}  // namespace mail
