#include "server/ByteRanges.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max();

bool operator==(const tByteRange& a, const tByteRange& b) {
  return a.First == b.First && a.Last == b.Last;
}

TEST(ByteRanges, TheHeaderGivesOneRangeOrIsIgnored) {
  struct Case {
    std::string value;
    std::optional<tByteRange> range;
  } cases[] = {
      {"bytes=0-9", tByteRange{0, 9}},
      {"bytes=5-", tByteRange{5, std::nullopt}},
      {"bytes=-5", tByteRange{std::nullopt, 5}},
      {"bytes=7-7", tByteRange{7, 7}},
      {"Bytes=0-9", tByteRange{0, 9}},
      {"bytes = 0-9", tByteRange{0, 9}},
      {"bytes= 0-9 ", tByteRange{0, 9}},
      {"bytes=0-9,", tByteRange{0, 9}},
      {"bytes=, ,0-9", tByteRange{0, 9}},
      {"bytes=0-99999999999999999999999", tByteRange{0, kLargest}},
      {"bytes=99999999999999999999999-", tByteRange{kLargest, std::nullopt}},
      {"bytes=2147483648-4294967296", tByteRange{2147483648u, 4294967296u}},
      // Ignored.
      {"", std::nullopt},
      {"bytes=", std::nullopt},
      {"bytes=,", std::nullopt},
      {"bytes=-", std::nullopt},
      {"bytes=9-0", std::nullopt},
      {"bytes=0-9,20-29", std::nullopt},
      {"bytes=0-0,-1", std::nullopt},
      {"bytes=a-9", std::nullopt},
      {"bytes=0 - 9", std::nullopt},
      {"bytes=+0-9", std::nullopt},
      {"bytes=0-9-", std::nullopt},
      {"bytes=--5", std::nullopt},
      {"bytes 0-9", std::nullopt},
      {"items=0-9", std::nullopt},
      {"0-9", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<tByteRange> range = ParseRangeHeader(c.value);
    EXPECT_EQ(range.has_value(), c.range.has_value()) << c.value;
    if (range && c.range) {
      EXPECT_TRUE(*range == *c.range) << c.value;
    }
  }
}

TEST(ByteRanges, ARangeComesToAPartOfTheFileOrToNothing) {
  struct Case {
    tByteRange range;
    uint64_t size;
    tRangeOutcome outcome;
    uint64_t first, length;
    std::string contentRange;
  } cases[] = {
      {{0, 9}, 100, roPart, 0, 10, "bytes 0-9/100"},
      {{0, 0}, 1, roPart, 0, 1, "bytes 0-0/1"},
      {{0, 200}, 100, roPart, 0, 100, "bytes 0-99/100"},
      {{99, kLargest}, 100, roPart, 99, 1, "bytes 99-99/100"},
      {{50, std::nullopt}, 100, roPart, 50, 50, "bytes 50-99/100"},
      {{std::nullopt, 10}, 100, roPart, 90, 10, "bytes 90-99/100"},
      {{std::nullopt, 500}, 100, roPart, 0, 100, "bytes 0-99/100"},
      {{std::nullopt, kLargest}, 1, roPart, 0, 1, "bytes 0-0/1"},
      {{2147483640, 2147483655},
       3221225472u,
       roPart,
       2147483640,
       16,
       "bytes 2147483640-2147483655/3221225472"},
      {{std::nullopt, 4}, 5000000000u, roPart, 4999999996u, 4, "bytes 4999999996-4999999999/5000000000"},
      {{100, std::nullopt}, 100, roUnsatisfiable, 0, 0, "bytes */100"},
      {{100, 200}, 100, roUnsatisfiable, 0, 0, "bytes */100"},
      {{kLargest, std::nullopt}, 100, roUnsatisfiable, 0, 0, "bytes */100"},
      {{std::nullopt, 0}, 100, roUnsatisfiable, 0, 0, "bytes */100"},
      {{0, std::nullopt}, 0, roUnsatisfiable, 0, 0, "bytes */0"},
      {{std::nullopt, 5}, 0, roUnsatisfiable, 0, 0, "bytes */0"},
  };
  for (const Case& c : cases) {
    const tFilePart part = PartOf(c.range, c.size);
    EXPECT_EQ(part.Outcome, c.outcome) << c.contentRange;
    if (c.outcome == roPart) {
      EXPECT_EQ(part.First, c.first) << c.contentRange;
      EXPECT_EQ(part.Length, c.length) << c.contentRange;
    }
    EXPECT_EQ(ContentRangeValue(part, c.size), c.contentRange);
  }
}

} // namespace
