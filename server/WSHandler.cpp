#include "server/WSHandler.h"

#include <algorithm>

#include "platform/rtl/sysutils.h"
#include "server/HTTPTools.h"
#include "server/ProducerTable.h"
#include "server/WSHThread.h"
#include "server/WSIOBase.h"
#include "server/WSListener.h"
#include "socket/WinsockAPI.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kNoHandlerReply = "HTTP/1.0 200 OK\r\n\r\nKWS Error: NO HANDLER FOUND :(";
const char* const kNotDoneReply = "HTTP/1.0 200 OK\r\n\r\nKWS Error: NOT DONE YET :(";
constexpr int kReadBufferSize = 64 * 1024;

HANDLE NewEvent(bool manualReset, bool initiallySet) {
  HANDLE event = CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr);
  if (event == nullptr)
    RaiseLastOSError();
  return event;
}

void CloseEvent(HANDLE& event) {
  if (event != nullptr)
    CloseHandle(event);
  event = nullptr;
}

// ProcessRequest stays pending until the request has been dispatched, whichever way the call ends.
class tPendingUntilTaken {
public:
  explicit tPendingUntilTaken(tWSHandler& handler) : Handler(handler) { Handler.ProcessPending = false; }
  ~tPendingUntilTaken() { Handler.ProcessPending = !Handler.RequestTaken; }
  tPendingUntilTaken(const tPendingUntilTaken&) = delete;
  tPendingUntilTaken& operator=(const tPendingUntilTaken&) = delete;

private:
  tWSHandler& Handler;
};

} // namespace

tWSHandler::tWSHandler(tWSHThread& thread) : Thread(thread) {
  // Replies are files: blocks this large cost one system call per block instead of one per Ethernet frame.
  SendBlockSize = kReplyBlockSize;
  WakeEvent = NewEvent(false, false);
}

tWSHandler::~tWSHandler() {
  // No notification may reach the members below once they start to go.
  UnbindWindow();
  CloseEvent(ConnectedEvent);
  CloseEvent(ClosedEvent);
  Producer.reset();
  CloseEvent(WakeEvent);
}

bool tWSHandler::IsDone() const {
  return (RequestTaken && AllSent && ResponseComplete) || !IsConnected();
}

void tWSHandler::TakeSocket(SOCKET handle, tWSListener& listener) {
  ConnectedEvent = NewEvent(true, false);
  CloseEvent(ClosedEvent);
  Listener = &listener;
  Settings = listener.Settings;
  ProcessPending = true;
  RequestTaken = false;
  ResponseComplete = false;
  NoteProgress();
  // An accepted socket does not linger, so closing leaves the system to deliver what it still holds; left
  // unset, adoption makes no call to say so again.
  LingerOnOff = wsLingerNoSet;
  Dup(handle);
  // Made here, on the thread that changes the state, so that no change can fall before it exists.
  ClosedEvent = NewEvent(true, !IsConnected());
}

void tWSHandler::ProcessRequest() {
  tPendingUntilTaken pending(*this);
  // Also run from the peer's close notification: one request, one dispatch.
  if (RequestTaken || !IsConnected())
    return;
  switch (Reader.Examine(Received)) {
  case rvNeedMore:
    return;
  case rvRefuse:
    return Refuse(Reader.RefusalStatus);
  case rvDispatch:
    return DispatchRequest();
  }
}

// A producer that fails to start ends the connection: the worker closes it.
void tWSHandler::DispatchIfComplete() {
  if (!ProcessPending)
    return;
  try {
    ProcessRequest();
  } catch (const std::exception&) {
    DispatchFailed = true;
  }
}

void tWSHandler::DispatchRequest() {
  const tRequestLine& line = Reader.Line;
  Method = line.Method;
  Version = line.Version;
  URL = line.URL;
  Path = line.Path;
  Query = line.Query;
  Thread.SendConnectionClose = UpperCase(GetHeader("Connection")) != "CLOSE";

  const int32_t chosen = ChooseVDir(*Settings, Path);

  ResponseComplete = true;
  AllSent = false;
  if (chosen < 0) {
    SendText(kNoHandlerReply);
  } else if (const tWSIOClass producerClass = ProducerClassOf(Settings->VDirs[chosen].Kind)) {
    ResponseComplete = false;
    Producer = producerClass(*this, Settings->VDirs[chosen]);
    {
      std::lock_guard<std::mutex> lock(ReceivedLock);
      ForwardPos = static_cast<int32_t>(Received.size()) + 1;
    }
    Producer->HandleData(Received);
  } else {
    SendText(kNotDoneReply);
  }
  RequestTaken = true;
}

// A request that cannot be read, or too much to hold before dispatch: answer with the status and close; later
// bytes are dropped.
void tWSHandler::Refuse(int32_t code) {
  Thread.SendConnectionClose = true;
  ResponseComplete = true;
  AllSent = false;
  // The one status the table does not know stays here, so producers' own lookups keep their answer.
  const std::string reason = code == 431 ? "Request Header Fields Too Large" : ReasonPhrase(code);
  SendText(StatusHeaderLines(code, reason, true) + tWSIOBase::ContentLengthHeader(0) + "\r\n");
  RequestTaken = true;
}

