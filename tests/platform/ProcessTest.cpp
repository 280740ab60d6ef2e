// Message boxes, which a service without a desktop turns into a line on standard error.
#include <gtest/gtest.h>

#include "platform/win32.h"

TEST(MessageBox, WritesCaptionAndTextToStandardErrorAndAnswersTheFirstButton) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Service installed", "Kestrune Web Server", MB_OKCANCEL), IDOK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Kestrune Web Server: Service installed\n");
}
