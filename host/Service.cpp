#include "host/Service.h"

#include "host/ServiceApplication.h"
#include "host/ServiceThread.h"
#include "platform/rtl/sysutils.h"
#include "settings/CoreAPITools.h"

namespace {

constexpr DWORD kStateValues[] = {SERVICE_STOPPED, SERVICE_START_PENDING,    SERVICE_STOP_PENDING,
                                  SERVICE_RUNNING, SERVICE_CONTINUE_PENDING, SERVICE_PAUSE_PENDING,
                                  SERVICE_PAUSED};
constexpr DWORD kServiceTypeValues[] = {SERVICE_WIN32_OWN_PROCESS, SERVICE_KERNEL_DRIVER,
                                        SERVICE_FILE_SYSTEM_DRIVER};

bool IsPending(ServiceState state) {
  return state == ssStartPending || state == ssStopPending || state == ssContinuePending ||
         state == ssPausePending;
}

} // namespace

TService::TService(TServiceApplication* owner) : Owner(owner) {}

TService::~TService() = default;

std::string TService::FailureText(const std::string& action, const std::string& message) {
  return "Service failed on " + action + ": " + message;
}

std::string TService::CustomFailureText(DWORD code, const std::string& message) {
  return "Service failed in custom message(" + std::to_string(code) + "): " + message;
}

std::string TService::ShownName() const {
  return DisplayName.empty() ? Name : DisplayName;
}

void TService::SetInteractive(bool value) {
  InteractiveFlag = value;
  if (value) {
    PasswordText.clear();
    StartName.clear();
  }
}

void TService::SetPassword(const std::string& value) {
  PasswordText = value;
  if (!value.empty()) {
    InteractiveFlag = false;
  }
}

void TService::SetServiceStartName(const std::string& value) {
  StartName = value;
  if (!value.empty()) {
    InteractiveFlag = false;
  }
}

void TService::SetOnContinue(TContinueEvent handler) {
  OnContinue = std::move(handler);
  AllowPause = true;
}

void TService::SetOnPause(TPauseEvent handler) {
  OnPause = std::move(handler);
  AllowPause = true;
}

void TService::SetOnStop(TStopEvent handler) {
  OnStop = std::move(handler);
  AllowStop = true;
}

TServiceThread* TService::ServiceThread() const {
  std::lock_guard<std::mutex> guard(ControlLock);
  return Thread;
}

DWORD TService::ServiceTypeValue() const {
  DWORD value = kServiceTypeValues[ServiceType];
  if (ServiceType != stWin32) {
    return value;
  }
  if (Owner != nullptr && Owner->ServiceCount() > 1) {
    value = SERVICE_WIN32_SHARE_PROCESS;
  }
  return Interactive() ? value | SERVICE_INTERACTIVE_PROCESS : value;
}

// Boot and system start exist only for drivers; anything else starts automatically instead.
DWORD TService::StartTypeValue() const {
  if ((StartType == stBoot || StartType == stSystem) && ServiceType != stDevice) {
    return SERVICE_AUTO_START;
  }
  return StartType;
}

DWORD TService::ControlsAcceptedIn(ServiceState state) const {
  if (state == ssStartPending) {
    return 0;
  }
  return SERVICE_ACCEPT_SHUTDOWN | (AllowStop ? SERVICE_ACCEPT_STOP : 0) |
         (AllowPause ? SERVICE_ACCEPT_PAUSE_CONTINUE : 0);
}

ServiceState TService::State() const {
  std::lock_guard<std::mutex> guard(StatusLock);
  return CurrentState;
}

void TService::SetState(ServiceState state) {
  {
    std::lock_guard<std::mutex> guard(StatusLock);
    CurrentState = state;
  }
  SendStatus();
}

void TService::SendStatus() {
  SERVICE_STATUS status{};
  {
    std::lock_guard<std::mutex> guard(StatusLock);
    // A pending state reported again shows progress; any other report starts counting anew.
    Checkpoint = IsPending(CurrentState) && CurrentState == LastReported ? Checkpoint + 1 : 0;
    LastReported = CurrentState;
    status.dwCurrentState = kStateValues[CurrentState];
    status.dwControlsAccepted = ControlsAcceptedIn(CurrentState);
    status.dwCheckPoint = Checkpoint;
  }
  status.dwServiceType = ServiceTypeValue();
  status.dwWin32ExitCode =
      SpecificExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : static_cast<DWORD>(Win32ExitCode);
  status.dwServiceSpecificExitCode = static_cast<DWORD>(SpecificExitCode);
  status.dwWaitHint = static_cast<DWORD>(WaitHint);
  if (!SetServiceStatus(StatusHandle, &status)) {
    LogEvent(SysErrorMessage(GetLastError()));
  }
}

