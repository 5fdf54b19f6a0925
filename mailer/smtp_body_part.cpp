#include "mailer/smtp_body_part.h"

#include <algorithm>
#include <system_error>

#include "common/latin1.h"
#include "common/text_file.h"
#include "mailer/base64_coder.h"
#include "mailer/message_sink.h"
#include "mailer/parameter_encoding.h"
#include "mailer/quoted_printable.h"
#include "mailer/smtp_address.h"
#include "mailer/smtp_exception.h"
#include "platform/file_system.h"
#include "platform/uuid.h"

namespace mail {

namespace {

// 57 input bytes make one 76-character base64 line, so chunks of a
// multiple of 57 bytes encode to whole lines and can be joined as they are.
// About 200 KiB of text per write: large enough for the socket, small
// beside the attachment.
constexpr std::size_t kReadChunk = 57 * 2048;

void RequireSingleLine(std::string_view value, const char* field) {
  if (HasLineBreak(value)) {
    throw CSMTPException::Protocol(kErrPartHeader, std::string("line break in ") + field);
  }
}

std::string Format(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto arg = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && arg != args.end()) {
      out.append(*arg++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

}  // namespace

std::string NormalizeLineBreaks(std::string_view text) {
  std::string lf;
  lf.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      lf.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      lf.push_back(text[i]);
    }
  }
  std::string out;
  out.reserve(lf.size() + lf.size() / 16);
  for (char c : lf) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

bool IsUtf8Charset(std::string_view charset) {
  constexpr std::string_view kUtf8 = "utf-8";
  return charset.size() == kUtf8.size() &&
         std::equal(charset.begin(), charset.end(), kUtf8.begin(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a + 32) : a) == b; });
}

CSMTPBodyPart::CSMTPBodyPart() : boundary_(platform::NewUuidText()) {}

CSMTPBodyPart::CSMTPBodyPart(const CSMTPBodyPart& other) { CopyFrom(other); }

CSMTPBodyPart& CSMTPBodyPart::operator=(const CSMTPBodyPart& other) {
  if (this != &other) {
    CSMTPBodyPart copy(other);  // other may be one of our own children
    CopyFrom(copy);
  }
  return *this;
}

CSMTPBodyPart::~CSMTPBodyPart() = default;

void CSMTPBodyPart::CopyFrom(const CSMTPBodyPart& other) {
  attachmentPath_ = other.attachmentPath_;
  title_ = other.title_;
  contentType_ = other.contentType_;
  charset_ = other.charset_;
  contentBase_ = other.contentBase_;
  contentId_ = other.contentId_;
  contentLocation_ = other.contentLocation_;
  text_ = other.text_;
  boundary_ = other.boundary_;
  quotedPrintable_ = other.quotedPrintable_;
  base64_ = other.base64_;
  children_.clear();
  for (const auto& child : other.children_) AddBodyPart(*child);
}

void CSMTPBodyPart::SetAttachmentPath(std::string_view path) {
  attachmentPath_ = std::string(path);
  // Folders end at a slash or backslash; a drive is a letter and a colon.
  std::string_view name = path;
  if (name.size() >= 2 && name[1] == ':') name.remove_prefix(2);
  const auto slash = name.find_last_of("\\/");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  title_ = std::string(name);
  contentType_ = "application/octet-stream";
}

void CSMTPBodyPart::SetBodyText(std::string_view text) {
  text_ = NormalizeLineBreaks(text);
  contentType_ = "text/plain";
}

std::size_t CSMTPBodyPart::AddBodyPart(const CSMTPBodyPart& part) {
  auto copy = std::make_unique<CSMTPBodyPart>(part);
  copy->parent_ = this;
  children_.push_back(std::move(copy));
  return children_.size() - 1;
}

void CSMTPBodyPart::RemoveChild(std::size_t index) {
  if (index < children_.size()) children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
}

void CSMTPBodyPart::RemoveAllChildren() { children_.clear(); }

CSMTPBodyPart* CSMTPBodyPart::FindChildByType(std::string_view contentType) {
  for (auto& child : children_) {
    if (child->contentType_ == contentType) return child.get();
  }
  return nullptr;
}

