// A native absolute path written the way the Windows side writes it: drive letter and backslashes.
#pragma once

#include <string>

namespace kwstest {

inline std::string WindowsStyle(const std::string& native) {
  std::string text = "C:" + native;
  for (char& c : text)
    if (c == '/')
      c = '\\';
  return text;
}

} // namespace kwstest
