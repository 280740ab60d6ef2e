// The program in windowed mode, the default on this platform: it runs until its window is closed or it is
// told to stop, and then ends with exit code 0.
#include <gtest/gtest.h>

#include <signal.h>

#include <regex>
#include <string>
#include <tuple>

#include "tests/e2e/ServedSite.h"
#include "tests/support/Wait.h"
#include "tests/support/X11Probe.h"

namespace kwstest {
namespace {

constexpr auto kLimit = 30s;
const EnvironmentChanges kHeadless{{"KWSPLAT_HEADLESS", "1"}, {"DISPLAY", std::nullopt}};

TEST(WindowedMode, EachStopSignalEndsTheServingProgramWithExitCode0AndClosesItsListener) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sigabbrev_np(signal));
    const int port = FreeLoopbackPort();
    ProgramRunner program(SettingsOnPort(port));
    program.Start({}, kHeadless);
    ASSERT_TRUE(WaitForLoopbackPort(port, kLimit)) << program.Stderr();
    ASSERT_TRUE(program.WaitForSignalHandler(signal, kLimit)) << program.Stderr();
    ASSERT_TRUE(program.SendSignal(signal));
    ExpectExit(program);
    EXPECT_FALSE(WaitForLoopbackPort(port, 0ms));
  }
}

TEST(WindowedMode, AListenerThatCannotStartEndsTheProgramWithTheErrorReportAndExitCode1) {
  tLoopbackPeer holder; // on every local address, so that the program cannot listen on the port
  const uint16_t taken = holder.Listen(true);
  ASSERT_NE(taken, 0);
  ProgramRunner program(SettingsOnPort(taken));
  program.Start({}, kHeadless);
  ExpectExit(program, 1);
  const std::string digits = "[0-9A-F]{" + std::to_string(2 * sizeof(void*)) + "}";
  const std::string report = "Application Error: Exception ESocketException in module KestruneWS at " +
                             digits + "\\.\nError 10048 in function Bind\r\nAddress already in use\\.\n";
  EXPECT_TRUE(std::regex_search(program.Stderr(), std::regex(report))) << program.Stderr();
}

class UnderX11 : public testing::Test {
protected:
  void SetUp() override {
    Display = X11Probe::StartPrivateServer();
    if (!Display)
      GTEST_SKIP() << "no Xvfb to show the window on";
  }
  // On the display, until its main window is there.
  void Start(const std::vector<std::string>& arguments = {}) {
    Program.Start(arguments, {{"DISPLAY", Display->DisplayName()}, {"KWSPLAT_HEADLESS", std::nullopt}});
    Window = Display->FindWindow("Kestrune Web Server", kLimit);
    ASSERT_NE(Window, 0u) << "no window; stderr:\n" << Program.Stderr();
  }

  std::unique_ptr<X11Probe> Display;
  ProgramRunner Program{SettingsOnPort(FreeLoopbackPort())};
  unsigned long Window = 0;
};

TEST_F(UnderX11, ShowsTheWindowAt10By10Sized220By100EvenWithNtWhenWin95IsGivenAndEndsWhenItIsClosed) {
  ASSERT_NO_FATAL_FAILURE(Start({"-nt", "/win95"})); // any letter case, either prefix
  const X11Geometry geometry = Display->Geometry(Window).value_or(X11Geometry{});
  EXPECT_EQ(std::tuple(geometry.X, geometry.Y, geometry.Width, geometry.Height),
            std::tuple(10, 10, 220, 100));
  // The window exists from start-up on; it is shown once the message loop runs.
  EXPECT_TRUE(WaitUntil([&] { return Display->Geometry(Window).value_or(X11Geometry{}).Mapped; }, kLimit,
                        tPump::None));
  ASSERT_TRUE(Display->SendDeleteWindow(Window));
  ExpectExit(Program);
}

TEST_F(UnderX11, LosingTheDisplayClosesTheWindowAndEndsTheProgram) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Display->StopServer();
  ExpectExit(Program);
}

} // namespace
} // namespace kwstest
