// The program's own service: it accepts every start and stop and only takes control codes; serving goes on
// in the main thread whatever its state.
#pragma once

#include <memory>

#include "host/Service.h"

class tMyService : public TService {
public:
  explicit tMyService(TServiceApplication* owner);
  static std::unique_ptr<TService> Create(TServiceApplication& owner);

  LPHANDLER_FUNCTION ControlHandlerEntry() override;

private:
  static void WINAPI ServiceController(DWORD code);
};

inline constexpr const char* kServiceName = "kwsService1";
inline constexpr const char* kServiceDisplayName = "Kestrune Web Server service";

// The one service object of the process, once created; its control routine hands codes to it.
extern TService* MyService;
