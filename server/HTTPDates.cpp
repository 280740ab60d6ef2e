#include "server/HTTPDates.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "server/HTTPTools.h"

namespace {

namespace chr = std::chrono;

constexpr std::array<std::string_view, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> kLongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                           "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr tUnixTime kSecondsPerDay = 86400;
// 0000-01-01 00:00:00 and 9999-12-31 23:59:59: the years four digits hold.
constexpr tUnixTime kEarliest = -62167219200;
constexpr tUnixTime kLatest = 253402300799;
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr tUnixTime kSecondsFrom1601To1970 = 11'644'473'600;

char LowerCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerCase(a[i]) != LowerCase(b[i]))
      return false;
  return true;
}

struct tDateFields {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

// Reads a date from left to right; once a step fails, every later one fails too.
class tDateScanner {
public:
  explicit tDateScanner(std::string_view text) : Text(text) {}

  bool Good() const { return Ok; }
  bool AtEnd() const { return Pos == Text.size(); }

  void Expect(char c) { Ok = Ok && Accept(c); }
  bool Accept(char c) {
    if (!Ok || Pos >= Text.size() || Text[Pos] != c)
      return false;
    ++Pos;
    return true;
  }
  // Between minDigits and maxDigits decimal digits; how many were read goes to Digits.
  int Number(size_t minDigits, size_t maxDigits) {
    int value = 0;
    Digits = 0;
    while (Ok && Pos < Text.size() && Digits < maxDigits && Text[Pos] >= '0' && Text[Pos] <= '9') {
      value = value * 10 + (Text[Pos++] - '0');
      ++Digits;
    }
    Ok = Ok && Digits >= minDigits;
    return value;
  }
  // The full names first: "Sun" is the start of "Sunday".
  void DayName() {
    if (Name(kLongDayNames) < 0)
      Ok = Ok && Name(kDayNames) >= 0;
  }
  int Month() {
    const int index = Name(kMonthNames);
    Ok = Ok && index >= 0;
    return index + 1;
  }
  // Two digits stand for 1970 to 2069.
  int Year() {
    const int value = Number(2, 4);
    if (Digits == 2)
      return value < 70 ? 2000 + value : 1900 + value;
    Ok = Ok && Digits == 4;
    return value;
  }
  void Time(tDateFields& fields) {
    fields.Hour = Number(2, 2);
    Expect(':');
    fields.Minute = Number(2, 2);
    Expect(':');
    fields.Second = Number(2, 2);
  }
  void Word(std::string_view word) {
    Ok = Ok && Pos + word.size() <= Text.size() && SameLetters(Text.substr(Pos, word.size()), word);
    if (Ok)
      Pos += word.size();
  }

private:
  template <size_t count> int Name(const std::array<std::string_view, count>& names) {
    for (size_t i = 0; Ok && i < names.size(); ++i)
      if (Pos + names[i].size() <= Text.size() && SameLetters(Text.substr(Pos, names[i].size()), names[i])) {
        Pos += names[i].size();
        return static_cast<int>(i);
      }
    return -1;
  }

  std::string_view Text;
  size_t Pos = 0;
  size_t Digits = 0;
  bool Ok = true;
};

// "Sun, 06 Nov 1994 08:49:37 GMT" or "Sunday, 06-Nov-94 08:49:37 GMT", after the day name and its comma.
void ReadCommaForm(tDateScanner& scanner, tDateFields& fields) {
  scanner.Expect(' ');
  fields.Day = scanner.Number(1, 2);
  const char separator = scanner.Accept('-') ? '-' : ' ';
  if (separator == ' ')
    scanner.Expect(' ');
  fields.Month = scanner.Month();
  scanner.Expect(separator);
  fields.Year = scanner.Year();
  scanner.Expect(' ');
  scanner.Time(fields);
  scanner.Expect(' ');
  scanner.Word("GMT");
}

// "Sun Nov  6 08:49:37 1994", after the day name; "Nov 06" and "Nov 6" are taken too.
void ReadAsctimeForm(tDateScanner& scanner, tDateFields& fields) {
  scanner.Expect(' ');
  fields.Month = scanner.Month();
  scanner.Expect(' ');
  fields.Day = scanner.Accept(' ') ? scanner.Number(1, 1) : scanner.Number(1, 2);
  scanner.Expect(' ');
  scanner.Time(fields);
  scanner.Expect(' ');
  fields.Year = scanner.Number(4, 4);
}

std::optional<tUnixTime> UnixTimeOf(const tDateFields& fields) {
  const chr::year_month_day date{chr::year{fields.Year}, chr::month{static_cast<unsigned>(fields.Month)},
                                 chr::day{static_cast<unsigned>(fields.Day)}};
  // A leap second (60) is taken as the first second of the next minute.
  if (!date.ok() || fields.Hour > 23 || fields.Minute > 59 || fields.Second > 60)
    return std::nullopt;
  const tUnixTime days = chr::sys_days{date}.time_since_epoch().count();
  return days * kSecondsPerDay + fields.Hour * 3600 + fields.Minute * 60 + fields.Second;
}

} // namespace

tUnixTime CurrentUnixTime() {
  return chr::duration_cast<chr::seconds>(chr::system_clock::now().time_since_epoch()).count();
}

std::string FormatHttpDate(tUnixTime time) {
  time = std::clamp(time, kEarliest, kLatest);
  // Rounded down also before 1970.
  const tUnixTime days = (time >= 0 ? time : time - (kSecondsPerDay - 1)) / kSecondsPerDay;
  const tUnixTime second = time - days * kSecondsPerDay;
  const chr::sys_days day{chr::days{days}};
  const chr::year_month_day date{day};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                kDayNames[chr::weekday{day}.c_encoding()].data(), static_cast<unsigned>(date.day()),
                kMonthNames[static_cast<unsigned>(date.month()) - 1].data(), static_cast<int>(date.year()),
                static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60));
  return text;
}

std::optional<tUnixTime> ParseHttpDate(std::string_view text) {
  text = WithoutBlanksAround(text.substr(0, text.find(';')));
  tDateScanner scanner(text);
  tDateFields fields;
  scanner.DayName();
  if (scanner.Accept(','))
    ReadCommaForm(scanner, fields);
  else
    ReadAsctimeForm(scanner, fields);
  if (!scanner.Good() || !scanner.AtEnd())
    return std::nullopt;
  return UnixTimeOf(fields);
}

tUnixTime UnixTimeOfFileTime(uint64_t ticks) {
  return static_cast<tUnixTime>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
}
