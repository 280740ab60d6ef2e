// The runtime's OS errors; the system's texts themselves differ between systems.
#include "platform/rtl/sysutils.h"

#include <string>
#include <utility>

#include <gtest/gtest.h>

TEST(RaiseLastOSError, ThrowsEOSErrorWithCodeAndText) {
  ASSERT_NE(SysErrorMessage(5), "");
  const std::pair<DWORD, std::string> cases[] = {{5, "Win32 Error.  Code: 5.\n" + SysErrorMessage(5)},
                                                 {0, "A Win32 API function failed"}};
  for (auto [code, message] : cases) {
    SetLastError(code);
    try {
      RaiseLastOSError();
      ADD_FAILURE() << "nothing thrown";
    } catch (const EOSError& error) {
      EXPECT_EQ(error.Message, message);
      EXPECT_EQ(error.ErrorCode, code);
    }
  }
}
