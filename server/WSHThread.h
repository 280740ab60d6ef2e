// The worker of one accepted connection: runs a plug-in producer's calls, hands later bytes of the body to
// the producer, sees the reply out, and ends the connection.
#pragma once

#include <memory>

#include "platform/rtl/thread.h"
#include "platform/win32.h"
#include "server/WSHandler.h"

class tWSListener;

class tWSHThread : public TThread {
public:
  // On the main thread: the handler is created here so that its notifications arrive on the main thread.
  // The thread starts suspended and frees itself when Execute returns.
  tWSHThread(tWSHandlerClass handlerClass, tWSListener& listener, SOCKET socket);
  ~tWSHThread() override;

  // On the main thread, before Resume: the handler adopts the connection there, so nothing the peer does
  // can fall before its notifications, and the worker need not call over for it.
  void Adopt();

  // The stack of a worker: the pass loop, a producer's calls and the plug-in's code they run. Extensions
  // are written for the 1 MiB a Windows thread gets.
  static constexpr SIZE_T kStackSize = 1024 * 1024;
  // A pass runs at least this often even when no event woke it.
  static constexpr DWORD kSafetyWaitMs = 2000;

  // Created on the main thread, handed back to it to be destroyed there.
  std::unique_ptr<tWSHandler> Handler;
  const SOCKET Socket;
  tWSListener* const Listener; // borrowed; used on the main thread only, during adoption
  // The listener while it lives (nullptr afterwards); read on the main thread only.
  const std::shared_ptr<tWSListener*> ListenerAlive;

protected:
  void Execute() override;

private:
  void Serve();
  void AwaitPeerClose(DWORD timeout);
  // The producer's first call when it is the worker's to make, later bytes of the body unless the producer
  // reads them itself, then its poll; the longest wait before the next pass.
  DWORD HandOver();
};
