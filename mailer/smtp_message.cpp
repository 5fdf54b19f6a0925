#include "mailer/smtp_message.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "mailer/header_encoding.h"
#include "mailer/message_sink.h"
#include "mailer/quoted_printable.h"
#include "mailer/smtp_exception.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/socket.h"
#include "platform/uuid.h"

namespace mail {

namespace {

constexpr std::string_view kMultipartText = "This is a multi-part message in MIME format";

void RequireSingleLine(std::string_view value, const char* field) {
  if (HasLineBreak(value)) {
    throw CSMTPException::Protocol(kErrPartHeader, std::string("line break in ") + field);
  }
}

void RequireSingleLine(const CSMTPAddress& address, const char* field) {
  if (address.HasLineBreak()) {
    throw CSMTPException::Protocol(kErrPartHeader, std::string("line break in ") + field);
  }
}

template <typename Fn>
void ForEachPiece(std::string_view text, Fn&& fn) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(",;", start);
    if (end == std::string_view::npos) end = text.size();
    fn(TrimWhiteSpace(text.substr(start, end - start)));
    start = end + 1;
  }
}

std::string JoinAddresses(const std::vector<CSMTPAddress>& list, std::string_view charset) {
  std::string out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) out += ',';
    out += list[i].FormatAddress(true, charset);
  }
  return out;
}

}  // namespace

