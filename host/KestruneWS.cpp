#include "host/KestruneWS.h"

#include <memory>
#include <vector>

#include "host/APIApp.h"
#include "host/MyService.h"
#include "host/ServiceApplication.h"
#include "plugins/PluginProducers.h"
#include "server/WSListener.h"
#include "settings/CoreAPITools.h"
#include "settings/KWSetManager.h"

bool ServiceMode = false;

namespace {

using tListenerList = std::vector<std::unique_ptr<tWSListener>>;

constexpr int32_t kWindowLeft = 10;
constexpr int32_t kWindowTop = 10;
constexpr int32_t kWindowWidth = 220;
constexpr int32_t kWindowHeight = 100;

bool ChooseServiceMode() {
  return ServiceModeFor(IsNtPlatform(), HasCommandLineSwitch("NT"), HasCommandLineSwitch("WIN95"));
}

// One listener per enabled record, in record order, each configured with its own copy of the record.
void CreateListeners(const tKWSetManager& settings, tListenerList& listeners) {
  for (int32_t index = 0; index < settings.ListenerCount(); ++index) {
    const tListenerData* record = settings.GetListener(index);
    if (!record->Enabled) {
      continue;
    }
    listeners.push_back(std::make_unique<tWSListener>());
    listeners.back()->Configure(*record, nullptr);
  }
}

// Only after every listener is configured does the first one start listening.
void StartListeners(tListenerList& listeners) {
  for (auto& listener : listeners) {
    listener->SetActive(true);
  }
}

void PrepareListeners(tListenerList& listeners) {
  // The settings are gone before serving starts, also when a listener fails: the listeners keep copies.
  auto settings = std::make_unique<tKWSetManager>();
  settings->LoadFromFile(kSettingsFileName);
  CreateListeners(*settings, listeners);
  StartListeners(listeners);
}

// QuitSeen first, so a wait still pumping that listener's messages stops before it is freed.
void TearDownListeners(tListenerList& listeners) {
  for (auto& listener : listeners) {
    listener->QuitSeen = true;
    listener.reset();
  }
  listeners.clear();
}

// In service mode the service application's loop delivers the listeners' notifications.
void RunMainLoop() {
  if (ServiceMode) {
    ServiceApplication->RunServices();
    return;
  }
  MainApp->RunMessageLoop();
}

bool InstallOrUninstallAsked() {
  return HasCommandLineSwitch("INSTALL") || HasCommandLineSwitch("UNINSTALL");
}

void PrepareService() {
  if (!ServiceApplication) {
    ServiceApplication = std::make_unique<TServiceApplication>();
  }
  ServiceApplication->Initialize();
  ServiceApplication->AddService(&tMyService::Create, MyService);
}

} // namespace

bool ServiceModeFor(bool ntPlatform, bool ntSwitch, bool win95Switch) {
  return (ntPlatform || ntSwitch) && !win95Switch;
}

int RunKestruneWS() {
  ServiceMode = ChooseServiceMode();
  if (!MainApp) {
    MainApp = tAPIApp::Create();
  }
  MainApp->Setup(kWindowLeft, kWindowTop, kWindowWidth, kWindowHeight, kMainWindowTitle, !ServiceMode,
                 nullptr);
  if (ServiceMode) {
    PrepareService();
    // Installing and removing need no listener, and a running service that holds the port must not stop
    // its own removal.
    if (InstallOrUninstallAsked()) {
      ServiceApplication->RunServices();
      return 0;
    }
  }
  RegisterPluginProducers();
  tListenerList listeners;
  try {
    PrepareListeners(listeners);
    RunMainLoop();
  } catch (...) {
    TearDownListeners(listeners);
    throw;
  }
  TearDownListeners(listeners);
  return 0;
}
