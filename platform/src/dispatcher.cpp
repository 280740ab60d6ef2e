// The control dispatcher over the notification socket: statuses become datagrams, signals become controls.
#include <deque>
#include <mutex>
#include <string>

#include "platform/src/Paths.h"
#include "platform/src/posix/NotifySocket.h"
#include "platform/src/posix/ServiceSignals.h"
#include "platform/src/posix/UnitFolder.h"
#include "platform/win32.h"

namespace kwsplat {
namespace {

// The one service a dispatcher runs, and what its manager last heard.
struct DispatchState {
  std::mutex Lock; // guards every field
  bool Running = false;
  std::string ServiceName;
  LPSERVICE_MAIN_FUNCTIONA ServiceMain = nullptr;
  LPHANDLER_FUNCTION Handler = nullptr;
  uintptr_t StatusHandle = 0;
  DWORD LastState = SERVICE_START_PENDING; // until the first report, the service is starting
  DWORD LastAccepted = 0;
  bool Stopped = false;
  bool MainReturned = false;
  std::deque<DWORD> Pending; // controls in arrival order, not yet handed over
};

DispatchState& State() {
  static auto* state = new DispatchState(); // never destroyed: a service thread may report during exit
  return *state;
}

uintptr_t gNextStatusHandle = 0x5E000; // guarded by DispatchState::Lock

constexpr const char* kStateTexts[] = {"",        "Stopped",          "Start pending", "Stop pending",
                                       "Running", "Continue pending", "Pause pending", "Paused"};

bool IsPending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

std::string StatusDatagram(const SERVICE_STATUS& status) {
  std::string text = kStateTexts[status.dwCurrentState];
  if (IsPending(status.dwCurrentState))
    text += " (checkpoint " + std::to_string(status.dwCheckPoint) + ")";
  if (status.dwWin32ExitCode != 0)
    text += " (error " + std::to_string(status.dwWin32ExitCode) + ")";
  std::string datagram = "STATUS=" + text + "\nX_SERVICE_STATE=" + std::to_string(status.dwCurrentState) +
                         "\nX_CHECKPOINT=" + std::to_string(status.dwCheckPoint) +
                         "\nX_WAIT_HINT=" + std::to_string(status.dwWaitHint) +
                         "\nX_CONTROLS_ACCEPTED=" + std::to_string(status.dwControlsAccepted) +
                         "\nX_WIN32_EXIT_CODE=" + std::to_string(status.dwWin32ExitCode) +
                         "\nX_SERVICE_EXIT_CODE=" + std::to_string(status.dwServiceSpecificExitCode) + "\n";
  if (status.dwCurrentState == SERVICE_START_PENDING || status.dwCurrentState == SERVICE_STOP_PENDING)
    datagram += "EXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{status.dwWaitHint} * 1000) + "\n";
  if (status.dwCurrentState == SERVICE_RUNNING)
    datagram += "READY=1\n";
  if (status.dwCurrentState == SERVICE_STOP_PENDING)
    datagram += "STOPPING=1\n";
  return datagram;
}

// The acceptance a control needs, as the last status states it; 0 for those that always pass.
DWORD AcceptanceNeeded(DWORD code) {
  switch (code) {
  case SERVICE_CONTROL_STOP:
    return SERVICE_ACCEPT_STOP;
  case SERVICE_CONTROL_PAUSE:
  case SERVICE_CONTROL_CONTINUE:
    return SERVICE_ACCEPT_PAUSE_CONTINUE;
  case SERVICE_CONTROL_SHUTDOWN:
    return SERVICE_ACCEPT_SHUTDOWN;
  case SERVICE_CONTROL_PARAMCHANGE:
    return SERVICE_ACCEPT_PARAMCHANGE;
  default:
    return 0;
  }
}

// Takes the next control the service may have now; 0 handler when none (the rest waits or is gone).
struct Delivery {
  LPHANDLER_FUNCTION Handler = nullptr;
  DWORD Code = 0;
};
Delivery NextDelivery(DispatchState& state) {
  std::lock_guard<std::mutex> guard(state.Lock);
  while (!state.Pending.empty() && state.Handler != nullptr && !state.Stopped) {
    const DWORD code = state.Pending.front();
    const DWORD needed = AcceptanceNeeded(code);
    if (needed == 0 || (state.LastAccepted & needed) != 0) {
      state.Pending.pop_front();
      return Delivery{state.Handler, code};
    }
    // A starting service accepts nothing yet: its stop, pause, continue and shutdown wait for it.
    if (state.LastState == SERVICE_START_PENDING && code != SERVICE_CONTROL_PARAMCHANGE)
      return Delivery{};
    state.Pending.pop_front();
  }
  if (state.Stopped)
    state.Pending.clear();
  return Delivery{};
}

void DeliverControls(DispatchState& state) {
  for (Delivery next = NextDelivery(state); next.Handler != nullptr; next = NextDelivery(state))
    next.Handler(next.Code);
}

DWORD WINAPI RunServiceMain(LPVOID) {
  DispatchState& state = State();
  std::string name;
  LPSERVICE_MAIN_FUNCTIONA serviceMain;
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    name = state.ServiceName;
    serviceMain = state.ServiceMain;
  }
  char* arguments[] = {name.data(), nullptr};
  serviceMain(1, arguments);
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    state.MainReturned = true;
    // A service that ends without saying so has stopped with an error, so the dispatcher cannot hang.
    if (!state.Stopped) {
      SERVICE_STATUS stopped{
          SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, ERROR_SERVICE_SPECIFIC_ERROR, 0, 0, 0};
      posix::SendNotification(StatusDatagram(stopped));
      state.Stopped = true;
    }
  }
  posix::WakeServiceSignalWait();
  return 0;
}

