// Installing and removing services as unit files in a redirected unit folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Win32Calls.h"

namespace {

using kwstest::ErrorOf;

class Services : public testing::Test {
protected:
  void SetUp() override {
    setenv("KWSPLAT_UNIT_DIR", Units.Path().c_str(), 1);
    Manager = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(Manager, nullptr);
  }
  void TearDown() override {
    CloseServiceHandle(Manager);
    unsetenv("KWSPLAT_UNIT_DIR");
  }
  SC_HANDLE Create(const char* name, const char* display = nullptr, DWORD type = SERVICE_WIN32_OWN_PROCESS,
                   DWORD start = SERVICE_DEMAND_START, const char* group = nullptr, DWORD* tag = nullptr,
                   const char* account = nullptr) {
    return CreateServiceA(Manager, name, display, SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                          "/bin/true", group, tag, nullptr, account, nullptr);
  }

  kwstest::TempFolder Units;
  SC_HANDLE Manager = nullptr;
};

TEST_F(Services, AUnitHoldsEveryValueEscapedForSystemdAndNothingItCannotHold) {
  DWORD tag = 0;
  SC_HANDLE service =
      CreateServiceA(Manager, "svc.a", "Shown 100% done", SERVICE_ALL_ACCESS, SERVICE_WIN32_SHARE_PROCESS,
                     SERVICE_DEMAND_START, SERVICE_ERROR_SEVERE, "\"/opt/a \\b/prog\" -x 5% $HOME", "grp",
                     &tag, "dep1\0+grp2\0+grp3\0", "NT AUTHORITY\\nobody", "secret");
  ASSERT_NE(service, nullptr) << GetLastError();
  EXPECT_EQ(tag, 1u);
  EXPECT_EQ(Units.ReadText("svc.a.service"),
            "[Unit]\nDescription=Shown 100%% done\nRequires=dep1.service\nAfter=dep1.service\n"
            "[Service]\nType=notify\nNotifyAccess=main\n"
            "ExecStart=\"/opt/a \\\\b/prog\" -x 5%% $$HOME\nEnvironment=KWSPLAT_SERVICE=svc.a\n"
            "User=nobody\nAmbientCapabilities=CAP_NET_BIND_SERVICE\nX-Win32-ServiceType=32\n"
            "X-Win32-StartType=3\nX-Win32-ErrorControl=2\nX-Win32-LoadOrderGroup=grp\n"
            "X-Win32-Tag=1\nX-Win32-GroupDependencies=grp2 grp3\n");
  EXPECT_FALSE(std::filesystem::exists(Units.PathOf("multi-user.target.wants")));
  EXPECT_TRUE(CloseServiceHandle(service));
}

TEST_F(Services, EachCallRefusesWhatTheManagerRefusesAndLeavesNoUnitBehind) {
  SC_HANDLE first = Create("first", "First shown", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START);
  ASSERT_NE(first, nullptr);
  DWORD tag = 0;
  const struct Case {
    const char* What;
    std::function<bool()> Call;
    DWORD Error;
  } cases[] = {
      {"remote", [] { return OpenSCManagerA("other", nullptr, SC_MANAGER_CONNECT) != nullptr; }, 87},
      {"database", [] { return OpenSCManagerA(nullptr, "Other", SC_MANAGER_CONNECT) != nullptr; }, 1065},
      {"name", [&] { return Create("a b") != nullptr; }, 123},
      {"driver", [&] { return Create("drv", nullptr, SERVICE_KERNEL_DRIVER) != nullptr; }, 87},
      {"boot",
       [&] { return Create("boot", nullptr, SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START) != nullptr; }, 87},
      {"tag", [&] { return Create("tag", nullptr, 16, 3, "", &tag) != nullptr; }, 87},
      {"account", [&] { return Create("acc", nullptr, 16, 3, nullptr, nullptr, "no-such-user") != nullptr; },
       1057},
      {"line break", [&] { return Create("lb", "two\nlines") != nullptr; }, 87},
      {"exists", [&] { return Create("FIRST") != nullptr; }, 1073},
      {"shown", [&] { return Create("second", "first SHOWN") != nullptr; }, 1078},
      {"missing", [&] { return OpenServiceA(Manager, "second", SERVICE_ALL_ACCESS) != nullptr; }, 1060},
      {"delete", [&] { return DeleteService(first) && DeleteService(first); }, 1072},
      {"handle", [&] { return CloseServiceHandle(reinterpret_cast<SC_HANDLE>(first) + 1); }, 6},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ErrorOf(c.Call()), c.Error) << c.What;
  EXPECT_TRUE(CloseServiceHandle(first));
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Units.Path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"multi-user.target.wants"});
  setenv("KWSPLAT_UNIT_DIR", Units.PathOf("gone").c_str(), 1);
  EXPECT_EQ(ErrorOf(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT) != nullptr), 5u);
}

TEST(ServiceDispatcher, WithoutAManagerToTalkToItFailsWith1063AndForgetsTheSocket) {
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>("svc"), [](DWORD, LPSTR*) {}}, {nullptr, nullptr}};
  for (const char* socket : {"", "relative/path", "/nonexistent/notify"}) {
    setenv("NOTIFY_SOCKET", socket, 1);
    EXPECT_EQ(ErrorOf(StartServiceCtrlDispatcherA(table)), 1063u) << socket;
    EXPECT_EQ(std::getenv("NOTIFY_SOCKET"), nullptr);
  }
  EXPECT_EQ(ErrorOf(RegisterServiceCtrlHandlerA("svc", [](DWORD) {}) != nullptr), 1083u);
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0};
  EXPECT_EQ(ErrorOf(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(4), &status)), 6u);
}

TEST(EventLog, AnEntryIsOneLineOfSourceTypeCategoryIdAndTheStringsJoinedWithoutLineBreaks) {
  kwstest::TempFolder folder;
  setenv("KWSPLAT_EVENTLOG", folder.PathOf("events").c_str(), 1);
  HANDLE source = RegisterEventSourceA(nullptr, "src");
  ASSERT_NE(source, nullptr);
  LPCSTR strings[] = {"a\r\nb\nc", "d"};
  EXPECT_TRUE(ReportEventA(source, EVENTLOG_WARNING_TYPE, 3, 7, nullptr, 2, 0, strings, nullptr));
  EXPECT_TRUE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings + 1, nullptr));
  EXPECT_TRUE(DeregisterEventSource(source));
  EXPECT_EQ(ErrorOf(DeregisterEventSource(source)), 6u);
  unsetenv("KWSPLAT_EVENTLOG");
  EXPECT_EQ(folder.ReadText("events"), "src\t2\t3\t7\t[category 3, event 7] a b c d\nsrc\t1\t0\t0\td\n");
}

} // namespace
