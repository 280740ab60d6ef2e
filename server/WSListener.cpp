#include "server/WSListener.h"

#include <thread>

#include "server/Mime.h"
#include "server/WSHThread.h"
#include "socket/WinsockAPI.h"

namespace {

const char* const kAllAddresses = "0.0.0.0";

} // namespace

tWSListener::tWSListener()
    : Settings(std::make_shared<const tListenerData>()), AliveToken(std::make_shared<tWSListener*>(this)) {}

tWSListener::~tWSListener() {
  *AliveToken = nullptr;
  SetActive(false);
}

void tWSListener::Configure(const tListenerData& record, tWSHandlerClass handlerClass) {
  Settings = std::make_shared<const tListenerData>(record);
  SetAddr(kAllAddresses);
  SetPort(record.PortText);
  HandlerClass = handlerClass != nullptr ? handlerClass : &tWSHandler::Create<tWSHandler>;
  // The content types are read once, before the first connection can need them.
  SharedMime();
}

bool tWSListener::IsListening() const {
  return State() == wsListening;
}

void tWSListener::SetActive(bool active) {
  if (active == IsListening() || HandlerClass == nullptr)
    return;
  if (active)
    Listen();
  else
    Abort();
}

// A failed accept drops that one connection and the listener goes on; with no descriptor left it rests a
// moment first, as the connection would otherwise be offered again at once.
void tWSListener::FireSessionAvailable(WORD error) {
  if (error != 0)
    return;
  SOCKET accepted = INVALID_SOCKET;
  try {
    accepted = Accept();
  } catch (const std::exception&) {
    accepted = INVALID_SOCKET;
  }
  if (accepted != INVALID_SOCKET) {
    StartWorker(accepted);
    return;
  }
  if (LastError() == WSAEMFILE || LastError() == WSAENOBUFS)
    BackOff();
}

void tWSListener::StartWorker(SOCKET accepted) {
  try {
    auto worker = std::make_unique<tWSHThread>(HandlerClass, *this, accepted);
    worker.release()->Resume(); // frees itself when it ends
  } catch (const std::exception&) {
    // No thread for this connection: it is dropped, the listener goes on.
    wsock::closesocket(accepted);
  }
}

void tWSListener::BackOff() {
  wsock::WSAAsyncSelect(SocketHandle(), WindowHandle(), MsgSocketEvent, 0);
  const HWND window = WindowHandle();
  // A post to a window that is gone by then fails harmlessly.
  std::thread([window] {
    Sleep(kAcceptBackOffMs);
    PostMessageA(window, kMsgResumeAccepting, 0, 0);
  }).detach();
}

// Registering again makes the sockets library look for waiting connections once more, which it stops doing
// while it has no descriptor to take them with.
void tWSListener::ConnectionEnded() {
  if (IsListening())
    wsock::WSAAsyncSelect(SocketHandle(), WindowHandle(), MsgSocketEvent, kListenEvents);
}

void tWSListener::DispatchSocketMessage(TMessage& message) {
  if (message.Msg != kMsgResumeAccepting) {
    TWSocket::DispatchSocketMessage(message);
    return;
  }
  if (IsListening())
    wsock::WSAAsyncSelect(SocketHandle(), WindowHandle(), MsgSocketEvent, kListenEvents);
}
