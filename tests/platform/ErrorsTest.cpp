// System message texts, the errno translation and the runtime's OS errors.
#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/rtl/sysutils.h"
#include "platform/src/Errors.h"
#include "platform/win32.h"

namespace {

constexpr DWORD kSystemFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string SystemText(DWORD code, DWORD flags = kSystemFlags) {
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0)
    return "<failed " + std::to_string(GetLastError()) + ">";
  std::string result(text, length);
  EXPECT_EQ(result.size(), std::strlen(text));
  EXPECT_EQ(LocalFree(text), nullptr);
  return result;
}

} // namespace

TEST(FormatMessage, GivesWindowsEnglishTextsWithTheirLineBreak) {
  struct Case {
    DWORD Code;
    const char* Text;
  };
  const Case cases[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {18, "There are no more files.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {126, "The specified module could not be found.\r\n"},
      {127, "The specified procedure could not be found.\r\n"},
      {193, "%1 is not a valid Win32 application.\r\n"},
      {1063, "The service process could not connect to the service controller.\r\n"},
      {1814, "The specified resource name cannot be found in the image file.\r\n"},
      {10048,
       "Only one usage of each socket address (protocol/network address/port) is normally permitted.\r\n"},
      {10054, "An existing connection was forcibly closed by the remote host.\r\n"},
      {10061, "No connection could be made because the target machine actively refused it.\r\n"},
      {11001, "No such host is known.\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SystemText(c.Code), c.Text) << c.Code;
}

TEST(FormatMessage, UnknownCodeFailsWith317) {
  EXPECT_EQ(SystemText(0x2BADF00D), "<failed 317>");
  EXPECT_EQ(SystemText(10000), "<failed 317>");
}

TEST(FormatMessage, CallerBufferMustHoldTheTextAndItsZero) {
  const std::string text = "Access is denied.\r\n";
  char buffer[64];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 5, 0, buffer, static_cast<DWORD>(text.size()), nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 5, 0, buffer, static_cast<DWORD>(text.size() + 1), nullptr),
            text.size());
  EXPECT_EQ(std::string(buffer), text);
}

TEST(FormatMessage, MaximumWidthDropsTheLineBreakAndInsertsAreFilledFromAnArray) {
  EXPECT_EQ(SystemText(5, kSystemFlags | FORMAT_MESSAGE_MAX_WIDTH_MASK), "Access is denied.");
  const char* program = "plugin.so";
  DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(program)};
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
      193, 0, reinterpret_cast<LPSTR>(&text), 0, reinterpret_cast<va_list*>(inserts));
  ASSERT_NE(length, 0u);
  EXPECT_EQ(std::string(text), "plugin.so is not a valid Win32 application.\r\n");
  LocalFree(text);
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

TEST(SysErrorMessage, DropsTheLineBreakAndFinalDot) {
  EXPECT_EQ(SysErrorMessage(2), "The system cannot find the file specified");
  EXPECT_EQ(SysErrorMessage(193), "%1 is not a valid Win32 application");
  EXPECT_EQ(SysErrorMessage(0x2BADF00D), "");
}

TEST(RaiseLastOSError, ThrowsEOSErrorWithCodeAndText) {
  SetLastError(ERROR_ACCESS_DENIED);
  try {
    RaiseLastOSError();
    FAIL() << "nothing thrown";
  } catch (const EOSError& error) {
    EXPECT_EQ(error.Message, "Win32 Error.  Code: 5.\nAccess is denied");
    EXPECT_EQ(error.ErrorCode, 5u);
    EXPECT_STREQ(error.ClassName(), "EOSError");
  }
  try {
    RaiseLastOSError(0);
    FAIL() << "nothing thrown";
  } catch (const EOSError& error) {
    EXPECT_EQ(error.Message, "A Win32 API function failed");
    EXPECT_EQ(error.ErrorCode, 0u);
  }
}
