// System message texts, the errno translation and the runtime's OS errors.
#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/rtl/sysutils.h"
#include "platform/src/Errors.h"
#include "platform/win32.h"
#include "tests/support/Win32Calls.h"

namespace {

constexpr DWORD kSystemFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string SystemText(DWORD code) {
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0)
    return "<failed " + std::to_string(GetLastError()) + ">";
  std::string result(text, length);
  EXPECT_EQ(result.size(), std::strlen(text));
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
      {10000, "<failed 317>"},
      {0x2BADF00D, "<failed 317>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SystemText(c.Code), c.Text) << c.Code;
    EXPECT_EQ(SysErrorMessage(c.Code), c.Text[0] == '<' ? "" : c.Text.substr(0, c.Text.size() - 3)) << c.Code;
  }
}

TEST(FormatMessage, CallerBufferMustHoldTheTextAndItsZero) {
  const std::string text = "Access is denied.\r\n";
  char buffer[64];
  const auto size = static_cast<DWORD>(text.size());
  EXPECT_EQ(kwstest::ErrorOf(FormatMessageA(kSystemFlags, nullptr, 5, 0, buffer, size, nullptr)),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 5, 0, buffer, size + 1, nullptr), text.size());
  EXPECT_EQ(std::string(buffer), text);
}

TEST(ErrnoTranslation, FileErrorsBecomeWin32Numbers) {
  struct Case {
    int Errno;
    DWORD Win32;
  };
  const Case cases[] = {
      {ENOENT, 2}, {ENOTDIR, 3}, {EACCES, 5},         {EPERM, 5}, {EISDIR, 5},
      {EMFILE, 4}, {ENOMEM, 8},  {ENAMETOOLONG, 206}, {EIO, 31},  {ELOOP, 31},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kwsplat::Win32ErrorFromErrno(c.Errno), c.Win32) << c.Errno;
}

TEST(RaiseLastOSError, ThrowsEOSErrorWithCodeAndText) {
  struct Case {
    DWORD Code;
    const char* Message;
  };
  for (Case c :
       {Case{5, "Win32 Error.  Code: 5.\nAccess is denied"}, Case{0, "A Win32 API function failed"}}) {
    SetLastError(c.Code);
    try {
      RaiseLastOSError();
      ADD_FAILURE() << "nothing thrown";
    } catch (const EOSError& error) {
      EXPECT_EQ(error.Message, c.Message);
      EXPECT_EQ(error.ErrorCode, c.Code);
      EXPECT_STREQ(error.ClassName(), "EOSError");
    }
  }
}
