// HTTP dates: the one form the server writes, the three forms HTTP/1.0 clients may send, and the clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Whole seconds since 1970-01-01 00:00:00 UTC.
using tUnixTime = int64_t;
// Where replies take the current time from; tests give their own.
using tClock = tUnixTime (*)();

tUnixTime CurrentUnixTime();

// The preferred form, "Sun, 06 Nov 1994 08:49:37 GMT"; times outside the years 0 to 9999 are clamped to them.
std::string FormatHttpDate(tUnixTime time);

// Any of the three forms: "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" and
// "Sun Nov  6 08:49:37 1994" (read as GMT). Names of days and months in any letter case; the day name is not
// checked against the date. Leniencies seen in the field: a one-digit day, a two- or four-digit year in
// either of the first two forms (two digits: 70-99 are 19xx, 00-69 20xx), and ";" with anything after the
// date (old browsers append "; length=..."). nullopt for anything else, an impossible date included.
std::optional<tUnixTime> ParseHttpDate(std::string_view text);

// A file time (100 ns ticks since 1601-01-01 UTC) in whole seconds since 1970, rounded down.
tUnixTime UnixTimeOfFileTime(uint64_t ticks);