const SERVICE_TABLE_ENTRYA* ChosenEntry(const SERVICE_TABLE_ENTRYA* table) {
  const std::string wanted = posix::EnvironmentValue("KWSPLAT_SERVICE");
  for (const SERVICE_TABLE_ENTRYA* entry = table; entry->lpServiceName != nullptr; ++entry)
    if (wanted.empty() || FoldCase(wanted) == FoldCase(entry->lpServiceName))
      return entry;
  return nullptr;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// No manager listens: the variable goes, so that nothing started later tries it either.
BOOL FailUnconnected() {
  posix::CloseNotifySocket();
  posix::ForgetNotifySocket();
  return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
}

// Hands over controls until the service has stopped and its main routine returned.
void Dispatch(DispatchState& state) {
  for (;;) {
    DeliverControls(state);
    {
      std::lock_guard<std::mutex> guard(state.Lock);
      if (state.Stopped && state.MainReturned)
        return;
    }
    const posix::ServiceSignal signal = posix::WaitForServiceSignal();
    if (!signal.Wake) {
      std::lock_guard<std::mutex> guard(state.Lock);
      state.Pending.push_back(signal.Code);
    }
  }
}

} // namespace
} // namespace kwsplat

using namespace kwsplat;

extern "C" BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
  if (lpServiceStartTable == nullptr || lpServiceStartTable->lpServiceName == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!posix::OpenNotifySocket() ||
      !posix::SendNotification("MAINPID=" + std::to_string(GetCurrentProcessId()) + "\n"))
    return FailUnconnected();
  const SERVICE_TABLE_ENTRYA* entry = ChosenEntry(lpServiceStartTable);
  if (entry == nullptr || entry->lpServiceProc == nullptr)
    return Fail(ERROR_SERVICE_NOT_IN_EXE);
  DispatchState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    if (state.Running)
      return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    state.Running = true;
    state.ServiceName = entry->lpServiceName;
    state.ServiceMain = entry->lpServiceProc;
    state.Handler = nullptr;
    state.StatusHandle = 0;
    state.LastState = SERVICE_START_PENDING;
    state.LastAccepted = 0;
    state.Stopped = state.MainReturned = false;
    state.Pending.clear();
  }
  posix::InstallServiceSignals();
  HANDLE serviceMain = CreateThread(nullptr, 0, RunServiceMain, nullptr, 0, nullptr);
  if (serviceMain != nullptr) {
    Dispatch(state);
    WaitForSingleObject(serviceMain, INFINITE);
    CloseHandle(serviceMain);
  }
  const DWORD error = serviceMain != nullptr ? 0 : GetLastError();
  posix::RestoreServiceSignals();
  posix::CloseNotifySocket();
  std::lock_guard<std::mutex> guard(state.Lock);
  state.Running = false;
  return error == 0 ? TRUE : Fail(error);
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                                    LPHANDLER_FUNCTION lpHandlerProc) {
  DispatchState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    if (!state.Running || lpServiceName == nullptr ||
        FoldCase(lpServiceName) != FoldCase(state.ServiceName)) {
      SetLastError(ERROR_SERVICE_NOT_IN_EXE);
      return nullptr;
    }
    if (lpHandlerProc == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    state.Handler = lpHandlerProc;
    if (state.StatusHandle == 0) {
      state.StatusHandle = gNextStatusHandle;
      gNextStatusHandle += 4;
    }
  }
  posix::WakeServiceSignalWait(); // controls that waited for a handler
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(state.StatusHandle);
}

extern "C" BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                                        LPSERVICE_STATUS lpServiceStatus) {
  DispatchState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    if (!state.Running || reinterpret_cast<uintptr_t>(hServiceStatus) != state.StatusHandle ||
        state.StatusHandle == 0)
      return Fail(ERROR_INVALID_HANDLE);
    if (lpServiceStatus == nullptr || lpServiceStatus->dwCurrentState < SERVICE_STOPPED ||
        lpServiceStatus->dwCurrentState > SERVICE_PAUSED)
      return Fail(ERROR_INVALID_PARAMETER);
    if (!posix::SendNotification(StatusDatagram(*lpServiceStatus)))
      return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    state.LastState = lpServiceStatus->dwCurrentState;
    state.LastAccepted = lpServiceStatus->dwControlsAccepted;
    state.Stopped = state.LastState == SERVICE_STOPPED;
  }
  posix::WakeServiceSignalWait(); // held controls the new status may accept
  return TRUE;
}
