#include "server/WSHandler.h"

#include <algorithm>

#include "platform/rtl/thread.h"
#include "platform/rtl/sysutils.h"
#include "server/HTTPTools.h"
#include "server/ProducerTable.h"
#include "server/WSIOBase.h"
#include "server/WSListener.h"
#include "socket/WinsockAPI.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kNoHandlerText = "KWS Error: NO HANDLER FOUND :(";
const char* const kNotDoneText = "KWS Error: NOT DONE YET :(";
constexpr int kReadBufferSize = 64 * 1024;

// A reply without a producer: the status line, the date, and the text, which a HEAD request does not get.
std::string FixedReply(const std::string& method, const char* text) {
  return "HTTP/1.0 200 OK\r\n" + tWSIOBase::DateHeader(CurrentUnixTime()) + "\r\n" +
         (method == "HEAD" ? "" : text);
}

} // namespace

// Work for the socket is handed to the main thread as a queued call, not a window message: the calls still
// run while the main thread waits at shutdown for plug-ins to finish, so their replies still go out.
tWSHandler::tWSHandler()
    : Body(kMaxLaterBytes,
           [this](bool reading) { ReadEvents(reading ? kSessionEvents : kSessionEvents & ~FD_READ); }),
      Reply(kMaxQueuedReplyBytes, [this] { OnMainThread(&tWSHandler::SendQueuedReply); }) {
  // Replies are files: blocks this large cost one system call per block instead of one per Ethernet frame.
  SendBlockSize = kReplyBlockSize;
  WakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (WakeEvent == nullptr)
    RaiseLastOSError();
}

tWSHandler::~tWSHandler() {
  // No notification may reach the members below once they start to go.
  UnbindWindow();
  Producer.reset();
  CloseHandle(WakeEvent);
}

void tWSHandler::TakeSocket(SOCKET handle, tWSListener& listener) {
  Listener = &listener;
  Reader = tRequestReader(listener.Settings->MaxBodySize);
  Dispatched.Settings = listener.Settings;
  Dispatched.Libraries = listener.Libraries;
  NoteProgress();
  // An accepted socket does not linger, so closing leaves the system to deliver what it still holds; left
  // unset, adoption makes no call to say so again.
  LingerOnOff = wsLingerNoSet;
  Dup(handle);
  LearnPeer();
}

// A peer whose address cannot be read any more is 0.0.0.0; the request is served all the same.
void tWSHandler::LearnPeer() {
  int length = sizeof Dispatched.PeerSockAddr;
  if (GetPeerSockAddr(reinterpret_cast<sockaddr*>(&Dispatched.PeerSockAddr), length) != 0)
    Dispatched.PeerSockAddr = sockaddr_in{};
  Dispatched.RemoteAddr = IPToStr(SwapBytes32(Dispatched.PeerSockAddr.sin_addr.s_addr));
}

