#include "host/ErrorReport.h"

#include <cinttypes>
#include <cstdio>

#include "platform/rtl/sysutils.h"
#include "settings/CoreAPITools.h"

namespace {

void ShowReport(std::string_view className, const void* address, std::string_view message) {
  ShowMessageText(UnhandledErrorText(className, FileNameOf(ProgramPath()), address, message),
                  kUnhandledErrorCaption, MB_TASKMODAL | MB_ICONERROR);
}

} // namespace

std::string UnhandledErrorText(std::string_view className, std::string_view moduleName, const void* address,
                               std::string_view message) {
  char hexAddress[2 * sizeof(void*) + 1];
  std::snprintf(hexAddress, sizeof hexAddress, "%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                reinterpret_cast<uintptr_t>(address));
  std::string text = "Exception " + std::string(className) + " in module " + std::string(moduleName) +
                     " at " + hexAddress + ".\n" + std::string(message);
  if (!message.ends_with('.')) {
    text += '.';
  }
  return text;
}

void ShowUnhandledError(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  ShowReport(own != nullptr ? own->ClassName() : "Exception", &error, error.what());
}

void ShowUnhandledError() {
  ShowReport("Exception", nullptr, "An unknown error occurred");
}
