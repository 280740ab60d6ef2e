#include "server/ByteRanges.h"

#include <algorithm>
#include <limits>

#include "server/HTTPTools.h"
#include "settings/CoreAPITools.h"

namespace {

constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max();

// One or more decimal digits and nothing else; a value beyond 64 bits saturates.
std::optional<uint64_t> Digits(std::string_view text) {
  if (text.empty())
    return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    value = value > (kLargest - digit) / 10 ? kLargest : value * 10 + digit;
  }
  return value;
}

std::optional<tByteRange> ParseOneRange(std::string_view spec) {
  const size_t dash = spec.find('-');
  if (dash == std::string_view::npos)
    return std::nullopt;
  const std::string_view first = spec.substr(0, dash);
  const std::string_view last = spec.substr(dash + 1);
  tByteRange range;
  if (!first.empty() && !(range.First = Digits(first)))
    return std::nullopt;
  if (!last.empty() && !(range.Last = Digits(last)))
    return std::nullopt;
  if (!range.First && !range.Last)
    return std::nullopt;
  if (range.First && range.Last && *range.Last < *range.First)
    return std::nullopt;
  return range;
}

} // namespace

std::optional<tByteRange> ParseRangeHeader(std::string_view value) {
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos || !SameText(WithoutBlanksAround(value.substr(0, equals)), "bytes"))
    return std::nullopt;
  std::optional<tByteRange> found;
  std::string_view rest = value.substr(equals + 1);
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view element = WithoutBlanksAround(rest.substr(0, comma));
    if (!element.empty()) {
      if (found)
        return std::nullopt; // several ranges
      if (!(found = ParseOneRange(element)))
        return std::nullopt;
    }
    if (comma == std::string_view::npos)
      return found;
    rest.remove_prefix(comma + 1);
  }
}

tFilePart PartOf(const tByteRange& range, uint64_t size) {
  if (!range.First) {
    const uint64_t count = std::min(*range.Last, size);
    if (count == 0)
      return {};
    return {roPart, size - count, count};
  }
  if (*range.First >= size)
    return {};
  const uint64_t last = std::min(range.Last.value_or(kLargest), size - 1);
  return {roPart, *range.First, last - *range.First + 1};
}

std::string ContentRangeValue(const tFilePart& part, uint64_t size) {
  const std::string total = "/" + std::to_string(size);
  if (part.Outcome != roPart)
    return "bytes *" + total;
  return "bytes " + std::to_string(part.First) + "-" + std::to_string(part.First + part.Length - 1) + total;
}
