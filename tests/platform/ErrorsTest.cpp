// System message texts.
#include <string>

#include <gtest/gtest.h>

#include "platform/rtl/sysutils.h"
#include "platform/win32.h"

namespace {

std::string SystemText(DWORD code) {
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0)
    return "<failed " + std::to_string(GetLastError()) + ">";
  std::string result(text, length);
  EXPECT_EQ(LocalFree(text), nullptr);
  return result;
}

} // namespace

// SysErrorMessage gives the same texts without their final dot and line break.
TEST(FormatMessage, GivesWindowsEnglishTextsWithTheirLineBreak) {
  struct Case {
    DWORD Code;
    std::string Text;
  };
  const Case cases[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {193, "%1 is not a valid Win32 application.\r\n"},
      {1063, "The service process could not connect to the service controller.\r\n"},
      {10048,
       "Only one usage of each socket address (protocol/network address/port) is normally permitted.\r\n"},
      {10054, "An existing connection was forcibly closed by the remote host.\r\n"},
      {11001, "No such host is known.\r\n"},
      {0x2BADF00D, "<failed 317>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SystemText(c.Code), c.Text) << c.Code;
    EXPECT_EQ(SysErrorMessage(c.Code), c.Text[0] == '<' ? "" : c.Text.substr(0, c.Text.size() - 3)) << c.Code;
  }
}
