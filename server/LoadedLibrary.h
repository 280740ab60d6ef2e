// A plug-in library as the request path sees it: whether it serves, and one call for a request. The plug-in
// interfaces themselves live above the server.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

class tWSIOBase;

class tLoadedLibrary {
public:
  virtual ~tLoadedLibrary() = default;

  // Loaded, and its initialisation accepted: only a valid library is asked to serve.
  virtual bool IsValid() const = 0;
  // Serves one call of the producer's request: the first carries the request, later ones body bytes that
  // arrived after it.
  virtual void Run(tWSIOBase& producer, const std::string& text) = 0;
  // The producer's reply is complete.
  virtual void Release(tWSIOBase& /*producer*/) {}
  // The producer's connection is about to end, on its worker: once this returns no call of the plug-in may
  // reach the producer any more.
  virtual void Detach(tWSIOBase& /*producer*/) {}

  // One call into the plug-in's code. While one runs the plug-in is not told to unload; once it was told,
  // none is made: Allowed() is then false and the caller skips the call.
  class tEntryCall {
  public:
    explicit tEntryCall(tLoadedLibrary& library);
    ~tEntryCall();
    tEntryCall(const tEntryCall&) = delete;
    tEntryCall& operator=(const tEntryCall&) = delete;
    bool Allowed() const { return Entered; }

  private:
    tLoadedLibrary& Library;
    bool Entered;
  };

  // Waits, at most until the deadline, until no call into the plug-in runs, then runs its termination entry
  // and refuses every later call; requests it still holds do not hold it back. False, and nothing done, when
  // a call was still running at the deadline.
  bool TerminateWhenIdle(std::chrono::steady_clock::time_point deadline);

protected:
  // The plug-in's termination entry (nothing in the base).
  virtual void Terminate() {}
  // For a subclass's destructor: runs the termination entry unless it ran already.
  void TerminateOnce();

private:
  std::mutex CallLock; // guards Calls and Terminated
  std::condition_variable CallsDone;
  int Calls = 0;
  bool Terminated = false;
};
