// The program in service mode, which this platform enters only with -NT: under a stand-in service manager,
// started by hand, and installing and removing its unit.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "tests/e2e/ServedSite.h"
#include "tests/support/ServiceManagerPeer.h"
#include "tests/support/Wait.h"

namespace kwstest {
namespace {

using Statuses = std::vector<std::string>;

// The program serving its own folder on a free port, with its event log in that folder.
struct ServiceProgram {
  explicit ServiceProgram(int port = FreeLoopbackPort()) : Port(port), Program(SettingsOnPort(port)) {
    Program.Folder().WriteFile("hello.txt", "hello");
  }
  ~ServiceProgram() { EXPECT_EQ(Program.Stderr().find("Sanitizer"), std::string::npos) << Program.Stderr(); }

  void Start(const std::vector<std::string>& arguments, EnvironmentChanges environment = {}) {
    environment.insert(
        {{"KWSPLAT_HEADLESS", "1"}, {"DISPLAY", std::nullopt}, {"KWSPLAT_EVENTLOG", EventLog()}});
    environment.insert({"NOTIFY_SOCKET", std::nullopt});
    Program.Start(arguments, environment);
  }
  bool Serves() {
    return HttpExchange(static_cast<uint16_t>(Port), "GET /hello.txt HTTP/1.0\r\n\r\n")
        .ends_with("\r\n\r\nhello");
  }
  std::string EventLog() const { return Program.Folder().PathOf("events.log"); }

  const int Port;
  ProgramRunner Program;
};

TEST(ServiceMode, UnderAManagerItReportsStartAndStopServesWhileRunningAndEndsWithExitCode0) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP()
      << "the thread checker defers signal handlers, and in the serving program one now and then never "
         "runs; the Service tests take the controls under it";
#endif
  tServiceManagerPeer manager;
  ServiceProgram service;
  service.Start({"-NT"}, {{"NOTIFY_SOCKET", manager.SocketPath()}});
  EXPECT_EQ(manager.NextStatuses(3), (Statuses{"Start pending (checkpoint 1) /0",
                                               "Start pending (checkpoint 2) /0", "Running /7 ready"}));
  EXPECT_TRUE(service.Serves());

  service.Program.SendSignal(SIGTERM);
  EXPECT_EQ(manager.NextStatuses(2), (Statuses{"Stop pending (checkpoint 0) /7 stopping", "Stopped /7"}));
  ExpectExit(service.Program);
  EXPECT_FALSE(WaitForLoopbackPort(service.Port, 0ms));
  EXPECT_FALSE(std::filesystem::exists(service.EventLog()))
      << service.Program.Folder().ReadText("events.log");
}

TEST(ServiceMode, StartedByHandItLogsThatNoManagerListensUnderItsFileNameAndEndsWithExitCode0) {
  ServiceProgram service;
  service.Start({"-nt"});
  ExpectExit(service.Program);
  EXPECT_EQ(service.Program.Folder().ReadText("events.log"),
            "KestruneWS\t1\t0\t0\tThe service process could not connect to the service controller\n");
  EXPECT_FALSE(WaitForLoopbackPort(service.Port, 0ms));
}

TEST(ServiceMode, InstallAndUninstallWriteAndRemoveTheUnitBeforeAnyListenerStarts) {
  TempFolder units;
  tLoopbackPeer holder; // holds the port on every local address: no listener may need it
  const uint16_t taken = holder.Listen(true);
  const std::string failedBox = "Service error: Service \"Kestrune Web Server service\" failed to ";
  const struct Step {
    std::vector<std::string> Arguments;
    std::string Stderr;
    bool Installed;
  } steps[] = {
      {{"-NT", "-INSTALL"}, "Information: Service installed successfully\n", true},
      {{"/nt", "-install", "/Silent"},
       failedBox +
           "install with error: \"Win32 Error.  Code: 1073.\nThe specified service already exists\"\n",
       true},
      {{"-NT", "-UNINSTALL"}, "Information: Service uninstalled successfully\n", false},
      {{"-NT", "-UNINSTALL", "-SILENT"},
       failedBox +
           "uninstall with error: \"Win32 Error.  Code: 1060.\nThe specified service does not exist as an "
           "installed service\"\n",
       false},
      {{"-NT", "-INSTALL", "-SILENT"}, "", true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Arguments.back());
    ServiceProgram service(taken);
    service.Start(step.Arguments, {{"KWSPLAT_UNIT_DIR", units.Path()}});
    ExpectExit(service.Program);
    EXPECT_EQ(service.Program.Stderr(), step.Stderr);
    EXPECT_EQ(std::filesystem::exists(units.PathOf("kwsService1.service")), step.Installed);
    EXPECT_EQ(std::filesystem::exists(units.PathOf("multi-user.target.wants/kwsService1.service")),
              step.Installed);
    if (&step != &steps[0])
      continue;
    EXPECT_EQ(
        units.ReadText("kwsService1.service"),
        "[Unit]\nDescription=Kestrune Web Server service\n[Service]\nType=notify\nNotifyAccess=main\n"
        "ExecStart=\"" +
            service.Program.Folder().PathOf("KestruneWS") +
            "\" -NT\nEnvironment=KWSPLAT_SERVICE=kwsService1\nX-Win32-ServiceType=16\nX-Win32-StartType=2\n"
            "X-Win32-ErrorControl=1\n[Install]\nWantedBy=multi-user.target\n");
    EXPECT_EQ(std::system(("systemd-analyze verify " + units.PathOf("kwsService1.service")).c_str()), 0);
  }
}

TEST(ServiceMode, InstallingWithoutAUnitFolderEndsWithTheErrorReportAndExitCode1) {
  ServiceProgram service;
  service.Start({"-NT", "-INSTALL"}, {{"KWSPLAT_UNIT_DIR", service.Program.Folder().PathOf("missing")}});
  ExpectExit(service.Program, 1);
  const std::string report = "Application Error: Exception EOSError in module KestruneWS at [0-9A-F]+\\.\n"
                             "Win32 Error\\.  Code: 5\\.\nAccess is denied\\.\n";
  EXPECT_TRUE(std::regex_match(service.Program.Stderr(), std::regex(report))) << service.Program.Stderr();
}

} // namespace
} // namespace kwstest
