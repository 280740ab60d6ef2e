// A test service under the service application, in a child process (this program, marked by its environment)
// that a stand-in service manager watches and signals.
#include "host/Service.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <filesystem>

#include "host/ServiceApplication.h"
#include "platform/rtl/sysutils.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/ServiceManagerPeer.h"
#include "tests/support/Wait.h"

namespace {

using namespace kwstest;
using Statuses = std::vector<std::string>;

constexpr const char* kScenario = "KWS_SERVICE_CHILD";

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
    if (code == 129) // as SIGRTMIN + 1 brings it
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

// Each scenario: signals sent in turn (0: none), the statuses each brings, and what the service logged. After
// each signal a "go" file lets a slow start finish.
TEST(Service, EachControlIsReportedInOrderHoweverLongTheServiceTakesOrWhenItRefuses) {
  const std::string running = "Running /7 ready", stopping = "Stop pending (checkpoint 0) /7 stopping";
  const Statuses started{"Start pending (checkpoint 1) /0", "Start pending (checkpoint 2) /0", running};
  const Statuses stop{stopping, "Stopped /7"};
  const struct Case {
    std::string Scenario;
    std::vector<std::pair<int, Statuses>> Steps;
    std::string Events;
  } cases[] = {
      // A refused stop reports running again; a failing custom code is logged and changes nothing.
      {"refuse-first-stop",
       {{0, started}, {SIGTERM, {stopping, running}}, {SIGRTMIN + 1, {running}}, {SIGTERM, stop}},
       "kwsTest\t1\t0\t0\tService failed in custom message(129): boom\n"},
      // A continue that arrives while the pause is still being handled is not lost.
      {"slow-pause",
       {{0, started},
        {SIGTSTP, {"Pause pending (checkpoint 0) /7"}},
        {SIGCONT, {"Paused /7", "Continue pending (checkpoint 0) /7", running}},
        {SIGTERM, stop}},
       ""},
      // A stop while starting is held until the service runs.
      {"slow-start", {{0, {started[0], started[1]}}, {SIGTERM, {running, stopping, "Stopped /7"}}}, ""},
      // A quit before the dispatcher runs shuts the service down, so that the application returns.
      {"quit-first", {{0, {started[0], started[1], running, stopping, "Stopped /7"}}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Scenario);
    tServiceManagerPeer manager;
    ProgramRunner child(std::nullopt, ParamStr(0));
    child.Start({"--gtest_filter=ServiceChild.*"}, {{kScenario, c.Scenario},
                                                    {"NOTIFY_SOCKET", manager.SocketPath()},
                                                    {"KWSPLAT_EVENTLOG", child.Folder().PathOf("events.log")},
                                                    {"KWSPLAT_HEADLESS", "1"}});
    for (const auto& [signal, statuses] : c.Steps) {
      if (signal != 0) {
        child.SendSignal(signal);
        child.Folder().WriteFile("go", "");
      }
      ASSERT_EQ(manager.NextStatuses(statuses.size()), statuses);
    }
    const auto status = child.WaitForExit(30s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->Code, 0) << child.Stdout() << child.Stderr();
    EXPECT_EQ(child.Folder().ReadText("events.log"), c.Events);
  }
}

} // namespace
