#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "mailer/smtp_body_part.h"
#include "platform/uuid.h"

namespace {

bool IsUuidText(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

TEST(Uuid, SystemTextsAreLowerCaseAndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string text = platform::SystemUuidSource().NewUuidText();
    EXPECT_TRUE(IsUuidText(text)) << text;
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(Uuid, EveryNewPartGetsAFreshBoundary) {
  mail::CSMTPBodyPart a, b;
  EXPECT_TRUE(IsUuidText(a.Boundary()));
  EXPECT_NE(a.Boundary(), b.Boundary());
}

}  // namespace
