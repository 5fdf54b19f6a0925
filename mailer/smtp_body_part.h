// One part of a MIME message: a text or a file attachment, with its own
// header, encoded content, closing boundary and child parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace mail {

class CMessageSink;
class CSMTPBodyPart;

// The attachment files of a message, opened before its transaction
// begins and read while it is sent.
using AttachmentFiles = std::map<const CSMTPBodyPart*, platform::InputFile>;

class CSMTPBodyPart {
 public:
  // Attachments larger than this are refused.
  static constexpr std::uint64_t kMaxAttachmentSize = 52428800;  // 50 MiB

  // A text part: "text/plain", "iso-8859-1", quoted-printable, no text,
  // and a fresh boundary.
  CSMTPBodyPart();
  // Copies every field, the boundary included, and the children deeply;
  // the copy has no parent.
  CSMTPBodyPart(const CSMTPBodyPart& other);
  CSMTPBodyPart& operator=(const CSMTPBodyPart& other);
  virtual ~CSMTPBodyPart();

  // Makes the part an attachment of the file at `path`; the title becomes
  // the file's name without its folders, the type
  // "application/octet-stream".
  void SetAttachmentPath(std::string_view path);
  const std::string& AttachmentPath() const { return attachmentPath_; }
  const std::string& Title() const { return title_; }
  bool IsAttachment() const { return !attachmentPath_.empty(); }

  // Stores the text with every line break made CR LF and sets the type
  // to "text/plain".
  void SetBodyText(std::string_view text);
  const std::string& Text() const { return text_; }
  // Stores the text as it is, keeping the content type.
  void SetRawText(std::string text) { text_ = std::move(text); }

  void SetContentType(std::string value) { contentType_ = std::move(value); }
  const std::string& ContentType() const { return contentType_; }
  void SetCharset(std::string value) { charset_ = std::move(value); }
  const std::string& Charset() const { return charset_; }
  void SetContentBase(std::string value) { contentBase_ = std::move(value); }
  const std::string& ContentBase() const { return contentBase_; }
  void SetContentID(std::string value) { contentId_ = std::move(value); }
  const std::string& ContentID() const { return contentId_; }
  void SetContentLocation(std::string value) { contentLocation_ = std::move(value); }
  const std::string& ContentLocation() const { return contentLocation_; }
  void SetQuotedPrintable(bool on) { quotedPrintable_ = on; }
  bool QuotedPrintable() const { return quotedPrintable_; }
  void SetBase64(bool on) { base64_ = on; }
  bool Base64() const { return base64_; }
  const std::string& Boundary() const { return boundary_; }

  // Appends a copy of `part` as the last child; returns its index.
  std::size_t AddBodyPart(const CSMTPBodyPart& part);
  void RemoveChild(std::size_t index);
  void RemoveAllChildren();
  std::size_t ChildCount() const { return children_.size(); }
  CSMTPBodyPart& Child(std::size_t index) { return *children_.at(index); }
  const CSMTPBodyPart& Child(std::size_t index) const { return *children_.at(index); }
  // The first child whose type is exactly `contentType`, or null.
  CSMTPBodyPart* FindChildByType(std::string_view contentType);
  const CSMTPBodyPart* Parent() const { return parent_; }

  // The part's header lines, ending with the blank line. Names that are
  // not plain printable ASCII are given as RFC 2231 "filename*" (UTF-8)
  // and an RFC 2047 "name" for older readers; quotes and backslashes
  // are escaped. Throws CSMTPException (header error) when a field holds
  // a line break.
  std::string BuildHeader() const;

  // Builds the header and trailer texts of the subtree (the root's header
  // excepted), throwing what WriteTree would throw for them.
  void CheckHeaders(bool isRoot) const;

  // Opens the attachment files of the whole subtree into `files`: throws
  // CSMTPException (body error) when one is missing, unreadable, not a
  // regular file, or larger than kMaxAttachmentSize.
  void OpenAttachments(AttachmentFiles& files) const;

  // Writes the encoded content: base64 lines for an attachment or a
  // base64 text, quoted-printable and dot-stuffed text otherwise. An
  // attachment is read and encoded in pieces while it is written, from
  // its file in `files` when opened there, else opened now. Throws
  // CSMTPException (body error) when it cannot be opened or read, or
  // outgrows the limit meanwhile.
  void WriteBody(CMessageSink& sink, AttachmentFiles* files = nullptr) const;
  // The same into a text; on failure `out` is left as it was.
  void AppendBody(std::string& out) const;
  std::string BuildBody() const;
  // "\r\n--boundary--", sent after the children of a part that has some.
  std::string BuildTrailer() const;

  // Writes the whole subtree as it goes out after DATA: the header
  // (except for the root), the body, every child, and the trailer when
  // there are children.
  void WriteTree(CMessageSink& sink, bool isRoot, AttachmentFiles* files = nullptr) const;

 private:
  void CopyFrom(const CSMTPBodyPart& other);
  platform::InputFile OpenAttachment() const;
  void WriteAttachment(CMessageSink& sink, platform::InputFile& file) const;

  std::string attachmentPath_;
  std::string title_;
  std::string contentType_ = "text/plain";
  std::string charset_ = "iso-8859-1";
  std::string contentBase_;
  std::string contentId_;
  std::string contentLocation_;
  std::string text_;
  std::vector<std::unique_ptr<CSMTPBodyPart>> children_;
  CSMTPBodyPart* parent_ = nullptr;
  std::string boundary_;
  bool quotedPrintable_ = true;
  bool base64_ = false;
};

// Every CR LF, then every lone CR, made LF; then every LF made CR LF.
std::string NormalizeLineBreaks(std::string_view text);

// True when `charset` names UTF-8 (any letter case).
bool IsUtf8Charset(std::string_view charset);

}  // namespace mail
