// The program's entry: the main sequence under the last-resort error report.
#include <exception>
#include <memory>

#include "host/APIApp.h"
#include "host/ErrorReport.h"
#include "host/KestruneWS.h"
#include "host/ServiceApplication.h"

int main() {
  try {
    MainApp = tAPIApp::Create();
    ServiceApplication = std::make_unique<TServiceApplication>();
    return RunKestruneWS();
  } catch (const std::exception& error) {
    ShowUnhandledError(error);
  } catch (...) {
    ShowUnhandledError();
  }
  return 1;
}
