#include "mailer/smtp_address.h"

#include "mailer/header_encoding.h"

namespace mail {

namespace {
constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
}  // namespace

std::string_view TrimWhiteSpace(std::string_view text) {
  const auto first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

CSMTPAddress::CSMTPAddress(std::string address, std::string name)
    : address_(std::move(address)), name_(std::move(name)) {}

void CSMTPAddress::ParseAddress(std::string_view text) {
  text = TrimWhiteSpace(text);
  const auto open = text.find('<');
  const auto close = text.find('>');
  if (open != std::string_view::npos && close != std::string_view::npos && close > open + 1) {
    address_ = std::string(text.substr(open + 1, close - open - 1));
    name_ = std::string(TrimWhiteSpace(text.substr(0, open)));
  } else {
    address_ = std::string(text);
    name_.clear();
  }
}

std::string CSMTPAddress::FormatAddress(bool encode, std::string_view charset) const {
  if (name_.empty()) return address_;
  std::string out = encode ? EncodeHeaderText(name_, charset) : name_;
  out += " <";
  out += address_;
  out += '>';
  return out;
}

bool CSMTPAddress::HasLineBreak() const { return mail::HasLineBreak(address_) || mail::HasLineBreak(name_); }

}  // namespace mail
