// The thread that runs the service manager's control dispatcher for the application's services.
#pragma once

#include <string>
#include <vector>

#include "platform/rtl/thread.h"
#include "platform/win32.h"

class TServiceStartThread : public TThread {
public:
  // One entry per name, all with the same service-main routine; starts at once.
  TServiceStartThread(const std::vector<std::string>& serviceNames, LPSERVICE_MAIN_FUNCTIONA serviceMain);

  // 0 when the dispatcher ran and returned, else its error code; valid once the thread has finished.
  DWORD ResultCode() const { return ReturnValue; }

protected:
  void Execute() override;

private:
  std::vector<std::string> Names;
  std::vector<SERVICE_TABLE_ENTRYA> Table; // points into Names; ends with an empty entry
};
