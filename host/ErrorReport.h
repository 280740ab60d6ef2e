// The last-resort report of an error that nothing handled.
#pragma once

#include <exception>
#include <string>
#include <string_view>

inline constexpr const char* kUnhandledErrorCaption = "Application Error";

// "Exception <class> in module <module> at <address>.\n<message>", with "." added when the message does not
// end in one. The address has 8 upper-case hexadecimal digits, 16 in a 64-bit build.
std::string UnhandledErrorText(std::string_view className, std::string_view moduleName, const void* address,
                               std::string_view message);
// Shows the report for `error` in a task-modal error box.
void ShowUnhandledError(const std::exception& error);
// Shows the report for something thrown that is no exception class of ours or of the standard library.
void ShowUnhandledError();
