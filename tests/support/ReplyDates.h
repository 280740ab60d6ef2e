// The dates in replies. A reply's Date line says when it was made: tests check its form and that it is about
// now, then put a fixed text of the same length in its place, so that replies still compare byte for byte and
// read by length. Files get a fixed time, so that their Last-Modified lines compare as they are.
#pragma once

#include <chrono>
#include <string>

namespace kwstest {

// Every date the server writes has this length.
inline constexpr const char* kPinnedDate = "Www, DD Mmm YYYY hh:mm:ss GMT";
inline const std::string kDateLine = std::string("Date: ") + kPinnedDate + "\r\n";

// The time test sites give their files, and the same time as the server writes it.
inline constexpr std::chrono::sys_seconds kSiteTime{std::chrono::seconds(784111777)};
inline const std::string kSiteTimeText = "Sun, 06 Nov 1994 08:49:37 GMT";
inline const std::string kLastModifiedLine = "Last-Modified: " + kSiteTimeText + "\r\n";

// The reply with the value of the first Date line of its header replaced by kPinnedDate, when that value is
// a date in the server's form within five minutes of now; otherwise unchanged, so that a comparison shows it.
std::string WithDatePinned(const std::string& reply);

// Gives the file, or every file below the folder, kSiteTime as its last write time.
void SetSiteTime(const std::string& path);

} // namespace kwstest
