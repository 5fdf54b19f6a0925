// The Date line: local time of the injected clock in the TZ zone, with the
// offset from UTC.
#include <gtest/gtest.h>

#include "mailer/smtp_message.h"
#include "message_fixture.h"

namespace {

struct ZoneCase {
  const char* tz;
  int month;
  const char* expected;
};

class DateLine : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(DateLine, ShowsLocalTimeAndZoneOffset) {
  const ZoneCase& c = GetParam();
  mailtest::ScopedTimeZone tz(c.tz);
  mailtest::FixedClock clock(mailtest::At(2006, static_cast<unsigned>(c.month), 9, 23, 45, 1));
  EXPECT_EQ(mail::DateLineText(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, DateLine,
    ::testing::Values(ZoneCase{"UTC0", 3, "Thu, 09 Mar 2006 23:45:01 +0000"},
                      // Half an hour east and west of whole hours; east crosses midnight.
                      ZoneCase{"IST-5:30", 3, "Fri, 10 Mar 2006 05:15:01 +0530"},
                      ZoneCase{"NST3:30", 3, "Thu, 09 Mar 2006 20:15:01 -0330"},
                      ZoneCase{"EST5", 3, "Thu, 09 Mar 2006 18:45:01 -0500"},
                      // Daylight saving time counts when it is in force.
                      ZoneCase{"CET-1CEST,M3.5.0,M10.5.0/3", 3, "Fri, 10 Mar 2006 00:45:01 +0100"},
                      ZoneCase{"CET-1CEST,M3.5.0,M10.5.0/3", 7, "Mon, 10 Jul 2006 01:45:01 +0200"},
                      ZoneCase{"NZST-12NZDT,M9.5.0,M4.1.0/3", 12, "Sun, 10 Dec 2006 12:45:01 +1300"}));

TEST(DateLineHeader, MessageHeaderCarriesTheDate) {
  mailtest::CountingUuids uuids;
  mailtest::ScopedTimeZone tz("NST3:30");
  mailtest::FixedClock clock(mailtest::At(2006, 1, 2, 3, 4, 5));
  mail::CSMTPMessage m;
  EXPECT_NE(m.BuildHeader().find("\r\nDate: Sun, 01 Jan 2006 23:34:05 -0330\r\n"), std::string::npos);
}

}  // namespace
