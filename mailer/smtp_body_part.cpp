#include "mailer/smtp_body_part.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/latin1.h"
#include "common/text_file.h"
#include "mailer/base64_coder.h"
#include "mailer/quoted_printable.h"
#include "mailer/smtp_address.h"
#include "mailer/smtp_exception.h"
#include "platform/uuid.h"

namespace mail {

namespace {

// 57 input bytes make one 76-character base64 line, so chunks of a
// multiple of 57 bytes encode to whole lines and can be joined as they are.
constexpr std::size_t kReadChunk = 57 * 16384;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::size_t Base64LinesSize(std::uint64_t bytes) {
    const std::uint64_t chars = (bytes + 2) / 3 * 4;
    return static_cast<std::size_t>(chars + (chars + 75) / 76 * 2);
}

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
           std::equal(charset.begin(), charset.end(), kUtf8.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a + 32) : a) == b;
           });
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
        if (children) {
            out = Format("\r\n\r\n--%s\r\nContent-Type: %s; charset=%s; name=\"%s\"; Boundary=\"%s\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n"
                         "Content-Disposition: attachment; filename=\"%s\"\r\n",
                         {parentBoundary, contentType_, charset_, title_, boundary_, title_});
        } else {
            out = Format("\r\n\r\n--%s\r\nContent-Type: %s; charset=%s; name=\"%s\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n"
                         "Content-Disposition: attachment; filename=\"%s\"\r\n",
                         {parentBoundary, contentType_, charset_, title_, title_});
        }
    } else {
        const std::string_view encoding = base64_            ? "Content-Transfer-Encoding: base64\r\n"
                                          : quotedPrintable_ ? "Content-Transfer-Encoding: quoted-printable\r\n"
                                                             : "";
        if (children) {
            out = Format("\r\n--%s\r\nContent-Type: %s; charset=%s; Boundary=\"%s\"\r\n",
                         {parentBoundary, contentType_, charset_, boundary_});
        } else {
            out = Format("\r\n--%s\r\nContent-Type: %s; charset=%s\r\n",
                         {parentBoundary, contentType_, charset_});
        }
        out += encoding;
    }
    if (!contentBase_.empty()) out += Format("Content-Base: %s\r\n", {contentBase_});
    if (!contentId_.empty()) out += Format("Content-ID: %s\r\n", {contentId_});
    if (!contentLocation_.empty()) out += Format("Content-Location: %s\r\n", {contentLocation_});
    out += "\r\n";
    return out;
}

void CSMTPBodyPart::AppendAttachment(std::string& out) const {
    const std::size_t start = out.size();
    auto fail = [&](const char* why) {
        out.resize(start);
        return CSMTPException::Protocol(kErrPartBody, attachmentPath_ + ": " + why);
    };

    const std::string path = common::NativePath(attachmentPath_);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) throw fail("cannot open the file");
    if (!std::filesystem::is_regular_file(status)) throw fail("not a regular file");
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) throw fail("cannot read the file size");
    if (size > kMaxAttachmentSize) throw fail("larger than the attachment limit");

    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) throw fail("cannot open the file");

    out.reserve(start + Base64LinesSize(size));
    std::string chunk(kReadChunk, '\0');
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (got < chunk.size() && std::ferror(file.get())) throw fail("read error");
        total += got;
        // The file may have grown since its size was taken.
        if (total > kMaxAttachmentSize) throw fail("larger than the attachment limit");
        if (got == 0) break;
        out += Base64Lines(std::string_view(chunk.data(), got));
        if (got < chunk.size()) break;
    }
}

void CSMTPBodyPart::AppendBody(std::string& out) const {
    if (IsAttachment()) {
        AppendAttachment(out);
        return;
    }
    std::string converted;
    std::string_view bytes = text_;
    if (IsUtf8Charset(charset_)) {
        converted = common::Latin1ToUtf8(text_);
        bytes = converted;
    }
    if (base64_) {
        out += Base64Lines(bytes);
    } else if (quotedPrintable_) {
        out += DotStuff(QuotedPrintableEncode(bytes));
    } else {
        out += DotStuff(bytes);
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

void CSMTPBodyPart::AppendTree(std::string& out, bool isRoot) const {
    if (!isRoot) out += BuildHeader();
    AppendBody(out);
    for (const auto& child : children_) child->AppendTree(out, false);
    if (!children_.empty()) out += BuildTrailer();
}

std::size_t CSMTPBodyPart::EstimatedSize() const {
    std::size_t size = 512 + contentType_.size() + charset_.size() + 2 * title_.size() +
                       contentBase_.size() + contentId_.size() + contentLocation_.size();
    if (IsAttachment()) {
        std::error_code ec;
        const std::uint64_t fileSize = std::filesystem::file_size(common::NativePath(attachmentPath_), ec);
        if (!ec && fileSize <= kMaxAttachmentSize) size += Base64LinesSize(fileSize);
    } else {
        // Worst case of quoted-printable: every byte escaped (UTF-8 doubles
        // Latin-1 first), plus soft breaks.
        size += text_.size() * 7;
    }
    for (const auto& child : children_) size += child->EstimatedSize();
    return size;
}

}  // namespace mail
