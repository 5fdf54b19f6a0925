// Where the text of a message goes while it is produced: a string (for
// inspection and tests) or the connection's socket, so that an attachment
// is encoded piece by piece while it is sent.
#pragma once

#include <string>
#include <string_view>

namespace mail {

class CMessageSink {
 public:
  virtual ~CMessageSink() = default;
  virtual void Write(std::string_view bytes) = 0;
};

// Collects everything into one text.
class CStringSink final : public CMessageSink {
 public:
  explicit CStringSink(std::string& out) : out_(out) {}
  void Write(std::string_view bytes) override { out_.append(bytes); }

 private:
  std::string& out_;
};

}  // namespace mail
