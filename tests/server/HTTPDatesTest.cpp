#include "server/HTTPDates.h"

#include <gtest/gtest.h>

namespace {

constexpr tUnixTime kExample = 784111777; // the example date of HTTP/1.0's own text

TEST(HTTPDates, WritesThePreferredFormWithTheDayOfTheWeek) {
  struct Case {
    tUnixTime time;
    std::string text;
  } cases[] = {
      {kExample, "Sun, 06 Nov 1994 08:49:37 GMT"},     {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
      {-1, "Wed, 31 Dec 1969 23:59:59 GMT"},           {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
      {2147483648, "Tue, 19 Jan 2038 03:14:08 GMT"},   {253402300799, "Fri, 31 Dec 9999 23:59:59 GMT"},
      {253402300800, "Fri, 31 Dec 9999 23:59:59 GMT"}, // clamped to four-digit years
      {-62135596800, "Mon, 01 Jan 0001 00:00:00 GMT"}, {-62167219200, "Sat, 01 Jan 0000 00:00:00 GMT"},
      {-62167219201, "Sat, 01 Jan 0000 00:00:00 GMT"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatHttpDate(c.time), c.text) << c.time;
}

TEST(HTTPDates, ReadsTheThreeFormsAndToleratesWhatOldClientsSend) {
  struct Case {
    std::string text;
    std::optional<tUnixTime> time;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kExample},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kExample},
      {"Sun Nov  6 08:49:37 1994", kExample},
      {"Sun Nov 06 08:49:37 1994", kExample},
      {"Sun Nov 6 08:49:37 1994", kExample},
      {"sun, 06 nov 1994 08:49:37 gmt", kExample},
      {"Sun, 6 Nov 1994 08:49:37 GMT", kExample},
      {"Sun, 06 Nov 94 08:49:37 GMT", kExample},
      {"Sunday, 06-Nov-1994 08:49:37 GMT", kExample},
      {"Sun, 06 Nov 1994 08:49:37 GMT; length=1234", kExample},
      {"  Sun, 06 Nov 1994 08:49:37 GMT  ", kExample},
      {"Mon, 06 Nov 1994 08:49:37 GMT", kExample},     // a wrong day name is no reason to refuse the date
      {"Thursday, 01-Jan-70 00:00:00 GMT", 0},         // 70 to 99 are 19xx
      {"Saturday, 01-Jan-00 00:00:00 GMT", 946684800}, // 00 to 69 are 20xx
      {"Tue, 29 Feb 2000 00:00:00 GMT", 951782400},
      {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
      {"Sun, 06 Nov 1994 23:59:60 GMT", 784166400}, // a leap second counts into the next day
      {"Sat, 01 Jan 0000 00:00:00 GMT", -62167219200},
      // Not dates.
      {"", std::nullopt},
      {"yesterday", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 CET", std::nullopt},
      {"Sun, 06 Nov 1994 08:49 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 8:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 199 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 19944 08:49:37 GMT", std::nullopt},
      {"Sun, 06-Nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 30 Feb 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 29 Feb 1900 08:49:37 GMT", std::nullopt},
      {"Sun, 00 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nox 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:60:00 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 GMTX", std::nullopt},
      {"Sun Nov  6 08:49:37 94", std::nullopt},
      {"Sun Nov  6 08:49:37 1994 GMT", std::nullopt},
      {"Sun,06 Nov 1994 08:49:37 GMT", std::nullopt},
      {"1994-11-06T08:49:37Z", std::nullopt},
      {std::string("Sun, 06 Nov 1994 08:49:37 GMT\0", 30), std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseHttpDate(c.text), c.time) << c.text;
}

// Every day from 1600 to 2400 in steps that visit each month, leap days and every day of the week: what is
// written reads back as the same time.
TEST(HTTPDates, WhatIsWrittenReadsBack) {
  for (tUnixTime time = -11676096000; time < 13569465600; time += 86400 * 13 + 3661)
    ASSERT_EQ(ParseHttpDate(FormatHttpDate(time)), time) << FormatHttpDate(time);
}

TEST(HTTPDates, FileTimesCountFrom1601InTenthsOfMicroseconds) {
  EXPECT_EQ(UnixTimeOfFileTime(116444736000000000u), 0);
  EXPECT_EQ(UnixTimeOfFileTime(116444736000000000u + 9999999u), 0); // rounded down
  EXPECT_EQ(UnixTimeOfFileTime(uint64_t(kExample) * 10000000u + 116444736000000000u), kExample);
  EXPECT_EQ(UnixTimeOfFileTime(0), -11644473600);
}

} // namespace
