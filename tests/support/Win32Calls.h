// Small helpers for tests of Win32 calls.
#pragma once

#include <string>

#include "platform/win32.h"

namespace kwstest {

// A native absolute path written the way the Windows side writes it: drive letter and backslashes.
inline std::string WindowsStyle(std::string native) {
  for (char& c : native)
    c = c == '/' ? '\\' : c;
  return "C:" + native;
}

// 0 for a call that succeeded, else the error it left: one assertion checks both.
inline DWORD ErrorOf(bool succeeded) {
  return succeeded ? 0 : GetLastError();
}

} // namespace kwstest