void tWSHandler::ProcessRequest() {
  // Also run from the peer's close notification: one request, one dispatch.
  if (Phase != phReading)
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

// A producer that fails to start ends the connection.
void tWSHandler::DispatchIfComplete() {
  try {
    ProcessRequest();
  } catch (const std::exception&) {
    if (Phase != phClosed)
      SetPhase(phFailed);
  }
}

void tWSHandler::DispatchRequest() {
  const tRequestLine& line = Reader.Line;
  Dispatched.Method = line.Method;
  Dispatched.Version = line.Version;
  Dispatched.URL = line.URL;
  Dispatched.Path = line.Path;
  Dispatched.Query = line.Query;
  Dispatched.HeaderLength = Reader.HeaderLength;
  Dispatched.BodyLength = Reader.BodyLength;
  Dispatched.Received.swap(Received);
  // What followed the declared body is nobody's: dropped, as is every later byte past it.
  const size_t requestEnd = Reader.HeaderLength + Reader.BodyLength;
  if (Dispatched.Received.size() > requestEnd)
    Dispatched.Received.resize(requestEnd);
  Body.Begin(requestEnd - Dispatched.Received.size());
  Dispatched.SendConnectionClose = UpperCase(Dispatched.Header("Connection")) != "CLOSE";

  const int32_t chosen = ChooseVDir(*Dispatched.Settings, Dispatched.Path);
  const tWSIOClass producerClass =
      chosen < 0 ? nullptr : ProducerClassOf(Dispatched.Settings->VDirs[chosen].Kind);
  if (producerClass == nullptr) {
    SendText(FixedReply(Dispatched.Method, chosen < 0 ? kNoHandlerText : kNotDoneText));
    return Complete();
  }
  Producer = producerClass(*this, Dispatched.Settings->VDirs[chosen]);
  // A plug-in's code runs on the worker, never here: what it does holds up no other connection.
  const bool onWorker = Producer->UsesPlugin();
  StartOnWorker = onWorker;
  SetPhase(phProducing);
  if (onWorker)
    return Wake();
  Producer->HandleData(Dispatched.Received);
}

// A request that cannot be read, or too much to hold before dispatch: answer with the status and close; later
// bytes are dropped.
void tWSHandler::Refuse(int32_t code) {
  Dispatched.SendConnectionClose = true;
  // The one status the table does not know stays here, so producers' own lookups keep their answer.
  const std::string reason = code == 431 ? "Request Header Fields Too Large" : ReasonPhrase(code);
  SendText(StatusHeaderLines(code, reason, true) + tWSIOBase::ContentLengthHeader(0) +
           tWSIOBase::DateHeader(CurrentUnixTime()) + "\r\n");
  Complete();
}

int32_t tWSHandler::ChooseVDir(const tListenerData& settings, const std::string& path) {
  std::string prefixes;
  for (int32_t index = 0; index < settings.VDirCount; ++index)
    prefixes += UpperCase(Trim(settings.VDirs[index].VirtualPath)) + "\r\n";
  return FindLongestPrefix(UpperCase(path), prefixes);
}

// The main thread flushes right after it queues, so it needs no call of its own. A call is queued only by a
// thread that has the connection (its worker, or a plug-in's call the worker waits for before the connection
// ends), so it runs before the handler is destroyed, which is queued after it.
void tWSHandler::OnMainThread(void (tWSHandler::*step)()) {
  if (TThread::IsMainThread())
    return;
  TThread::Queue([this, step] {
    try {
      (this->*step)();
    } catch (Exception& e) {
      HandleBgException(e);
    }
  });
}

bool tWSHandler::QueueReply(const std::string& text) {
  // In pieces of a send block each, so that what waits stays within the queue's bound.
  for (size_t at = 0; at < text.size(); at += kReplyBlockSize) {
    tReplyQueue::tPiece piece{text.substr(at, kReplyBlockSize)};
    if (!Queue(piece))
      return false;
  }
  return true;
}

bool tWSHandler::QueueFile(HANDLE file, uint64_t length, uint64_t offset) {
  tReplyQueue::tPiece piece{"", file, length, offset};
  if (Queue(piece))
    return true;
  CloseHandle(file);
  return false;
}

// On the main thread nothing waits: the static producer queues a header and a file. Any other thread waits
// for room as long as the client goes on taking the reply.
bool tWSHandler::Queue(tReplyQueue::tPiece& piece) {
  if (TThread::IsMainThread()) {
    if (Reply.Put(piece, 0, true) != tReplyQueue::prQueued)
      return false;
    NoteProgress();
    SendQueuedReply();
    return true;
  }
  for (;;) {
    const DWORD idle = MillisecondsWithoutProgress();
    const DWORD limit = ProgressWaitMs();
    if (idle >= limit) {
      CutOff();
      return false;
    }
    switch (Reply.Put(piece, limit - idle)) {
    case tReplyQueue::prQueued:
      NoteProgress();
      return true;
    case tReplyQueue::prClosed:
      return false;
    case tReplyQueue::prFull:
      break;
    }
  }
}

void tWSHandler::SendQueuedReply() {
  while (SendQueue.size() < kMaxSocketBlocks) {
    std::optional<tReplyQueue::tPiece> piece = Reply.Take();
    if (!piece)
      break;
    if (!IsConnected()) {
      if (piece->File != nullptr)
        CloseHandle(piece->File);
      continue;
    }
    if (piece->File != nullptr)
      SendFileSegment(piece->File, piece->FileOffset, piece->FileLength);
    else
      SendText(piece->Text);
  }
  if (Reply.Drained())
    Complete();
}

void tWSHandler::MarkResponseComplete() {
  Reply.MarkComplete();
  if (TThread::IsMainThread())
    SendQueuedReply();
}

tBodyRead tWSHandler::ReadBody(void* buffer, size_t size, DWORD timeoutMs) {
  return Body.Read(buffer, size, timeoutMs);
}

void tWSHandler::CutOff() {
  CutOffFlag = true;
  EndExchange();
  if (TThread::IsMainThread())
    AbortIfConnected();
  else
    OnMainThread(&tWSHandler::AbortIfConnected);
  Wake();
}

void tWSHandler::AbortIfConnected() {
  if (IsConnected())
    Abort();
}

void tWSHandler::EndExchange() {
  Reply.Close();
  Body.End(true);
}

// Main thread: the reply is complete; it ends once it is out. The body's rest is read past from now on.
void tWSHandler::Complete() {
  if (Phase != phReading && Phase != phProducing)
    return;
  Body.End(true);
  SetPhase(phSending);
  EndWhenAllSent();
}

// The whole reply is out: the sending side ends at once, and a peer that ended its own already is done with.
void tWSHandler::EndWhenAllSent() {
  if (Phase != phSending || !AllSent())
    return;
  SetPhase(phSent);
  Shutdown(1);
  if (PeerHalfClosed)
    Close();
}

void tWSHandler::ReadEvents(long events) {
  wsock::WSAAsyncSelect(SocketHandle(), WindowHandle(), MsgSocketEvent, events);
}

DWORD tWSHandler::MillisecondsWithoutProgress() const {
  return GetTickCount() - LastProgress;
}

DWORD tWSHandler::ProgressWaitMs() const {
  return std::max(Dispatched.ConnectTimeoutMs(), kMinProgressWaitMs);
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
  if (TakeReceived(ReadBuffer.get(), static_cast<size_t>(read))) {
    EndBodyIfAllRead();
    Wake(); // later bytes: the worker hands them to the producer
    return true;
  }
  // Dispatched here, as soon as the request is complete: later bytes then go to the producer instead of
  // piling up before it exists. Until then the request's bytes count as progress; afterwards only the
  // reply's do, so a client that drips bytes while it never reads is still cut off.
  if (Phase == phReading)
    NoteProgress();
  DispatchIfComplete();
  return true;
}

// After dispatch the producer takes the body's bytes; while it holds too many, the socket is left unread (and
// its read notifications off) so the client waits, and nothing is dropped.
bool tWSHandler::WaitForProducer() {
  return Phase == phProducing && Producer && Body.PauseIfFull();
}

bool tWSHandler::TakeReceived(const char* bytes, size_t count) {
  BytesRead += count;
  // Each read is examined at once, so what is held before dispatch stays within the reader's bounds and one
  // read more.
  if (Phase == phReading) {
    Received.append(bytes, count);
    return false;
  }
  // After dispatch only the body's bytes are kept, and only while a producer may take them.
  return Body.Append(bytes, count) > 0;
}

void tWSHandler::FireDataSent(WORD error) {
  NoteProgress();
  if (error != 0)
    return;
  SendQueuedReply();
  EndWhenAllSent();
}

void tWSHandler::FireSendData(int32_t /*bytesSent*/) {
  NoteProgress();
}

void tWSHandler::FireChangeState(TSocketState /*oldState*/, TSocketState newState) {
  if (newState == wsConnected) {
    if (Phase == phClosed)
      SetPhase(phReading);
    return;
  }
  if (Phase == phClosed)
    return;
  SetPhase(phClosed);
  EndExchange();
  if (Producer)
    Producer->ConnectionLost();
}

// A client may half-close right after its request: the request is answered all the same, and the connection
// ends once the reply is out or the worker sees no progress for the time-out.
void tWSHandler::HandlePeerClose(WORD error) {
  if (error == 0 && IsConnected()) {
    DispatchIfComplete();
    if (Phase == phProducing || Phase == phSending) {
      PeerHalfClosed = true;
      EndBodyIfAllRead();
      return;
    }
  }
  TWSocket::HandlePeerClose(error);
}

// A client that ended its sending side sends no more of its body than what is still unread.
void tWSHandler::EndBodyIfAllRead() {
  if (PeerHalfClosed && RcvdCount() <= 0)
    Body.End(false);
}

// The worker acts only on the end of the connection: the phases before it move on without waking it (a
// worker that sleeps through phSent sees it on its next pass), except that a producer holding a plug-in
// lets go of it as soon as the reply is out.
void tWSHandler::SetPhase(tConnectionPhase phase) {
  Phase = phase;
  NoteProgress();
  if (phase >= phFailed || (phase == phSent && Producer && Producer->UsesPlugin()))
    Wake();
}

void tWSHandler::Wake() {
  SetEvent(WakeEvent);
}

void tWSHandler::NoteProgress() {
  LastProgress = GetTickCount();
}
