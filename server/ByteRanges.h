// Byte ranges: the Range header a client sends, the part of a file it names, and the Content-Range value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One range as the header gives it: "first-last", "first-" (Last absent) or "-count" (First absent; Last is
// then the count of bytes at the end). Numbers too large for 64 bits read as the largest.
struct tByteRange {
  std::optional<uint64_t> First;
  std::optional<uint64_t> Last;
};

// The one range of a Range header's value ("bytes=" and the range, the unit in any letter case, blanks around
// the range and empty list elements allowed). nullopt when the header is to be ignored: empty, another unit,
// not the syntax of a range (a last byte before the first included), or more than one range.
std::optional<tByteRange> ParseRangeHeader(std::string_view value);

// What a range comes to on a file of a given size.
enum tRangeOutcome : uint8_t { roPart = 0, roUnsatisfiable = 1 };
struct tFilePart {
  tRangeOutcome Outcome = roUnsatisfiable;
  uint64_t First = 0;  // with roPart: the first byte sent
  uint64_t Length = 0; // and how many, at least 1
};
// A last byte beyond the end stops at the end; a count larger than the file takes all of it. A first byte at
// or beyond the end, or a count of 0, is unsatisfiable.
tFilePart PartOf(const tByteRange& range, uint64_t size);

// "bytes first-last/size" for a part, "bytes */size" when unsatisfiable.
std::string ContentRangeValue(const tFilePart& part, uint64_t size);
