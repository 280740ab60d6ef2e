#include "host/ServiceApplication.h"

#include "host/EventLogger.h"
#include "host/ServiceStartThread.h"
#include "platform/rtl/sysutils.h"
#include "settings/CoreAPITools.h"

std::unique_ptr<TServiceApplication> ServiceApplication;

namespace {

// The application whose dispatcher runs: set before the dispatcher thread starts, read by the platform's
// service-main thread.
TServiceApplication* Dispatching = nullptr;

constexpr const char* kServiceErrorCaption = "Service error";
constexpr const char* kInformationCaption = "Information";

std::string FailureBoxText(bool install, const std::string& serviceName, const std::string& message) {
  return std::string("Service \"") + serviceName + "\" failed to " + (install ? "install" : "uninstall") +
         " with error: \"" + message + "\"";
}

} // namespace

TServiceApplication::~TServiceApplication() {
  Services.clear();
  Terminated = true;
}

void TServiceApplication::AddService(TServiceClass serviceClass, TService*& reference) {
  reference = nullptr;
  Services.push_back(serviceClass(*this));
  reference = Services.back().get();
}

void TServiceApplication::RunServices() {
  if (HasCommandLineSwitch("INSTALL")) {
    InstallOrUninstall(true, HasCommandLineSwitch("SILENT"));
    return;
  }
  if (HasCommandLineSwitch("UNINSTALL")) {
    InstallOrUninstall(false, HasCommandLineSwitch("SILENT"));
    return;
  }
  RunDispatcher();
}

void TServiceApplication::RunDispatcher() {
  std::vector<std::string> names;
  for (const auto& service : Services) {
    names.push_back(service->Name);
  }
  Dispatching = this;
  TServiceStartThread dispatcher(names, &TServiceApplication::ServiceMain);
  // This loop delivers the listeners' notifications; the dispatcher's end wakes it as a message does.
  HANDLE ended = dispatcher.Handle();
  while (!Terminated && WaitForSingleObject(ended, 0) != WAIT_OBJECT_0) {
    MSG msg{};
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(1, &ended, FALSE, INFINITE, QS_ALLINPUT);
      continue;
    }
    if (msg.message == WM_QUIT) {
      Terminated = true;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  // Told to end while services still run (a stop signal before the dispatcher took over): they shut down,
  // so that the dispatcher returns and the tear-down is reached.
  if (WaitForSingleObject(ended, 0) != WAIT_OBJECT_0) {
    for (const auto& service : Services) {
      service->PostControl(SERVICE_CONTROL_SHUTDOWN);
    }
  }
  const DWORD result = dispatcher.WaitFor();
  if (result != 0) {
    TEventLogger(FileNameOf(ProgramPath())).WriteEvent(SysErrorMessage(result), EVENTLOG_ERROR_TYPE, 0, 0);
  }
}

void WINAPI TServiceApplication::ServiceMain(DWORD argc, LPSTR* argv) {
  if (Dispatching != nullptr) {
    Dispatching->EnterService(argc, argv);
  }
}

void TServiceApplication::EnterService(DWORD argc, LPSTR* argv) {
  if (argc == 0 || argv[0] == nullptr) {
    return;
  }
  for (const auto& service : Services) {
    if (SameText(service->Name, argv[0])) {
      service->ServiceEntry(argc, argv);
      return;
    }
  }
}

void TServiceApplication::InstallOrUninstall(bool install, bool silent) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    RaiseLastOSError();
  }
  bool failed = false;
  for (const auto& service : Services) {
    try {
      install ? service->Install(manager) : service->Uninstall(manager);
    } catch (const std::exception& error) {
      ShowMessageText(FailureBoxText(install, service->ShownName(), error.what()), kServiceErrorCaption,
                      MB_ICONERROR);
      failed = true;
    }
  }
  if (!failed && !silent) {
    ShowMessageText(install ? "Service installed successfully" : "Service uninstalled successfully",
                    kInformationCaption, MB_ICONINFORMATION);
  }
  CloseServiceHandle(manager);
}
