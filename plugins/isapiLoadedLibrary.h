// An ISAPI 2.0 extension. It serves several requests at once, as the published interface (which requires
// thread-safe extensions) allows, up to the bound of each request's directory (option MaxConcurrent); a
// request beyond it waits in line, on its own worker, until a place is free or the connection time-out has
// passed.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "plugins/BaseLoadedLibrary.h"
#include "plugins/isapiSession.h"
#include "plugins/sdk/Isapi2.h"

class tisapiLoadedLibrary : public tBaseLoadedLibrary {
public:
  // MaxConcurrent when a directory does not set it (or sets no number of at least 1).
  static constexpr uint32_t kDefaultConcurrency = 16;

  tisapiLoadedLibrary(tWSIOBase& producer, const std::string& fileName);
  // TerminateExtension(HSE_TERM_MUST_UNLOAD) unless it ran already, then the unload.
  ~tisapiLoadedLibrary() override;

  // Gives the producer's request its session, and the extension to it at once when a place is free;
  // otherwise the request waits in line and its producer calls Call once it is let in.
  void Run(tWSIOBase& producer, const std::string& text) override;
  // The producer's reply is complete: its place goes to the next in line.
  void Release(tWSIOBase& producer) override;
  // The producer's request leaves the line, or gives up a place it did not use; its asynchronous operations
  // fail, and its calls reach it no more.
  void Detach(tWSIOBase& producer) override;

  // HttpExtensionProc for a session that was let in, and what its result asks for.
  void Call(tisapiSession& session, tWSIOBase& producer);
  // The session's turn has come.
  bool IsLetIn(const tisapiSession& session);
  // Takes a waiting session out of the line; false when it was let in meanwhile.
  bool Withdraw(tisapiSession& session);
  // The session is over: its place goes to the next in line.
  void Leave(tisapiSession& session);

  PFN_GETEXTENSIONVERSION GetExtensionVersion = nullptr;
  PFN_HTTPEXTENSIONPROC HttpExtensionProc = nullptr;
  PFN_TERMINATEEXTENSION TerminateExtension = nullptr;

protected:
  void Terminate() override;

private:
  bool Enter(const std::shared_ptr<tisapiSession>& session);
  // Under Lock: lets in the waiting sessions that fit, in order; the ones let in.
  std::vector<std::shared_ptr<tisapiSession>> LetInWaiting();

  std::mutex Lock; // guards Running, Waiting and the sessions' Granted and Started
  std::vector<std::shared_ptr<tisapiSession>> Running; // let in, and not done with
  std::deque<std::shared_ptr<tisapiSession>> Waiting;
};
