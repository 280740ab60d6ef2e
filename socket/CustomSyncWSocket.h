// TCustomSyncWSocket: the layer that waits, dispatching this thread's messages, for a flag that an event
// handler sets. The wait sleeps on the message queue between messages; it never spins.
#pragma once

#include <functional>

#include "socket/CustomLineWSocket.h"

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
  // The waits' result once the pump has taken a quit message: the caller should end its loop.
  static constexpr int kWaitQuitSeen = 12001;

  TCustomSyncWSocket();
  ~TCustomSyncWSocket() override;

  // Clears the flag, runs action when given, then waits as WaitForFlag does.
  virtual int RunAndWait(const std::function<void()>& action, bool& flag);
  // 0 once the flag is set, kWaitQuitSeen once QuitSeen is (the flag is looked at first).
  virtual int WaitForFlag(bool& flag);
};
