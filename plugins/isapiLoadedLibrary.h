// An ISAPI 2.0 extension. It serves one request at a time: a request that finds it busy waits in line, on its
// own worker, until the extension is free or the connection time-out has passed.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "plugins/BaseLoadedLibrary.h"
#include "plugins/isapiSession.h"
#include "plugins/sdk/Isapi2.h"

class tisapiLoadedLibrary : public tBaseLoadedLibrary {
public:
  tisapiLoadedLibrary(tWSIOBase& producer, const std::string& fileName);
  // TerminateExtension(HSE_TERM_MUST_UNLOAD), then the unload.
  ~tisapiLoadedLibrary() override;

  // Gives the producer's request its session, and the extension to it at once when the extension is free;
  // otherwise the request waits in line and its producer calls Call once it is let in.
  void Run(tWSIOBase& producer, const std::string& text) override;
  // The producer's reply is complete: the extension is free for the next in line.
  void Release(tWSIOBase& producer) override;
  // The producer's request leaves the line, or gives up its turn, and its calls reach it no more.
  void Detach(tWSIOBase& producer) override;

  // HttpExtensionProc for a session that was let in, and what its result asks for.
  void Call(tisapiSession& session, tWSIOBase& producer);
  // The session's turn has come.
  bool IsLetIn(const tisapiSession& session);
  // Takes a waiting session out of the line; false when it was let in meanwhile.
  bool Withdraw(tisapiSession& session);
  // The session is over: the next in line is let in, or the extension becomes free.
  void Leave(tisapiSession& session);

  // A server variable of the producer's request; nullopt when this server does not provide it.
  static std::optional<std::string> ServerVariable(const tWSIOBase& producer, const std::string& name);

  static BOOL WINAPI GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved);
  static BOOL WINAPI ReadClient(HCONN connection, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD size,
                                           LPDWORD dataType);

  PFN_GETEXTENSIONVERSION GetExtensionVersion = nullptr;
  PFN_HTTPEXTENSIONPROC HttpExtensionProc = nullptr;
  PFN_TERMINATEEXTENSION TerminateExtension = nullptr;

private:
  bool Enter(const std::shared_ptr<tisapiSession>& session);
  static BOOL SendResponseHeader(tisapiSession& session, LPDWORD dataType);
  static BOOL DoneWithSession(tisapiSession& session);

  std::mutex Lock; // guards Ready, Current, Waiting and the sessions' Granted and Started
  bool Ready = true;
  std::shared_ptr<tisapiSession> Current; // the session the extension serves
  std::deque<std::shared_ptr<tisapiSession>> Waiting;
};