std::string CSMTPBodyPart::BuildHeader() const {
  const std::string parentBoundary = parent_ ? parent_->boundary_ : std::string();
  RequireSingleLine(parentBoundary, "the boundary");
  RequireSingleLine(boundary_, "the boundary");
  RequireSingleLine(contentType_, "the content type");
  RequireSingleLine(charset_, "the charset");
  RequireSingleLine(title_, "the attachment name");
  RequireSingleLine(contentBase_, "Content-Base");
  RequireSingleLine(contentId_, "Content-ID");
  RequireSingleLine(contentLocation_, "Content-Location");

  const bool children = !children_.empty();
  std::string out;
  if (IsAttachment()) {
    // The names go on lines of their own: encoded, they can be long.
    out = Format("\r\n\r\n--%s\r\nContent-Type: %s; charset=%s;\r\n\t",
                 {parentBoundary, contentType_, charset_});
    out += ContentTypeNameParameter(title_);
    if (children) out += Format(";\r\n\tBoundary=\"%s\"", {boundary_});
    out += "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n\t";
    out += FilenameParameter(title_);
    out += "\r\n";
  } else {
    const std::string_view encoding = base64_            ? "Content-Transfer-Encoding: base64\r\n"
                                      : quotedPrintable_ ? "Content-Transfer-Encoding: quoted-printable\r\n"
                                                         : "";
    if (children) {
      out = Format("\r\n--%s\r\nContent-Type: %s; charset=%s; Boundary=\"%s\"\r\n",
                   {parentBoundary, contentType_, charset_, boundary_});
    } else {
      out = Format("\r\n--%s\r\nContent-Type: %s; charset=%s\r\n", {parentBoundary, contentType_, charset_});
    }
    out += encoding;
  }
  if (!contentBase_.empty()) out += Format("Content-Base: %s\r\n", {contentBase_});
  if (!contentId_.empty()) out += Format("Content-ID: %s\r\n", {contentId_});
  if (!contentLocation_.empty()) out += Format("Content-Location: %s\r\n", {contentLocation_});
  out += "\r\n";
  return out;
}

platform::InputFile CSMTPBodyPart::OpenAttachment() const {
  auto fail = [&](const std::string& why) {
    return CSMTPException::Protocol(kErrPartBody, attachmentPath_ + ": " + why);
  };
  try {
    platform::InputFile file(common::NativePath(attachmentPath_));
    if (file.Size() > kMaxAttachmentSize) throw fail("larger than the attachment limit");
    return file;
  } catch (const std::system_error& error) {
    throw fail(error.code().value() == EISDIR ? std::string("not a regular file")
                                              : "cannot open the file: " + error.code().message());
  }
}

void CSMTPBodyPart::CheckHeaders(bool isRoot) const {
  if (!isRoot) (void)BuildHeader();
  for (const auto& child : children_) child->CheckHeaders(false);
  if (!children_.empty()) (void)BuildTrailer();
}

void CSMTPBodyPart::OpenAttachments(AttachmentFiles& files) const {
  if (IsAttachment() && !files.contains(this)) files.emplace(this, OpenAttachment());
  for (const auto& child : children_) child->OpenAttachments(files);
}

void CSMTPBodyPart::WriteAttachment(CMessageSink& sink, platform::InputFile& file) const {
  std::string chunk(kReadChunk, '\0');
  std::string lines;
  lines.reserve(kReadChunk / 57 * 78);
  std::uint64_t total = 0;
  for (;;) {
    std::size_t got = 0;
    try {
      got = file.Read(chunk.data(), chunk.size());
    } catch (const std::system_error& error) {
      throw CSMTPException::Protocol(kErrPartBody,
                                     attachmentPath_ + ": read error: " + error.code().message());
    }
    total += got;
    // The file may have grown since it was opened.
    if (total > kMaxAttachmentSize) {
      throw CSMTPException::Protocol(kErrPartBody, attachmentPath_ + ": larger than the attachment limit");
    }
    if (got == 0) break;
    lines.clear();
    AppendBase64Lines(std::string_view(chunk.data(), got), lines);
    sink.Write(lines);
    if (got < chunk.size()) break;
  }
}

void CSMTPBodyPart::WriteBody(CMessageSink& sink, AttachmentFiles* files) const {
  if (IsAttachment()) {
    if (files) {
      if (auto found = files->find(this); found != files->end()) {
        WriteAttachment(sink, found->second);
        return;
      }
    }
    platform::InputFile file = OpenAttachment();
    WriteAttachment(sink, file);
    return;
  }
  std::string converted;
  std::string_view bytes = text_;
  if (IsUtf8Charset(charset_)) {
    converted = common::Latin1ToUtf8(text_);
    bytes = converted;
  }
  if (base64_) {
    sink.Write(Base64Lines(bytes));
  } else if (quotedPrintable_) {
    sink.Write(DotStuff(QuotedPrintableEncode(bytes)));
  } else {
    sink.Write(DotStuff(bytes));
  }
}

void CSMTPBodyPart::AppendBody(std::string& out) const {
  const std::size_t start = out.size();
  CStringSink sink(out);
  try {
    WriteBody(sink);
  } catch (...) {
    out.resize(start);
    throw;
  }
}

std::string CSMTPBodyPart::BuildBody() const {
  std::string out;
  AppendBody(out);
  return out;
}

std::string CSMTPBodyPart::BuildTrailer() const {
  if (HasLineBreak(boundary_)) {
    throw CSMTPException::Protocol(kErrPartTrailer, "line break in the boundary");
  }
  return "\r\n--" + boundary_ + "--";
}

void CSMTPBodyPart::WriteTree(CMessageSink& sink, bool isRoot, AttachmentFiles* files) const {
  if (!isRoot) sink.Write(BuildHeader());
  WriteBody(sink, files);
  for (const auto& child : children_) child->WriteTree(sink, false, files);
  if (!children_.empty()) sink.Write(BuildTrailer());
}

}  // namespace mail
