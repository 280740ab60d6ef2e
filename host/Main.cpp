// The program's entry: the main sequence under the last-resort error report.
#include <exception>

#include "host/APIApp.h"
#include "host/ErrorReport.h"
#include "host/KestruneWS.h"

int main() {
  try {
    MainApp = tAPIApp::Create();
    return RunKestruneWS();
  } catch (const std::exception& error) {
    ShowUnhandledError(error);
  } catch (...) {
    ShowUnhandledError();
  }
  return 1;
}
