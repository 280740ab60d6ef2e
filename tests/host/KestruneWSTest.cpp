#include "host/KestruneWS.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "host/ErrorReport.h"

namespace {

TEST(ServiceModeFor, NtPlatformOrSwitchSelectsServiceModeUnlessWin95IsGiven) {
  struct Case {
    bool ntPlatform, ntSwitch, win95Switch, expected;
  } cases[] = {{false, false, false, false}, {true, false, false, true}, {false, true, false, true},
               {true, true, false, true},    {true, false, true, false}, {false, true, true, false},
               {true, true, true, false},    {false, false, true, false}};
  for (const auto& c : cases)
    EXPECT_EQ(ServiceModeFor(c.ntPlatform, c.ntSwitch, c.win95Switch), c.expected)
        << c.ntPlatform << c.ntSwitch << c.win95Switch;
}

TEST(UnhandledErrorText, NamesClassModuleAddressAndMessageEndingInADot) {
  const void* address = reinterpret_cast<const void*>(uintptr_t{0x4A3F});
  const std::string at = " in module KestruneWS at " + std::string(2 * sizeof(void*) - 4, '0') + "4A3F.\n";
  EXPECT_EQ(UnhandledErrorText("EOSError", "KestruneWS", address, "Win32 Error.  Code: 5.\nAccess is denied"),
            "Exception EOSError" + at + "Win32 Error.  Code: 5.\nAccess is denied.");
  EXPECT_EQ(UnhandledErrorText("Exception", "KestruneWS", address, "Ends with a dot."),
            "Exception Exception" + at + "Ends with a dot.");
  EXPECT_EQ(UnhandledErrorText("E", "m", nullptr, ""),
            "Exception E in module m at " + std::string(2 * sizeof(void*), '0') + ".\n.");
}

} // namespace
