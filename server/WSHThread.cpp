#include "server/WSHThread.h"

#include <algorithm>

#include "server/WSIOBase.h"
#include "server/WSListener.h"

tWSHThread::tWSHThread(tWSHandlerClass handlerClass, tWSListener& listener, SOCKET socket)
    : TThread(true, kStackSize), Handler(handlerClass()), Socket(socket), Listener(&listener),
      ListenerAlive(listener.AliveToken) {
  FreeOnTerminate = true;
}

tWSHThread::~tWSHThread() = default;

void tWSHThread::Adopt() {
  try {
    Handler->TakeSocket(Socket, *Listener);
  } catch (const std::exception&) {
    // The handle could not be adopted: this connection ends as soon as the worker runs, the server goes on.
  }
}

void tWSHThread::Execute() {
  if (Handler->IsConnected()) {
    Serve();
    // The producer's work is over: writes and reads of its plug-in still waiting return, and it lets go of
    // the plug-in here, at once (so that a listener that goes meanwhile can unload it), and on the worker,
    // where waiting for a plug-in's call in progress to return blocks no other connection. It was set before
    // the phase left phReading.
    Handler->EndExchange();
    if (Handler->Phase != phReading && Handler->Producer)
      Handler->Producer->ConnectionEnding();
    AwaitPeerClose(Handler->Request().ConnectTimeoutMs());
  }
  // The socket belongs to the main thread: it is closed and destroyed there, so no notification can reach it
  // afterwards. The worker does not wait for that.
  // The queued call holds the only reference: a copy left here could be the last one, if the main thread ran
  // the call before this thread returned, and the handler would go on this thread.
  TThread::Queue(
      [handler = std::shared_ptr<tWSHandler>(std::move(Handler)), alive = ListenerAlive]() mutable {
        try {
          handler->Close();
        } catch (const std::exception&) {
          // By design: a failing close still ends this connection; the handler goes and the listener re-arms.
        }
        handler.reset();
        if (*alive != nullptr)
          (*alive)->ConnectionEnded();
      });
}

void tWSHThread::Serve() {
  const DWORD progressWait = Handler->ProgressWaitMs();
  try {
    for (;;) {
      const tConnectionPhase phase = Handler->Phase;
      if (phase >= phSent || Handler->CutOffAsked())
        return;
      DWORD wait = kSafetyWaitMs;
      if (phase != phReading)
        wait = std::min(wait, HandOver());
      // A reader that stopped taking a finished reply is cut off; a client still sending its request is not.
      if (phase == phSending && Handler->MillisecondsWithoutProgress() > progressWait)
        return;
      WaitForSingleObject(Handler->WakeEvent, wait);
    }
  } catch (const std::exception&) {
    // A failing producer ends this connection only; it is closed the ordinary way.
  }
}

DWORD tWSHThread::HandOver() {
  tWSIOBase* producer = Handler->Producer.get();
  if (producer == nullptr)
    return INFINITE;
  if (Handler->TakeStart())
    producer->HandleData(Handler->Request().Received);
  if (!producer->ReadsBodyItself()) {
    const std::string later = Handler->TakeLaterBytes();
    if (!later.empty())
      producer->HandleData(later);
  }
  return producer->Poll();
}

// The reply is out and the sending side shut down: the handle is closed once the peer has closed too, or
// after the time-out, when the system still delivers what it holds.
void tWSHThread::AwaitPeerClose(DWORD timeout) {
  const DWORD start = GetTickCount();
  while (Handler->Phase == phSent) {
    const DWORD waited = GetTickCount() - start;
    if (waited >= timeout)
      return;
    WaitForSingleObject(Handler->WakeEvent, timeout - waited);
  }
}
