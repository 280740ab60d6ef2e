#include "host/MyService.h"

#include "host/ServiceThread.h"

TService* MyService = nullptr;

tMyService::tMyService(TServiceApplication* owner) : TService(owner) {
  Name = kServiceName;
  DisplayName = kServiceDisplayName;
  OnExecute = [](TService& sender) {
    TServiceThread& thread = *sender.ServiceThread();
    while (!thread.Terminated()) {
      thread.PumpControls(true);
    }
  };
  OnStart = [](TService&, bool& started) { started = true; };
  SetOnStop([](TService&, bool& stopped) { stopped = true; });
}

std::unique_ptr<TService> tMyService::Create(TServiceApplication& owner) {
  return std::make_unique<tMyService>(&owner);
}

LPHANDLER_FUNCTION tMyService::ControlHandlerEntry() {
  return &tMyService::ServiceController;
}

void WINAPI tMyService::ServiceController(DWORD code) {
  if (MyService != nullptr) {
    MyService->PostControl(code);
  }
}