std::string DateLineText() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const platform::LocalTime t = platform::ToLocalTime(platform::Clock::Default().Now());
  const int offset = std::abs(t.utcOffsetMinutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %c%02d%02d", kDays[(t.weekday % 7 + 7) % 7],
                t.day, kMonths[(t.month + 11) % 12], t.year, t.hour, t.minute, t.second,
                t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

std::string NewMessageId() {
  std::string host = platform::LocalHostName();
  const bool usable = !host.empty() && host.front() != '.' && host.back() != '.' &&
                      host.find("..") == std::string::npos &&
                      std::all_of(host.begin(), host.end(), [](char c) {
                        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                               c == '-' || c == '.';
                      });
  if (!usable) host = "localhost";
  return "<" + platform::NewUuidText() + "@" + host + ">";
}

CSMTPMessage::CSMTPMessage() : messageId_(NewMessageId()) {}
CSMTPMessage::~CSMTPMessage() = default;

const std::vector<CSMTPAddress>* CSMTPMessage::List(int kind) const {
  switch (kind) {
    case kTo: return &to_;
    case kCc: return &cc_;
    case kBcc: return &bcc_;
    default: return nullptr;
  }
}

std::vector<CSMTPAddress>* CSMTPMessage::List(int kind) {
  switch (kind) {
    case kTo: return &to_;
    case kCc: return &cc_;
    case kBcc: return &bcc_;
    default: return nullptr;
  }
}

int CSMTPMessage::AddRecipient(const CSMTPAddress& address, int kind) {
  auto* list = List(kind);
  if (!list) return -1;
  list->push_back(address);
  return static_cast<int>(list->size()) - 1;
}

bool CSMTPMessage::AddRecipientList(std::string_view text, int kind) {
  if (!List(kind)) return false;
  bool added = false;
  ForEachPiece(text, [&](std::string_view piece) {
    CSMTPAddress address;
    address.ParseAddress(piece);
    if (!address.IsEmpty()) added = AddRecipient(address, kind) >= 0 || added;
  });
  return added;
}

int CSMTPMessage::RecipientCount(int kind) const {
  const auto* list = List(kind);
  return list ? static_cast<int>(list->size()) : 0;
}

const CSMTPAddress& CSMTPMessage::Recipient(int index, int kind) const {
  const auto* list = List(kind);
  if (!list) throw std::out_of_range("recipient kind");
  return list->at(static_cast<std::size_t>(index));
}

void CSMTPMessage::SetBodyText(std::string_view text) {
  if (!multipart_) {
    root_.SetBodyText(text);
    return;
  }
  if (CSMTPBodyPart* part = root_.FindChildByType("text/plain")) {
    part->SetBodyText(text);
    return;
  }
  root_.SetRawText(std::string(kMultipartText));
  root_.SetContentType("multipart/mixed");
  CSMTPBodyPart part;
  part.SetCharset(root_.Charset());
  part.SetBodyText(text);
  root_.AddBodyPart(part);
}

void CSMTPMessage::SetMimeMode(bool multipart) {
  if (multipart == multipart_) return;
  multipart_ = multipart;
  root_.RemoveAllChildren();
  if (!multipart) return;
  const std::string text = root_.Text();
  root_.SetRawText(std::string(kMultipartText));
  root_.SetContentType("multipart/mixed");
  if (!text.empty()) SetBodyText(text);
}

std::size_t CSMTPMessage::AddBodyPart(const CSMTPBodyPart& part) {
  SetMimeMode(true);
  return root_.AddBodyPart(part);
}

int CSMTPMessage::AddAttachmentList(std::string_view text) {
  int added = 0;
  ForEachPiece(text, [&](std::string_view piece) {
    if (piece.empty()) return;
    CSMTPBodyPart part;
    part.SetAttachmentPath(piece);
    AddBodyPart(part);
    ++added;
  });
  return added;
}

void CSMTPMessage::CheckAddresses() const {
  RequireSingleLine(sender_, "the sender");
  RequireSingleLine(replyTo_, "the reply-to address");
  for (const auto* list : {&to_, &cc_, &bcc_}) {
    for (const auto& address : *list) RequireSingleLine(address, "a recipient");
  }
}

void CSMTPMessage::CheckTexts() const {
  (void)BuildHeader();
  root_.CheckHeaders(true);
}

std::string CSMTPMessage::BuildHeader() const {
  CheckAddresses();
  RequireSingleLine(subject_, "the subject");
  RequireSingleLine(mailerName_, "the mailer name");
  RequireSingleLine(root_.ContentType(), "the content type");
  RequireSingleLine(root_.Charset(), "the charset");
  RequireSingleLine(root_.Boundary(), "the boundary");
  for (const auto& line : headerLines_) RequireSingleLine(line, "a header line");
  RequireSingleLine(messageId_, "the message identifier");

  const std::string& charset = root_.Charset();
  std::string out = "From: " + sender_.FormatAddress(true, charset);
  out += "\r\nTo: " + JoinAddresses(to_, charset) + "\r\n";
  if (!cc_.empty()) out += "Cc: " + JoinAddresses(cc_, charset) + "\r\n";
  out += "Subject: " + EncodeHeaderText(subject_, charset);
  if (!mailerName_.empty()) out += "\r\nX-Mailer: " + mailerName_;
  out += "\r\n";
  if (multipart_) {
    // A multipart body is never encoded as a whole (RFC 2045 6.4): its
    // parts carry their own transfer encodings.
    out += "MIME-Version: 1.0\r\nContent-Type: " + root_.ContentType();
    if (root_.ChildCount() > 0) out += "; boundary=\"" + root_.Boundary() + "\"";
    out += "\r\n";
  } else {
    out += "Content-Type: " + root_.ContentType() + ";\r\n\tcharset=" + charset + "\r\n";
  }
  if (!replyTo_.IsEmpty()) out += "Reply-To: " + replyTo_.FormatAddress(true, charset) + "\r\n";
  out += "Date: " + DateLineText() + "\r\n";
  if (!messageId_.empty()) out += "Message-ID: " + messageId_ + "\r\n";
  switch (priority_) {
    case kLowPriority: out += "X-Priority: 5\r\n"; break;
    case kNormalPriority: out += "X-Priority: 3\r\n"; break;
    case kHighPriority: out += "X-Priority: 1\r\n"; break;
    case kNoPriority: break;
  }
  for (const auto& line : headerLines_) out += line + "\r\n";
  return out;
}

std::string CSMTPMessage::BuildMessageText() const {
  std::string out;
  CStringSink sink(out);
  WriteMessageText(sink);
  return out;
}

void CSMTPMessage::WriteMessageText(CMessageSink& sink, AttachmentFiles* files) const {
  sink.Write(BuildHeader() + "\r\n");
  if (multipart_ || root_.ChildCount() > 0) {
    root_.WriteTree(sink, true, files);
  } else {
    sink.Write(DotStuff(root_.Text()));
  }
}

}  // namespace mail
