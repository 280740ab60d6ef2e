// The listening socket of one configured listener: accepts connections and starts a worker for each.
#pragma once

#include <memory>

#include "platform/win32.h"
#include "server/LibraryCache.h"
#include "server/WSHandler.h"
#include "settings/ListenerData.h"
#include "socket/WSocket.h"

class tWSListener : public TWSocket {
public:
  tWSListener();
  ~tWSListener() override;
  void DispatchSocketMessage(TMessage& message) override;

  // Takes a copy of the record and the class of the connections' handlers (tWSHandler when none is given).
  void Configure(const tListenerData& record, tWSHandlerClass handlerClass = nullptr);
  bool IsListening() const;
  // Starts or stops listening; nothing before Configure.
  void SetActive(bool active);
  // A connection ended and freed its descriptor: if accepting rests for want of one, it goes on.
  void ConnectionEnded();

  // Never changed after Configure; every connection holds a reference, so it outlives the listener.
  std::shared_ptr<const tListenerData> Settings;
  tWSHandlerClass HandlerClass = nullptr;
  // The plug-in libraries loaded through this listener; unloaded when it is destroyed.
  const std::shared_ptr<tLibraryCache> Libraries;
  // Points at this listener until it is destroyed; workers keep a copy to reach it afterwards, on the main
  // thread, only while it lives.
  const std::shared_ptr<tWSListener*> AliveToken;

  // A moment without free descriptors: accepting pauses this long before it is tried again.
  static constexpr DWORD kAcceptBackOffMs = 100;
  // Posted to the own window when the back-off is over.
  static constexpr UINT kMsgResumeAccepting = WM_USER + 100;

protected:
  void FireSessionAvailable(WORD error) override;

private:
  void StartWorker(SOCKET accepted);
  void BackOff();
  void ResumeAccepting();

  bool AcceptPaused = false; // main thread only: accepting rests after descriptors ran out
};
