// One mail address with an optional display name, as written in the
// From, To, Cc and Reply-To lines.
#pragma once

#include <string>
#include <string_view>

namespace mail {

class CSMTPAddress {
 public:
  CSMTPAddress() = default;
  explicit CSMTPAddress(std::string address, std::string name = {});

  // "Name <addr>" gives the name (trimmed) and the text between the
  // brackets (as it stands); anything else is taken whole, trimmed, as a
  // bare address with no name.
  void ParseAddress(std::string_view text);

  // The bare address when there is no name, else "Name <addr>" with the
  // name passed through the header-word encoding when `encode` is set.
  std::string FormatAddress(bool encode, std::string_view charset) const;

  const std::string& Address() const { return address_; }
  const std::string& Name() const { return name_; }
  void SetAddress(std::string address) { address_ = std::move(address); }
  void SetName(std::string name) { name_ = std::move(name); }
  bool IsEmpty() const { return address_.empty(); }

  // True when the address or the name holds a CR or LF, which would let
  // the text end a header line or an SMTP command early.
  bool HasLineBreak() const;

 private:
  std::string address_;
  std::string name_;
};

// Helpers shared by the message classes.
std::string_view TrimWhiteSpace(std::string_view text);
bool HasLineBreak(std::string_view text);

}  // namespace mail