int32_t tWSHandler::ChooseVDir(const tListenerData& settings, const std::string& path) {
  std::string prefixes;
  for (int32_t index = 0; index < settings.VDirCount; ++index)
    prefixes += UpperCase(Trim(settings.VDirs[index].VirtualPath)) + "\r\n";
  return FindLongestPrefix(UpperCase(path), prefixes);
}

std::string tWSHandler::GetHeader(const std::string& name) const {
  return HeaderValue(Received, name);
}

void tWSHandler::QueueReply(const std::string& text) {
  Thread.RunOnMainThread([this, &text] { QueueOnMainThread(text); });
}

void tWSHandler::QueueFile(HANDLE file, uint64_t length) {
  Thread.RunOnMainThread([this, file, length] {
    AllSent = false;
    if (IsConnected())
      SendFileSegment(file, 0, length);
    else
      CloseHandle(file);
  });
}

void tWSHandler::QueueOnMainThread(const std::string& text) {
  AllSent = false;
  if (IsConnected())
    SendText(text);
}

// The worker is woken only for what it acts on: the end of the exchange, later bytes, a change of state.
void tWSHandler::MarkResponseComplete() {
  ResponseComplete = true;
  if (IsDone())
    Wake();
}

std::string tWSHandler::TakeLaterBytes() {
  std::lock_guard<std::mutex> lock(ReceivedLock);
  std::string later;
  later.swap(Later);
  if (ReadingPaused) {
    ReadingPaused = false;
    // Registering again reports the bytes that waited meanwhile.
    ReadEvents(kSessionEvents);
  }
  return later;
}

void tWSHandler::ReadEvents(long events) {
  wsock::WSAAsyncSelect(SocketHandle(), WindowHandle(), MsgSocketEvent, events);
}

DWORD tWSHandler::MillisecondsWithoutProgress() const {
  return GetTickCount() - LastProgress;
}

bool tWSHandler::FireDataAvailable(WORD /*error*/) {
  if (WaitForProducer())
    return true;
  // Whatever waits is read even when the notification carries an error: left unread, it would be offered
  // again at once, and closing with unread bytes resets the connection. A read that fills the buffer is
  // followed by another, so no count of waiting bytes is needed first.
  if (!ReadBuffer)
    ReadBuffer = std::make_unique_for_overwrite<char[]>(kReadBufferSize);
  const int32_t read = Receive(ReadBuffer.get(), kReadBufferSize);
  if (read <= 0)
    return true;
  const bool later = TakeReceived(ReadBuffer.get(), static_cast<size_t>(read));
  // Dispatched here, as soon as the request is complete: the worker need not call over for it, and later
  // bytes go to the producer instead of piling up before it exists.
  DispatchIfComplete();
  // Once the request is taken only the reply's progress counts: a client that drips bytes while it never
  // reads is still cut off.
  if (!RequestTaken)
    NoteProgress();
  if (later || DispatchFailed || IsDone())
    Wake();
  return true;
}

// After dispatch the producer takes the later bytes; while it holds too many, the socket is left unread (and
// its read notifications off) so the client waits, and nothing is dropped.
bool tWSHandler::WaitForProducer() {
  if (!RequestTaken || !Producer)
    return false;
  std::lock_guard<std::mutex> lock(ReceivedLock);
  if (Later.size() < kMaxLaterBytes)
    return false;
  if (!ReadingPaused) {
    ReadingPaused = true;
    ReadEvents(kSessionEvents & ~FD_READ);
  }
  return true;
}

bool tWSHandler::TakeReceived(const char* bytes, size_t count) {
  std::lock_guard<std::mutex> lock(ReceivedLock);
  // Each read is examined at once, so what is held before dispatch stays within the reader's bounds and one
  // read more.
  if (!RequestTaken) {
    Received.append(bytes, count);
    return false;
  }
  // Without a producer (an error reply, a refusal) nothing takes them: they are dropped.
  if (!Producer)
    return false;
  Later.append(bytes, count);
  return true;
}

void tWSHandler::FireDataSent(WORD error) {
  if (error == 0)
    AllSent = true;
  // The whole reply is out: the sending side ends here at once, saving the worker a call to this thread.
  if (IsDone() && IsConnected() && !SendingShutDown) {
    SendingShutDown = true;
    Shutdown(1);
  }
  NoteProgress();
  if (IsDone())
    Wake();
}

void tWSHandler::FireSendData(int32_t /*bytesSent*/) {
  NoteProgress();
}

void tWSHandler::FireChangeState(TSocketState /*oldState*/, TSocketState newState) {
  Connected = newState == wsConnected;
  if (newState == wsConnected) {
    if (ConnectedEvent != nullptr)
      SetEvent(ConnectedEvent);
  } else {
    if (ClosedEvent != nullptr)
      SetEvent(ClosedEvent);
    if (Producer)
      Producer->ConnectionLost();
  }
  NoteProgress();
  Wake();
}

// A client may half-close right after its request: the request is answered all the same, and the worker
// closes once the reply is out or makes no progress for the time-out.
void tWSHandler::HandlePeerClose(WORD error) {
  if (error == 0 && IsConnected()) {
    DispatchIfComplete();
    if (RequestTaken && !IsDone()) {
      PeerClosed = true;
      Wake();
      return;
    }
  }
  TWSocket::HandlePeerClose(error);
}

void tWSHandler::Wake() {
  if (WakeEvent != nullptr)
    SetEvent(WakeEvent);
}

void tWSHandler::NoteProgress() {
  LastProgress = GetTickCount();
}
