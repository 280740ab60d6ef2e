// A test service under the service application, in a child process (this program, marked by its environment)
// that a stand-in service manager watches and signals.
#include "host/Service.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/ServiceApplication.h"
#include "platform/rtl/sysutils.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/ServiceManagerPeer.h"
#include "tests/support/Wait.h"

namespace {

using namespace kwstest;
using Statuses = std::vector<std::string>;

constexpr const char* kScenario = "KWS_SERVICE_CHILD";
constexpr DWORD kFailingCustomCode = 129;

// Refuses the first stop, takes its time to pause or to start, as the scenario asks.
class tTestService : public TService {
public:
  explicit tTestService(TServiceApplication* owner) : TService(owner) {
    Name = "kwsTest";
    const std::string scenario = std::getenv(kScenario);
    if (scenario == "refuse-first-stop")
      SetOnStop([this](TService&, bool& stopped) { stopped = ++Stops > 1; });
    if (scenario == "slow-pause")
      SetOnPause([](TService&, bool&) { WaitUntil(ControlQueued, 20s, tPump::None); });
    if (scenario == "slow-start")
      OnStart = [](TService&, bool&) {
        WaitUntil([] { return std::filesystem::exists("go"); }, 20s, tPump::None);
      };
  }
  bool HandleCustomControl(DWORD code) override {
    if (code == kFailingCustomCode)
      throw Exception("boom");
    return true;
  }
  LPHANDLER_FUNCTION ControlHandlerEntry() override { return &Controller; }

  static bool ControlQueued() {
    MSG msg;
    return PeekMessageA(&msg, reinterpret_cast<HWND>(LONG_PTR{-1}), MsgServiceControl, MsgServiceControl,
                        PM_NOREMOVE);
  }
  static void WINAPI Controller(DWORD code) { Current->PostControl(code); }
  static inline TService* Current = nullptr;
  int Stops = 0;
};

TEST(ServiceChild, RunsTheTestServiceUntilItStops) {
  if (!std::getenv(kScenario))
    GTEST_SKIP() << "runs as a child of the Service tests";
  TServiceApplication application;
  application.AddService(
      [](TServiceApplication& owner) -> std::unique_ptr<TService> {
        return std::make_unique<tTestService>(&owner);
      },
      tTestService::Current);
  if (std::string(std::getenv(kScenario)) == "quit-first")
    PostQuitMessage(0); // as a stop signal does through the main window before the dispatcher takes signals
  application.RunServices();
}

class Service : public testing::Test {
protected:
  void Start(const std::string& scenario) {
    Child.Start({"--gtest_filter=ServiceChild.*"}, {{kScenario, scenario},
                                                    {"NOTIFY_SOCKET", Manager.SocketPath()},
                                                    {"KWSPLAT_EVENTLOG", Child.Folder().PathOf("events.log")},
                                                    {"KWSPLAT_HEADLESS", "1"}});
  }
  void ExpectStopAndExit() {
    Child.SendSignal(SIGTERM);
    EXPECT_EQ(Manager.NextStatuses(2), (Statuses{"Stop pending (checkpoint 0) /7 stopping", "Stopped /7"}));
    ExpectExit();
  }
  void ExpectExit() {
    const auto status = Child.WaitForExit(30s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->Code, 0) << Child.Stdout() << Child.Stderr();
  }
  std::string Events() const {
    std::ostringstream text;
    text << std::ifstream(Child.Folder().PathOf("events.log")).rdbuf();
    return text.str();
  }

  tServiceManagerPeer Manager;
  ProgramRunner Child{std::nullopt, ParamStr(0)};
  const Statuses Started{"Start pending (checkpoint 1) /0", "Start pending (checkpoint 2) /0",
                         "Running /7 ready"};
};

TEST_F(Service, ARefusedStopReportsRunningAgainAndAFailingCustomCodeIsLoggedWithoutChangingTheState) {
  Start("refuse-first-stop");
  ASSERT_EQ(Manager.NextStatuses(3), Started);
  Child.SendSignal(SIGTERM);
  EXPECT_EQ(Manager.NextStatuses(2),
            (Statuses{"Stop pending (checkpoint 0) /7 stopping", "Running /7 ready"}));
  Child.SendSignal(SIGRTMIN + 1);
  EXPECT_EQ(Manager.NextStatuses(1), Statuses{"Running /7 ready"});
  EXPECT_TRUE(WaitUntil([&] { return !Events().empty(); }, 20s, tPump::None)); // logged after the report
  EXPECT_EQ(Events(), "kwsTest\t1\t0\t0\tService failed in custom message(129): boom\n");
  ExpectStopAndExit();
}

TEST_F(Service, AContinueThatArrivesWhileThePauseIsStillBeingHandledIsNotLost) {
  Start("slow-pause");
  ASSERT_EQ(Manager.NextStatuses(3), Started);
  Child.SendSignal(SIGTSTP);
  ASSERT_EQ(Manager.NextStatuses(1), Statuses{"Pause pending (checkpoint 0) /7"});
  Child.SendSignal(SIGCONT);
  EXPECT_EQ(Manager.NextStatuses(3),
            (Statuses{"Paused /7", "Continue pending (checkpoint 0) /7", "Running /7 ready"}));
  ExpectStopAndExit();
}

TEST_F(Service, AStopWhileStartingIsHeldUntilTheServiceRuns) {
  Start("slow-start");
  ASSERT_EQ(Manager.NextStatuses(2), (Statuses{Started[0], Started[1]}));
  Child.SendSignal(SIGTERM);
  Child.Folder().WriteFile("go", "");
  EXPECT_EQ(Manager.NextStatuses(3),
            (Statuses{"Running /7 ready", "Stop pending (checkpoint 0) /7 stopping", "Stopped /7"}));
  ExpectExit();
  EXPECT_EQ(Events(), "");
}

TEST_F(Service, AQuitBeforeTheDispatcherRunsShutsTheServiceDownSoThatTheApplicationReturns) {
  Start("quit-first");
  EXPECT_EQ(Manager.NextStatuses(5), (Statuses{Started[0], Started[1], Started[2],
                                               "Stop pending (checkpoint 0) /7 stopping", "Stopped /7"}));
  ExpectExit();
}

} // namespace
