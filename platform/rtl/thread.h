// A thread object: suspended start, free-on-terminate, and calls synchronized onto the main thread.
#pragma once

#include <atomic>
#include <exception>
#include <functional>

#include "platform/win32.h"

// Derive and override Execute. Create suspended and call Resume at the end of the most derived
// constructor (a thread started from this base constructor could run Execute before the derived part
// exists). Execute runs unless Terminate came first; an exception escaping it is kept in
// FatalException instead of ending the process.
class TThread {
public:
  explicit TThread(bool createSuspended, SIZE_T stackSize = 0);
  // Waits for a started thread to end (asking it to terminate first); a never-resumed thread ends
  // without running Execute.
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Resume();
  // Only the thread itself can suspend (from inside Execute); it sleeps until another thread resumes it.
  void Suspend();
  void Terminate() { TerminatedFlag = true; }
  // Waits for the end and returns the exit code. On the main thread, synchronized calls of other threads
  // keep running meanwhile, so a thread that synchronizes cannot deadlock its waiter.
  DWORD WaitFor();

  bool Terminated() const { return TerminatedFlag; }
  bool Suspended() const { return SuspendedFlag; }
  bool Finished() const { return FinishedFlag; }
  HANDLE Handle() const { return ThreadHandle; }
  DWORD ThreadID() const { return Id; }
  // Valid once Finished (or WaitFor returned).
  std::exception_ptr FatalException() const { return Fatal; }

  // Set before the thread ends: the object then deletes itself on its own thread after Execute.
  std::atomic<bool> FreeOnTerminate{false};
  // Runs on the main thread (synchronized) after Execute.
  std::function<void(TThread&)> OnTerminate;

  // Runs method on the main thread and returns when it is done: directly on the main thread; from any
  // other thread by a message to the main thread, so a loop of the main thread must be running. An
  // exception thrown by method is thrown again here.
  static void Synchronize(const std::function<void()>& method);
  // Like Synchronize, without waiting: method runs later on the main thread, in order with synchronized
  // calls (directly on the main thread). An exception it throws is lost.
  static void Queue(std::function<void()> method);
  // Runs the synchronized calls waiting now; main thread only (its loops do this by dispatching).
  static void CheckSynchronize();
  static bool IsMainThread();
  static DWORD MainThreadID();

  // The message the main thread's hidden window receives for waiting synchronized calls.
  static constexpr UINT kSynchronizeMessage = 0xBFF0;

protected:
  virtual void Execute() = 0;
  // The thread's exit code, set by Execute.
  DWORD ReturnValue = 0;

private:
  static DWORD WINAPI ThreadProc(LPVOID parameter);
  static void FreeThread(TThread* thread);

  HANDLE ThreadHandle = nullptr;
  DWORD Id = 0;
  std::atomic<bool> TerminatedFlag{false};
  std::atomic<bool> SuspendedFlag{false};
  std::atomic<bool> FinishedFlag{false};
  std::atomic<bool> Started{false};
  std::exception_ptr Fatal; // written by the thread before FinishedFlag
};
