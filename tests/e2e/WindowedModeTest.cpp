// The program in windowed mode, the default on this platform: it runs until its window is closed or it is
// told to stop, and then ends with exit code 0.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/ProgramRunner.h"
#include "tests/support/X11Probe.h"

using namespace std::chrono_literals;
using kwstest::EnvironmentChanges;
using kwstest::ExitStatus;
using kwstest::ProgramRunner;
using kwstest::X11Probe;

namespace {

constexpr auto kStartLimit = 30s;
constexpr auto kEndLimit = 30s;

// One listener on the port serving the program's own folder.
std::string SettingsOnPort(int port) {
  return "[LISTENERS]\nCOUNT=1\n[L1.GENERAL]\nPORT=" + std::to_string(port) +
         "\n[L1.VD1.GENERAL]\nPATH=.\nVPATH=/\n";
}

// On a free port, so the run needs no privileges.
std::string SettingsOnFreePort() {
  return SettingsOnPort(kwstest::FreeLoopbackPort());
}

// Holds a port on all local addresses, so that nobody else can listen on it.
class PortHolder {
public:
  PortHolder() {
    Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(Fd, 1) == 0 &&
        getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      Port = ntohs(address.sin_port);
    }
  }
  ~PortHolder() { close(Fd); }
  int Port = 0;

private:
  int Fd = -1;
};

const EnvironmentChanges kHeadless{{"KWSPLAT_HEADLESS", "1"}, {"DISPLAY", std::nullopt}};

void ExpectCleanExit(ProgramRunner& program) {
  std::optional<ExitStatus> status = program.WaitForExit(kEndLimit);
  ASSERT_TRUE(status.has_value()) << "still running; stderr:\n" << program.Stderr();
  EXPECT_TRUE(status->Exited) << "killed by signal " << status->Signal << "; stderr:\n" << program.Stderr();
  EXPECT_EQ(status->Code, 0) << program.Stderr();
}

class HeadlessStop : public testing::TestWithParam<int> {};

TEST_P(HeadlessStop, TheSignalClosesTheWindowAndTheProgramEndsWithExitCode0) {
  ProgramRunner program(SettingsOnFreePort());
  program.Start({}, kHeadless);
  ASSERT_TRUE(program.WaitForSignalHandler(GetParam(), kStartLimit)) << program.Stderr();
  ASSERT_TRUE(program.SendSignal(GetParam()));
  ExpectCleanExit(program);
}

INSTANTIATE_TEST_SUITE_P(WindowedMode, HeadlessStop, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

TEST(WindowedMode, ListenersServeWhileTheLoopRunsAndCloseAtTheEnd) {
  int port = kwstest::FreeLoopbackPort();
  ProgramRunner program(SettingsOnPort(port));
  program.Start({}, kHeadless);
  ASSERT_TRUE(kwstest::WaitForLoopbackPort(port, kStartLimit)) << program.Stderr();
  ASSERT_TRUE(program.WaitForSignalHandler(SIGINT, kStartLimit));
  ASSERT_TRUE(program.SendSignal(SIGINT));
  ExpectCleanExit(program);
  EXPECT_FALSE(kwstest::WaitForLoopbackPort(port, 0ms));
}

TEST(WindowedMode, AListenerThatCannotStartEndsTheProgramWithTheErrorReportAndExitCode1) {
  PortHolder taken;
  ASSERT_NE(taken.Port, 0);
  ProgramRunner program(SettingsOnPort(taken.Port));
  program.Start({}, kHeadless);
  std::optional<ExitStatus> status = program.WaitForExit(kEndLimit);
  ASSERT_TRUE(status.has_value()) << "still running; stderr:\n" << program.Stderr();
  EXPECT_TRUE(status->Exited);
  EXPECT_EQ(status->Code, 1);
  const std::string shown = program.Stderr();
  const std::string head = "Application Error: Exception ";
  size_t at = shown.find(head);
  ASSERT_NE(at, std::string::npos) << shown;
  std::string report = shown.substr(at + head.size());
  size_t module = report.find(" in module KestruneWS at ");
  ASSERT_NE(module, std::string::npos) << shown;
  std::string address = report.substr(module + 25, 2 * sizeof(void*));
  EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << shown;
  EXPECT_EQ(report.substr(module + 25 + address.size(), 2), ".\n") << shown;
}

// The program against a private X server of its own.
class UnderX11 : public testing::Test {
protected:
  void SetUp() override {
    Display = X11Probe::StartPrivateServer();
    if (!Display) {
      GTEST_SKIP() << "no Xvfb to show the window on";
    }
  }
  EnvironmentChanges OnDisplay() const {
    return {{"DISPLAY", Display->DisplayName()}, {"KWSPLAT_HEADLESS", std::nullopt}};
  }
  unsigned long WaitForMainWindow(ProgramRunner& program) {
    unsigned long window = Display->FindWindow("Kestrune Web Server", kStartLimit);
    EXPECT_NE(window, 0u) << "no window; stderr:\n" << program.Stderr();
    return window;
  }

  // The window exists from start-up on; it is shown once the message loop runs.
  bool WaitUntilMapped(unsigned long window) {
    auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!Display->IsMapped(window)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  std::unique_ptr<X11Probe> Display;
};

TEST_F(UnderX11, ShowsTheWindowAt10By10Sized220By100AndEndsWhenItIsClosed) {
  ProgramRunner program(SettingsOnFreePort());
  program.Start({}, OnDisplay());
  unsigned long window = WaitForMainWindow(program);
  ASSERT_NE(window, 0u);
  std::optional<kwstest::X11Geometry> geometry = Display->Geometry(window);
  ASSERT_TRUE(geometry.has_value());
  EXPECT_EQ(geometry->X, 10);
  EXPECT_EQ(geometry->Y, 10);
  EXPECT_EQ(geometry->Width, 220);
  EXPECT_EQ(geometry->Height, 100);
  EXPECT_TRUE(WaitUntilMapped(window));
  EXPECT_TRUE(Display->AcceptsDeleteWindow(window));
  ASSERT_TRUE(Display->SendDeleteWindow(window));
  ExpectCleanExit(program);
}

TEST_F(UnderX11, CtrlCEndsTheProgramThroughItsTearDown) {
  ProgramRunner program(SettingsOnFreePort());
  program.Start({}, OnDisplay());
  ASSERT_NE(WaitForMainWindow(program), 0u);
  ASSERT_TRUE(program.WaitForSignalHandler(SIGINT, kStartLimit));
  ASSERT_TRUE(program.SendSignal(SIGINT));
  ExpectCleanExit(program);
}

TEST_F(UnderX11, Win95WinsOverNtInAnyLetterCaseAndEitherPrefix) {
  ProgramRunner program(SettingsOnFreePort());
  program.Start({"-nt", "/win95"}, OnDisplay());
  unsigned long window = WaitForMainWindow(program);
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(WaitUntilMapped(window));
  ASSERT_TRUE(Display->SendDeleteWindow(window));
  ExpectCleanExit(program);
}

TEST_F(UnderX11, LosingTheDisplayClosesTheWindowAndEndsTheProgram) {
  ProgramRunner program(SettingsOnFreePort());
  program.Start({}, OnDisplay());
  ASSERT_NE(WaitForMainWindow(program), 0u);
  Display->StopServer();
  ExpectCleanExit(program);
}

} // namespace
