#include "host/ServiceStartThread.h"

TServiceStartThread::TServiceStartThread(const std::vector<std::string>& serviceNames,
                                         LPSERVICE_MAIN_FUNCTIONA serviceMain)
    : TThread(true), Names(serviceNames) {
  for (std::string& name : Names) {
    Table.push_back(SERVICE_TABLE_ENTRYA{name.data(), serviceMain});
  }
  Table.push_back(SERVICE_TABLE_ENTRYA{nullptr, nullptr});
  Resume();
}

void TServiceStartThread::Execute() {
  ReturnValue = StartServiceCtrlDispatcherA(Table.data()) ? 0 : GetLastError();
}
