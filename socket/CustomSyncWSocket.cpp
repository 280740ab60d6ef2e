#include "socket/CustomSyncWSocket.h"

TCustomSyncWSocket::TCustomSyncWSocket() = default;

TCustomSyncWSocket::~TCustomSyncWSocket() = default;

int TCustomSyncWSocket::RunAndWait(const std::function<void()>& action, bool& flag) {
  flag = false;
  if (action) {
    action();
  }
  return WaitForFlag(flag);
}

int TCustomSyncWSocket::WaitForFlag(bool& flag) {
  for (;;) {
    if (flag) {
      return 0;
    }
    if (QuitSeen) {
      return kWaitQuitSeen;
    }
    PumpMessagesUntil([&flag] { return flag; }, INFINITE);
  }
}
