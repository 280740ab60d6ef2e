#include "server/WSHThread.h"

#include <algorithm>

#include "server/HTTPTools.h"
#include "server/WSIOBase.h"
#include "server/WSListener.h"

tWSHThread::tWSHThread(tWSHandlerClass handlerClass, tWSListener& listener, SOCKET socket)
    : TThread(true, kStackSize), Handler(handlerClass(*this)), Socket(socket), Listener(&listener),
      ListenerAlive(listener.AliveToken) {
  FreeOnTerminate = true;
}

tWSHThread::~tWSHThread() = default;

void tWSHThread::RunOnMainThread(const std::function<void()>& f) {
  Synchronize(f);
}

DWORD tWSHThread::Timeout() const {
  const int32_t timeout = Handler->Settings ? Handler->Settings->ConnectTimeout : kDefaultTimeoutMs;
  return static_cast<DWORD>(timeout < 0 ? kDefaultTimeoutMs : timeout);
}

void tWSHThread::Execute() {
  if (Adopted) {
    const DWORD timeout = Timeout();
    WaitForSingleObject(Handler->ConnectedEvent, timeout);
    if (Handler->IsConnected()) {
      Serve(timeout);
      CloseGracefully(timeout);
    }
  }
  // The socket belongs to the main thread: it is closed and destroyed there, so no notification can reach it
  // afterwards.
  RunOnMainThread([this] {
    try {
      Handler->Close();
    } catch (const std::exception&) {
      // By design: a failing close still ends this connection; the handler goes and the listener re-arms.
    }
    Handler.reset();
    if (*ListenerAlive != nullptr)
      (*ListenerAlive)->ConnectionEnded();
  });
}

void tWSHThread::Adopt() {
  try {
    Handler->TakeSocket(Socket, *Listener);
    int length = sizeof PeerSockAddr;
    if (Handler->GetPeerSockAddr(reinterpret_cast<sockaddr*>(&PeerSockAddr), length) != 0)
      PeerSockAddr = sockaddr_in{};
    RemoteAddr = IPToStr(SwapBytes32(PeerSockAddr.sin_addr.s_addr));
    Adopted = true;
  } catch (const std::exception&) {
    // The handle could not be adopted: this connection ends as soon as the worker runs, the server goes on.
  }
}

void tWSHThread::Serve(DWORD timeout) {
  const DWORD progressWait = std::max(timeout, kMinProgressWaitMs);
  try {
    while (!Handler->IsDone() && !Handler->DispatchFailed) {
      if (Handler->RequestTaken && Handler->Producer) {
        const std::string later = Handler->TakeLaterBytes();
        if (!later.empty())
          Handler->Producer->HandleData(later);
      }
      // A reader that stopped taking a finished reply is cut off; a client still sending its request is not.
      if (Handler->ResponseComplete && Handler->MillisecondsWithoutProgress() > progressWait)
        return;
      if (Handler->IsDone())
        return;
      WaitForSingleObject(Handler->WakeEvent, kSafetyWaitMs);
    }
  } catch (const std::exception&) {
    // A failing request or producer ends this connection only; it is closed the ordinary way.
  }
}

// Sending side first, so the reply's last bytes go out before the end; the handle is closed (by Execute)
// once the peer has closed too, or after the time-out, when the system still delivers what it holds.
void tWSHThread::CloseGracefully(DWORD timeout) {
  if (!Handler->SendingShutDown)
    RunOnMainThread([this] {
      if (Handler->IsConnected() && Handler->AllSent && !Handler->SendingShutDown) {
        Handler->SendingShutDown = true;
        Handler->Shutdown(1);
      }
    });
  // A peer that closed already sends no second close notification.
  if (Handler->SendingShutDown && !Handler->PeerClosed)
    WaitForSingleObject(Handler->ClosedEvent, timeout);
}