void TService::LogEvent(const std::string& message, WORD eventType, WORD category, DWORD eventId) {
  std::lock_guard<std::mutex> guard(LoggerLock);
  if (!EventLogger) {
    EventLogger = std::make_unique<TEventLogger>(Name);
  }
  EventLogger->WriteEvent(message, eventType, category, eventId);
}

void TService::ServiceEntry(DWORD argc, LPSTR* argv) {
  for (DWORD i = 0; i < argc; ++i) {
    Params.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  StatusHandle = RegisterServiceCtrlHandlerA(Name.c_str(), ControlHandlerEntry());
  if (StatusHandle == nullptr) {
    LogEvent(SysErrorMessage(GetLastError()));
    return;
  }
  StartAndWait();
}

// The thread takes the controls that came before it existed, in order, before anything later.
void TService::RunServiceThread() {
  auto thread = std::make_unique<TServiceThread>(*this);
  {
    std::lock_guard<std::mutex> guard(ControlLock);
    Thread = thread.get();
    for (DWORD code : EarlyControls) {
      PostThreadMessageA(Thread->ThreadID(), MsgServiceControl, code, 0);
    }
    EarlyControls.clear();
  }
  thread->Resume();
  thread->WaitFor();
  std::lock_guard<std::mutex> guard(ControlLock);
  Thread = nullptr;
}

void TService::StartAndWait() {
  try {
    SetState(ssStartPending);
    std::exception_ptr failure;
    try {
      RunServiceThread();
    } catch (...) {
      failure = std::current_exception();
    }
    SetState(ssStopped);
    if (failure) {
      std::rethrow_exception(failure);
    }
  } catch (const std::exception& error) {
    LogEvent(FailureText("execute", error.what()));
  }
}

void TService::PostControl(DWORD code) {
  std::lock_guard<std::mutex> guard(ControlLock);
  if (Thread == nullptr) {
    EarlyControls.push_back(code);
    return;
  }
  // Posting fails only once the thread has ended, when no control can matter any more.
  PostThreadMessageA(Thread->ThreadID(), MsgServiceControl, code, 0);
}

bool TService::HandleStop() {
  bool stopped = true;
  SetState(ssStopPending);
  if (OnStop) {
    OnStop(*this, stopped);
  }
  if (stopped) {
    ServiceThread()->Terminate();
  }
  return stopped;
}

bool TService::HandlePause() {
  bool paused = true;
  SetState(ssPausePending);
  if (OnPause) {
    OnPause(*this, paused);
  }
  if (paused) {
    SetState(ssPaused);
    // Waits for the control rather than suspending: a continue that came first is already queued.
    ServiceThread()->WaitForNextControl();
  }
  return paused;
}

bool TService::HandleContinue() {
  bool continued = true;
  SetState(ssContinuePending);
  if (OnContinue) {
    OnContinue(*this, continued);
  }
  if (continued) {
    SetState(ssRunning);
  }
  return continued;
}

void TService::HandleInterrogate() {
  SendStatus();
}

void TService::HandleShutdown() {
  SetState(ssStopPending);
  try {
    if (OnShutdown) {
      OnShutdown(*this);
    }
  } catch (...) {
    ServiceThread()->Terminate();
    throw;
  }
  ServiceThread()->Terminate();
}

bool TService::HandleCustomControl(DWORD) {
  return true;
}

void TService::Install(SC_HANDLE manager) {
  if (BeforeInstall) {
    BeforeInstall(*this);
  }
  const std::string path = ProgramPath();
  const std::string dependencies = DependencyList();
  DWORD tag = TagID;
  SC_HANDLE service =
      CreateServiceA(manager, Name.c_str(), ShownName().c_str(), SERVICE_ALL_ACCESS, ServiceTypeValue(),
                     StartTypeValue(), ErrorSeverity, path.c_str(), LoadGroup.c_str(),
                     TagID > 0 ? &tag : nullptr, dependencies.empty() ? nullptr : dependencies.data(),
                     StartName.empty() ? nullptr : StartName.c_str(), PasswordText.c_str());
  if (service == nullptr) {
    RaiseLastOSError();
  }
  if (TagID > 0) {
    TagID = tag;
  }
  try {
    if (AfterInstall) {
      AfterInstall(*this);
    }
  } catch (...) {
    DeleteService(service);
    CloseServiceHandle(service);
    throw;
  }
  CloseServiceHandle(service);
}

void TService::Uninstall(SC_HANDLE manager) {
  if (BeforeUninstall) {
    BeforeUninstall(*this);
  }
  SC_HANDLE service = OpenServiceA(manager, Name.c_str(), SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    RaiseLastOSError();
  }
  if (!DeleteService(service)) {
    const DWORD error = GetLastError();
    CloseServiceHandle(service);
    RaiseLastOSError(error);
  }
  CloseServiceHandle(service);
  if (AfterUninstall) {
    AfterUninstall(*this);
  }
}
