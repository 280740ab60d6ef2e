// The process's service application: installs and removes its services, or runs the service manager's
// control dispatcher for them while the main thread's messages keep being delivered.
#pragma once

#include <memory>
#include <vector>

#include "host/Service.h"
#include "platform/win32.h"

class TServiceApplication;
// The virtual constructor of a service class.
using TServiceClass = std::unique_ptr<TService> (*)(TServiceApplication& owner);

class TServiceApplication {
public:
  TServiceApplication() = default;
  // The services go first; then the application counts as terminated.
  ~TServiceApplication();
  TServiceApplication(const TServiceApplication&) = delete;
  TServiceApplication& operator=(const TServiceApplication&) = delete;

  // Creates a service owned by the application and stores it in reference (null when creation fails).
  void AddService(TServiceClass serviceClass, TService*& reference);
  void Initialize() {}
  // Installs or uninstalls when the command line asks for it; otherwise runs the dispatcher and the main
  // thread's messages until the dispatcher ends or a quit message arrives. Main thread only.
  void RunServices();
  // The common service-main routine's work: the service named by the first argument takes over.
  void EnterService(DWORD argc, LPSTR* argv);
  int ServiceCount() const { return static_cast<int>(Services.size()); }
  void InstallOrUninstall(bool install, bool silent);

  bool Terminated = false; // main thread only

private:
  static void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
  void RunDispatcher();

  std::vector<std::unique_ptr<TService>> Services;
};

// Created at program start, before the main sequence, and released at process end.
extern std::unique_ptr<TServiceApplication> ServiceApplication;
