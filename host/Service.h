// A service: its registration values, its states as reported to the service manager, and the handling of the
// manager's controls in its own thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/Dependencies.h"
#include "host/EventLogger.h"
#include "platform/win32.h"

class TService;
class TServiceApplication;
class TServiceThread;

enum TServiceType : uint8_t { stWin32 = 0, stDevice = 1, stFileSystem = 2 };
enum TStartType : uint8_t { stBoot = 0, stSystem = 1, stAuto = 2, stManual = 3, stDisabled = 4 };
enum TErrorSeverity : uint8_t { esIgnore = 0, esNormal = 1, esSevere = 2, esCritical = 3 };
enum ServiceState : uint8_t {
  ssStopped = 0,
  ssStartPending = 1,
  ssStopPending = 2,
  ssRunning = 3,
  ssContinuePending = 4,
  ssPausePending = 5,
  ssPaused = 6
};

using TServiceEvent = std::function<void(TService& sender)>;
using TContinueEvent = std::function<void(TService& sender, bool& continued)>;
using TPauseEvent = std::function<void(TService& sender, bool& paused)>;
using TStartEvent = std::function<void(TService& sender, bool& started)>;
using TStopEvent = std::function<void(TService& sender, bool& stopped)>;

class TService {
public:
  // The thread message that carries a control code to the service thread.
  static constexpr UINT MsgServiceControl = WM_USER + 1;
  static constexpr int32_t kDefaultWaitHint = 5000;

  explicit TService(TServiceApplication* owner);
  virtual ~TService();
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;

  virtual void StartAndWait();
  virtual bool HandleStop();
  virtual bool HandlePause();
  virtual bool HandleContinue();
  virtual void HandleInterrogate();
  virtual void HandleShutdown();
  virtual bool HandleCustomControl(DWORD code);
  // The platform-callable routine that takes this service's control codes.
  virtual LPHANDLER_FUNCTION ControlHandlerEntry() = 0;

  void SetState(ServiceState state);
  ServiceState State() const;
  void SendStatus();
  void LogEvent(const std::string& message, WORD eventType = EVENTLOG_ERROR_TYPE, WORD category = 0,
                DWORD eventId = 0);
  // The service-main routine's work for this service: runs until the service has stopped.
  void ServiceEntry(DWORD argc, LPSTR* argv);
  // From any thread: hands the code to the service thread in order.
  void PostControl(DWORD code);
  void Install(SC_HANDLE manager);
  void Uninstall(SC_HANDLE manager);
  std::string DependencyList() const { return Dependencies.List(); }
  // DisplayName, or Name when that is empty.
  std::string ShownName() const;

  // "Service failed on <action>: <message>" and "Service failed in custom message(<code>): <message>".
  static std::string FailureText(const std::string& action, const std::string& message);
  static std::string CustomFailureText(DWORD code, const std::string& message);

  // Setters with consequences for other values.
  void SetInteractive(bool value);
  void SetPassword(const std::string& value);
  void SetServiceStartName(const std::string& value);
  void SetOnContinue(TContinueEvent handler);
  void SetOnPause(TPauseEvent handler);
  void SetOnStop(TStopEvent handler);
  bool Interactive() const { return InteractiveFlag; }
  const std::string& Password() const { return PasswordText; }
  const std::string& ServiceStartName() const { return StartName; }

  TServiceApplication* const Owner;
  std::string Name;
  bool AllowStop = true;
  bool AllowPause = true;
  TDependencies Dependencies;
  std::string DisplayName;
  int32_t SpecificExitCode = 0;
  TErrorSeverity ErrorSeverity = esNormal;
  std::string LoadGroup;
  std::vector<std::string> Params;
  TServiceType ServiceType = stWin32;
  TStartType StartType = stAuto;
  SERVICE_STATUS_HANDLE StatusHandle = nullptr;
  DWORD TagID = 0;
  int32_t WaitHint = kDefaultWaitHint;
  int32_t Win32ExitCode = 0;
  TServiceEvent BeforeInstall, AfterInstall, BeforeUninstall, AfterUninstall, OnExecute, OnShutdown;
  TStartEvent OnStart;

  // The running service thread, or null.
  TServiceThread* ServiceThread() const;

private:
  DWORD ServiceTypeValue() const;
  DWORD StartTypeValue() const;
  DWORD ControlsAcceptedIn(ServiceState state) const;
  void RunServiceThread();

  TContinueEvent OnContinue;
  TPauseEvent OnPause;
  TStopEvent OnStop;
  bool InteractiveFlag = false;
  std::string PasswordText;
  std::string StartName;

  mutable std::mutex StatusLock; // guards CurrentState, Checkpoint, LastReported
  ServiceState CurrentState = ssStopped;
  DWORD Checkpoint = 0;
  ServiceState LastReported = ssStartPending;

  mutable std::mutex ControlLock; // guards Thread, EarlyControls
  TServiceThread* Thread = nullptr;
  std::deque<DWORD> EarlyControls; // arrived before the service thread could take them

  std::mutex LoggerLock; // guards EventLogger
  std::unique_ptr<TEventLogger> EventLogger;
};
