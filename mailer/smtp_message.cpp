#include "mailer/smtp_message.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "mailer/header_encoding.h"
#include "mailer/quoted_printable.h"
#include "mailer/smtp_exception.h"
#include "platform/clock.h"
#include "platform/local_time.h"

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
    std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %c%02d%02d",
                  kDays[(t.weekday % 7 + 7) % 7], t.day, kMonths[(t.month + 11) % 12], t.year,
                  t.hour, t.minute, t.second, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return text;
}

CSMTPMessage::CSMTPMessage() = default;
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

std::string CSMTPMessage::BuildHeader() const {
    CheckAddresses();
    RequireSingleLine(subject_, "the subject");
    RequireSingleLine(mailerName_, "the mailer name");
    RequireSingleLine(root_.ContentType(), "the content type");
    RequireSingleLine(root_.Charset(), "the charset");
    RequireSingleLine(root_.Boundary(), "the boundary");
    for (const auto& line : headerLines_) RequireSingleLine(line, "a header line");

    const std::string& charset = root_.Charset();
    std::string out = "From: " + sender_.FormatAddress(true, charset);
    out += "\r\nTo: " + JoinAddresses(to_, charset) + "\r\n";
    if (!cc_.empty()) out += "Cc: " + JoinAddresses(cc_, charset) + "\r\n";
    out += "Subject: " + EncodeHeaderText(subject_, charset);
    if (!mailerName_.empty()) out += "\r\nX-Mailer: " + mailerName_;
    out += "\r\n";
    if (multipart_) {
        if (root_.Base64()) {
            out += "Content-Transfer-Encoding: base64\r\n";
        } else if (root_.QuotedPrintable()) {
            out += "Content-Transfer-Encoding: quoted-printable\r\n";
        }
        out += "MIME-Version: 1.0\r\nContent-Type: " + root_.ContentType();
        if (root_.ChildCount() > 0) out += "; boundary=\"" + root_.Boundary() + "\"";
        out += "\r\n";
    } else {
        out += "Content-Type: " + root_.ContentType() + ";\r\n\tcharset=" + charset + "\r\n";
    }
    if (!replyTo_.IsEmpty()) out += "Reply-To: " + replyTo_.FormatAddress(true, charset) + "\r\n";
    out += "Date: " + DateLineText() + "\r\n";
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
    out.reserve(root_.EstimatedSize() + 1024);
    out += BuildHeader();
    out += "\r\n";
    if (multipart_ || root_.ChildCount() > 0) {
        root_.AppendTree(out, true);
    } else {
        out += DotStuff(root_.Text());
    }
    return out;
}

}  // namespace mail
