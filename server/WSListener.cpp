#include "server/WSListener.h"

#include "platform/rtl/thread.h"
#include "server/Mime.h"
#include "server/WSHThread.h"
#include "socket/WinsockAPI.h"

namespace {

const char* const kAllAddresses = "0.0.0.0";

// Tells a listener's window, after a pause, that it may accept again. A post to a window that is gone by then
// fails harmlessly, so the listener may be destroyed meanwhile.
class tResumeLater : public TThread {
public:
  tResumeLater(HWND window, DWORD delayMs) : TThread(true, kStackSize), Window(window), DelayMs(delayMs) {
    FreeOnTerminate = true;
  }
  static constexpr SIZE_T kStackSize = 64 * 1024;

protected:
  void Execute() override {
    Sleep(DelayMs);
    PostMessageA(Window, tWSListener::kMsgResumeAccepting, 0, 0);
  }

private:
  const HWND Window;
  const DWORD DelayMs;
};

} // namespace

tWSListener::tWSListener()
    : Settings(std::make_shared<const tListenerData>()), Libraries(std::make_shared<tLibraryCache>()),
      AliveToken(std::make_shared<tWSListener*>(this)) {}

// The libraries go first, before the socket, each once no connection uses it any more, waiting at most
// the connection time-out.
tWSListener::~tWSListener() {
  *AliveToken = nullptr;
  const int32_t timeout = Settings->ConnectTimeout;
  Libraries->UnloadAll(static_cast<DWORD>(timeout < 0 ? kDefaultConnectTimeoutMs : timeout));
  try {
    SetActive(false);
  } catch (const std::exception&) {
    // By design: the socket goes with the object whatever its close reports; nothing may leave a destructor.
  }
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
    worker->Adopt();
    worker->Resume();
    worker.release(); // running: it frees itself when it ends
  } catch (const std::exception&) {
    // No thread for this connection (a worker that never started is freed here): it is dropped, the
    // listener goes on.
    wsock::closesocket(accepted);
  }
}

void tWSListener::BackOff() {
  AcceptPaused = true;
  wsock::WSAAsyncSelect(SocketHandle(), WindowHandle(), MsgSocketEvent, 0);
  try {
    auto resumer = std::make_unique<tResumeLater>(WindowHandle(), kAcceptBackOffMs);
    resumer->Resume();
    resumer.release(); // running: it frees itself
  } catch (const std::exception&) {
    // Without a thread the listener resumes when the next connection ends.
  }
}

// Registering again makes the sockets library look for waiting connections once more, which it stops doing
// while it has no descriptor to take them with.
void tWSListener::ConnectionEnded() {
  ResumeAccepting();
}

void tWSListener::ResumeAccepting() {
  if (!AcceptPaused || !IsListening())
    return;
  AcceptPaused = false;
  wsock::WSAAsyncSelect(SocketHandle(), WindowHandle(), MsgSocketEvent, kListenEvents);
}

void tWSListener::DispatchSocketMessage(TMessage& message) {
  if (message.Msg != kMsgResumeAccepting) {
    TWSocket::DispatchSocketMessage(message);
    return;
  }
  ResumeAccepting();
}
