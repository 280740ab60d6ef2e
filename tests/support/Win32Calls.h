// Small helpers for tests of Win32 calls.
#pragma once

#include <string>

#include "platform/win32.h"

namespace kwstest {

// A native absolute path written the way the Windows side writes it: drive letter and backslashes.
inline std::string WindowsStyle(const std::string& native) {
  std::string text = "C:" + native;
  for (char& c : text)
    if (c == '/')
      c = '\\';
  return text;
}

// 0 for a call that succeeded, else the error it left: one assertion checks both.
inline DWORD ErrorOf(bool succeeded) {
  return succeeded ? 0 : GetLastError();
}

} // namespace kwstest
