#include "platform/rtl/sysutils.h"

#include <cstdio>

std::string SysErrorMessage(DWORD errorCode) {
  LPSTR buffer = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                nullptr, errorCode, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr)
    return std::string();
  std::string text(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
    text.pop_back();
  if (!text.empty() && text.back() == '.')
    text.pop_back();
  return text;
}

void RaiseLastOSError() {
  RaiseLastOSError(GetLastError());
}

void RaiseLastOSError(DWORD errorCode) {
  if (errorCode == 0)
    throw EOSError("A Win32 API function failed", errorCode);
  std::string text = SysErrorMessage(errorCode);
  char head[64];
  std::snprintf(head, sizeof(head), "Win32 Error.  Code: %d.\n", static_cast<int>(errorCode));
  throw EOSError(head + text, errorCode);
}

int ParamCount() {
  return __argc > 1 ? __argc - 1 : 0;
}

std::string ParamStr(int index) {
  if (index == 0) {
    std::string path(260, '\0');
    for (;;) {
      DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0)
        return __argc > 0 && __argv[0] != nullptr ? __argv[0] : std::string();
      if (length < path.size()) {
        path.resize(length);
        return path;
      }
      path.resize(path.size() * 2);
    }
  }
  if (index < 0 || index >= __argc || __argv[index] == nullptr)
    return std::string();
  return __argv[index];
}
