// The thread of a running service: runs its start, execute and stop events and takes the control codes
// the service manager sends.
#pragma once

#include "platform/rtl/thread.h"
#include "platform/win32.h"

class TService;

class TServiceThread : public TThread {
public:
  // Created suspended; the service resumes it once it can post to it.
  explicit TServiceThread(TService& service);

  // Handles the queued messages; with wait, sleeps for more until the thread is told to terminate.
  void PumpControls(bool wait);
  // Sleeps until a control code is queued for this thread; returns at once when one is.
  void WaitForNextControl();

protected:
  void Execute() override;

private:
  void HandleControl(DWORD code);

  TService& Service;
};
