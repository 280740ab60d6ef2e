#include "tests/support/ReplyDates.h"

#include <array>
#include <filesystem>
#include <regex>

namespace kwstest {

namespace {

namespace chr = std::chrono;

constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr auto kTolerance = chr::minutes(5);

template <size_t count>
unsigned IndexOf(const std::array<const char*, count>& names, const std::string& name) {
  for (unsigned i = 0; i < count; ++i)
    if (name == names[i])
      return i;
  return count;
}

// A date of the form "Sun, 06 Nov 1994 08:49:37 GMT" whose day name fits the date and which lies near now.
bool IsRecentDate(const std::string& text) {
  static const std::regex form(
      "([A-Z][a-z]{2}), (\\d\\d) ([A-Z][a-z]{2}) (\\d{4}) (\\d\\d):(\\d\\d):(\\d\\d) GMT");
  std::smatch parts;
  if (!std::regex_match(text, parts, form))
    return false;
  const unsigned month = IndexOf(kMonths, parts[3]) + 1;
  const chr::year_month_day date{chr::year{std::stoi(parts[4])}, chr::month{month},
                                 chr::day{static_cast<unsigned>(std::stoi(parts[2]))}};
  if (!date.ok() || chr::weekday{chr::sys_days{date}}.c_encoding() != IndexOf(kDays, parts[1]))
    return false;
  const int hour = std::stoi(parts[5]), minute = std::stoi(parts[6]), second = std::stoi(parts[7]);
  if (hour > 23 || minute > 59 || second > 59)
    return false;
  const auto time = chr::sys_days{date} + chr::hours(hour) + chr::minutes(minute) + chr::seconds(second);
  const auto now = chr::system_clock::now();
  return time > now - kTolerance && time < now + kTolerance;
}

} // namespace

std::string WithDatePinned(const std::string& reply) {
  const size_t headerEnd = reply.find("\r\n\r\n");
  const size_t line = reply.find("\r\nDate: ");
  if (line == std::string::npos || (headerEnd != std::string::npos && line >= headerEnd))
    return reply;
  const size_t value = line + 8;
  const size_t end = reply.find("\r\n", value);
  if (end == std::string::npos || !IsRecentDate(reply.substr(value, end - value)))
    return reply;
  return reply.substr(0, value) + kPinnedDate + reply.substr(end);
}

void SetSiteTime(const std::string& path) {
  const auto time = chr::file_clock::from_sys(kSiteTime);
  if (!std::filesystem::is_directory(path)) {
    std::filesystem::last_write_time(path, time);
    return;
  }
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
    if (entry.is_regular_file())
      std::filesystem::last_write_time(entry.path(), time);
}

} // namespace kwstest
