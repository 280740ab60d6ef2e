#include "host/ServiceThread.h"

#include <exception>
#include <string>

#include "host/Service.h"

namespace {

// The words of the failure texts for the controls 1 to 5.
constexpr const char* kActionWords[] = {"", "stop", "pause", "continue", "interrogate", "shutdown"};
constexpr DWORD kLastNamedControl = SERVICE_CONTROL_SHUTDOWN;

} // namespace

TServiceThread::TServiceThread(TService& service) : TThread(true), Service(service) {}

void TServiceThread::Execute() {
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // the queue exists before anyone posts
  try {
    Service.SetState(ssStartPending);
    bool started = true;
    if (Service.OnStart) {
      Service.OnStart(Service, started);
    }
    if (!started) {
      return;
    }
  } catch (const std::exception& error) {
    Service.LogEvent(TService::FailureText("start", error.what()));
    return;
  }
  try {
    Service.SetState(ssRunning);
    if (Service.OnExecute) {
      Service.OnExecute(Service);
    } else {
      PumpControls(true);
    }
    PumpControls(false);
  } catch (const std::exception& error) {
    Service.LogEvent(TService::FailureText("execute", error.what()));
  }
}

void TServiceThread::PumpControls(bool wait) {
  while (!(wait && Terminated())) {
    MSG msg{};
    if (wait ? GetMessageA(&msg, nullptr, 0, 0) <= 0
             : !PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) || msg.message == WM_QUIT) {
      return;
    }
    if (msg.message == TService::MsgServiceControl && msg.hwnd == nullptr) {
      HandleControl(static_cast<DWORD>(msg.wParam));
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void TServiceThread::WaitForNextControl() {
  MSG msg;
  HWND threadMessages = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
  while (!PeekMessageA(&msg, threadMessages, TService::MsgServiceControl, TService::MsgServiceControl,
                       PM_NOREMOVE)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
  }
}

// A refused or failed control leaves the service in the state it had; only a failed shutdown does not.
void TServiceThread::HandleControl(DWORD code) {
  const ServiceState before = Service.State();
  try {
    bool accepted = true;
    switch (code) {
    case SERVICE_CONTROL_STOP:
      accepted = Service.HandleStop();
      break;
    case SERVICE_CONTROL_PAUSE:
      accepted = Service.HandlePause();
      break;
    case SERVICE_CONTROL_CONTINUE:
      accepted = Service.HandleContinue();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      Service.HandleInterrogate();
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      Service.HandleShutdown();
      break;
    default:
      accepted = Service.HandleCustomControl(code);
    }
    if (!accepted) {
      Service.SetState(before);
    }
  } catch (const std::exception& error) {
    if (code != SERVICE_CONTROL_SHUTDOWN) {
      Service.SetState(before);
    }
    Service.LogEvent(code >= 1 && code <= kLastNamedControl
                         ? TService::FailureText(kActionWords[code], error.what())
                         : TService::CustomFailureText(code, error.what()));
  }
}
