// The WSAAsyncSelect notifier; see Notifier.h.
//
// Cost: a socket joins the epoll set once; every later change of what may be posted happens in user space
// under the socket's lock. An event that is disabled when its edge arrives leaves a mark, and the call that
// re-enables it (recv, send, accept) posts it when the mark or the call's own result says it still holds.
#include "platform/src/wsock32/Notifier.h"

#include <system_error>
#include <thread>

namespace kwsplat {

namespace {

constexpr uint32_t kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
// The order in which one look at a socket posts its events.
constexpr uint32_t kPostOrder[] = {FD_CONNECT, FD_READ, FD_WRITE, FD_ACCEPT, FD_CLOSE};
// Connections accepted ahead of the caller per listening socket; more wait in the kernel's queue.
constexpr size_t kBacklogLimit = 128;
constexpr int kEventBatch = 256;

// An event whose condition holds now: posted when registered and enabled (and then disabled), else marked.
bool Take(Socket& s, uint32_t event) {
  if (!(s.Mask & event))
    return false;
  if (s.Enabled & event) {
    s.Enabled &= ~event;
    return true;
  }
  s.Marks |= event;
  return false;
}

} // namespace

NotifierCounts NotifierStats() {
  Notifier& n = Notifier::Instance();
  return NotifierCounts{n.SystemCalls.load(std::memory_order_relaxed),
                        n.Notifications.load(std::memory_order_relaxed)};
}

Notifier& Notifier::Instance() {
  // Never destroyed: the thread runs until the process ends.
  static Notifier* instance = new Notifier;
  return *instance;
}

int Notifier::Start() {
  std::lock_guard<std::mutex> guard(StartLock);
  if (Epoll.load() >= 0)
    return 0;
  int epoll = net::EpollCreate();
  if (epoll < 0)
    return WSAENOBUFS;
  try {
    std::thread([this, epoll] { Run(epoll); }).detach();
  } catch (const std::system_error&) {
    net::Close(epoll);
    return WSAENOBUFS;
  }
  Epoll.store(epoll);
  return 0;
}

void Notifier::Run(int epoll) {
  net::Event events[kEventBatch];
  for (;;) {
    int count = net::EpollWait(epoll, events, kEventBatch);
    CountCall();
    for (int i = 0; i < count; ++i)
      Handle(static_cast<SOCKET>(events[i].Key), events[i].Ready);
  }
}

int Notifier::Register(SOCKET handle, Socket& s, HWND window, UINT message, long mask) {
  mask &= kAllEvents;
  if (mask != 0) {
    if (!IsWindow(window))
      return WSAEINVAL;
    if (int error = Start())
      return error;
    if (!s.NonBlocking) {
      net::Result mode = net::SetNonBlocking(s.Fd, true);
      if (!mode.Ok())
        return mode.Error;
      s.NonBlocking = true;
    }
  }
  s.Window = window;
  s.Message = message;
  s.Mask = mask;
  s.Enabled = kAllEvents;
  s.Marks = 0;
  s.CloseReported = false;
  if (mask == 0)
    return 0;
  if (s.ConnectUnreported && (mask & FD_CONNECT)) {
    s.ConnectUnreported = false;
    PostKeepingLastError(handle, s, FD_CONNECT, s.ConnectError);
  }
  // Joining, or re-arming an old member, queues an event for whatever holds already; the notifier posts it.
  int epoll = Epoll.load();
  net::Result joined = s.Joined ? net::EpollRearm(epoll, s.Fd, handle) : net::EpollAdd(epoll, s.Fd, handle);
  CountCall();
  if (!joined.Ok())
    return joined.Error;
  s.Joined = true;
  return 0;
}

void Notifier::Handle(SOCKET handle, uint32_t ready) {
  std::shared_ptr<Socket> s = Sockets().Find(handle);
  if (!s)
    return; // closed since the kernel reported it
  std::lock_guard<std::mutex> guard(s->Lock);
  if (!s->Registered())
    return;
  Errors errors;
  uint32_t events = ReadyEvents(*s, ready, errors);
  for (uint32_t event : kPostOrder) {
    if (!(events & event))
      continue;
    int error = event == FD_CONNECT ? errors.Connect : event == FD_CLOSE ? errors.Close : 0;
    Post(handle, *s, event, error);
  }
}

uint32_t Notifier::ReadyEvents(Socket& s, uint32_t ready, Errors& errors) {
  if (!s.IsStream()) {
    uint32_t events = 0;
    if ((ready & net::kReadyIn) && Take(s, FD_READ))
      events |= FD_READ;
    if ((ready & net::kReadyOut) && Take(s, FD_WRITE))
      events |= FD_WRITE;
    return events;
  }
  switch (s.Phase) {
  case SocketPhase::Listening:
    return ListenerEvents(s, ready);
  case SocketPhase::Connecting:
    return ConnectingEvents(s, ready, errors);
  case SocketPhase::Connected:
    return ConnectedEvents(s, ready, errors);
  case SocketPhase::Fresh:
    break; // an unconnected socket reports hang-up and room to write; neither means anything yet
  }
  return 0;
}

uint32_t Notifier::ListenerEvents(Socket& s, uint32_t ready) {
  // Linux marks a listening socket readable for a pending connection; Winsock posts neither read nor write.
  if (!(ready & (net::kReadyIn | net::kReadyError)) || !(s.Mask & FD_ACCEPT))
    return 0;
  FillBacklog(s);
  // A connection the notifier could not take (no descriptor left) is reported all the same, as Winsock
  // would: the caller's own accept then meets the error and can wait for descriptors, where silence would
  // leave the connection queued until another one arrives.
  if ((!s.Backlog.empty() || s.KernelMayHoldMore) && Take(s, FD_ACCEPT))
    return FD_ACCEPT;
  return 0;
}

uint32_t Notifier::ConnectingEvents(Socket& s, uint32_t ready, Errors& errors) {
  constexpr uint32_t kEnded = net::kReadyOut | net::kReadyError | net::kReadyHangUp;
  if (!(ready & kEnded))
    return 0;
  // The report may predate the connect call (a fresh socket looks writable and hung up), so look again.
  uint32_t now = net::PollNow(s.Fd);
  CountCall();
  if (!(now & kEnded))
    return 0;
  int error = net::TakeSocketError(s.Fd);
  CountCall();
  uint32_t events = ConnectResult(s, error);
  errors.Connect = error;
  if (error != 0)
    return events;
  return events | ConnectedEvents(s, now, errors);
}

uint32_t Notifier::ConnectResult(Socket& s, int error) {
  s.Phase = error == 0 ? SocketPhase::Connected : SocketPhase::Fresh;
  if (s.Registered() && (s.Mask & FD_CONNECT))
    return FD_CONNECT;
  s.ConnectUnreported = true;
  s.ConnectError = error;
  return 0;
}

uint32_t Notifier::ConnectedEvents(Socket& s, uint32_t ready, Errors& errors) {
  uint32_t events = 0;
  bool peerGone = false;
  if (!s.CloseReported) {
    if (ready & net::kReadyError) {
      int error = net::TakeSocketError(s.Fd);
      CountCall();
      if (error != 0) {
        errors.Close = error;
        s.ResetError = error;
        peerGone = true;
      }
    }
    if (!peerGone && (ready & (net::kReadyPeerClosed | net::kReadyHangUp))) {
      // Our own shutdown(SD_RECEIVE) also reports the read side closed; ask the connection's state then.
      if (s.ReceiveShut || !(ready & net::kReadyPeerClosed)) {
        peerGone = net::PeerHasClosed(s.Fd);
        CountCall();
      } else {
        peerGone = true;
      }
    }
  }
  if (ready & net::kReadyIn) {
    if (!(ready & net::kReadyPeerClosed) && !peerGone) {
      if (Take(s, FD_READ))
        events |= FD_READ;
    } else if (peerGone && (s.Mask & s.Enabled & FD_READ)) {
      // The end of the stream reads as readable too: only bytes still waiting earn a read before the close.
      net::Result waiting = net::BytesReadable(s.Fd);
      CountCall();
      if (waiting.Ok() && waiting.Value > 0 && Take(s, FD_READ))
        events |= FD_READ;
    }
  }
  if ((ready & net::kReadyOut) && errors.Close == 0 && !s.SendShut && Take(s, FD_WRITE))
    events |= FD_WRITE;
  if (peerGone) {
    s.CloseReported = true;
    if (s.Mask & FD_CLOSE)
      events |= FD_CLOSE;
  }
  return events;
}

void Notifier::FillBacklog(Socket& s) {
  while (s.Backlog.size() < kBacklogLimit) {
    net::AcceptResult accepted = net::Accept(s.Fd, s.NonBlocking);
    CountCall();
    if (accepted.Error != 0) {
      s.KernelMayHoldMore = accepted.Error != WSAEWOULDBLOCK;
      return;
    }
    s.Backlog.push_back(PendingConnection{accepted.Fd, accepted.Peer});
  }
  s.KernelMayHoldMore = true;
}

void Notifier::AfterReceive(SOCKET handle, Socket& s, bool filledBuffer) {
  bool again = filledBuffer || (s.Marks & FD_READ);
  if (!again && !s.IsStream() && s.Registered() && (s.Mask & FD_READ)) {
    // Datagrams arriving together raise one edge; whether another waits only a look can tell.
    again = (net::PollNow(s.Fd) & net::kReadyIn) != 0;
    CountCall();
  }
  s.Marks &= ~FD_READ;
  if (again && s.Registered() && (s.Mask & FD_READ)) {
    s.Enabled &= ~FD_READ;
    PostKeepingLastError(handle, s, FD_READ, 0);
    return;
  }
  s.Enabled |= FD_READ;
}

void Notifier::AfterSend(SOCKET handle, Socket& s, bool spaceRanOut) {
  if (!spaceRanOut)
    return;
  bool again = (s.Marks & FD_WRITE) != 0;
  s.Marks &= ~FD_WRITE;
  if (again && s.Registered() && (s.Mask & FD_WRITE)) {
    s.Enabled &= ~FD_WRITE;
    PostKeepingLastError(handle, s, FD_WRITE, 0);
    return;
  }
  s.Enabled |= FD_WRITE;
}

void Notifier::AfterAccept(SOCKET handle, Socket& s, bool failed) {
  if (!s.Registered() || !(s.Mask & FD_ACCEPT)) {
    s.Enabled |= FD_ACCEPT;
    return;
  }
  if (s.KernelMayHoldMore)
    FillBacklog(s);
  s.Marks &= ~FD_ACCEPT;
  // Connections the kernel still holds raise no new edge: unless the caller just met the error, it hears of
  // them now or never.
  const bool leftInKernel = s.KernelMayHoldMore && !failed;
  if (s.Backlog.empty() && !leftInKernel) {
    s.Enabled |= FD_ACCEPT;
    return;
  }
  s.Enabled &= ~FD_ACCEPT;
  PostKeepingLastError(handle, s, FD_ACCEPT, 0);
}

void Notifier::ConnectEnded(SOCKET handle, Socket& s, int error) {
  uint32_t events = ConnectResult(s, error);
  if (error == 0 && s.Registered() && (s.Mask & FD_WRITE) && (s.Enabled & FD_WRITE)) {
    s.Enabled &= ~FD_WRITE;
    events |= FD_WRITE;
  }
  for (uint32_t event : kPostOrder) {
    if (events & event)
      PostKeepingLastError(handle, s, event, event == FD_CONNECT ? error : 0);
  }
}

void Notifier::Post(SOCKET handle, Socket& s, uint32_t event, int error) {
  Notifications.fetch_add(1, std::memory_order_relaxed);
  // A window that vanished takes nothing; the message is dropped.
  PostMessageA(s.Window, s.Message, static_cast<WPARAM>(handle), WSAMAKESELECTREPLY(event, error));
}

void Notifier::PostKeepingLastError(SOCKET handle, Socket& s, uint32_t event, int error) {
  DWORD saved = GetLastError();
  Post(handle, s, event, error);
  SetLastError(saved);
}

} // namespace kwsplat
