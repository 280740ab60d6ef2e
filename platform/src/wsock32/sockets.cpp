// The socket calls of the built-in "wsock32.dll": Winsock 1.1 over Linux sockets.
//
// Threads: a socket may be created on one thread and used or closed on others. Every call takes the socket's
// lock; a non-blocking call keeps it across its system call, so the notifier never sees a half-done change,
// while a blocking call lets it go and counts itself in BlockedCalls, so closesocket can wake it.
// The descriptor is closed only when the last user lets the socket go: a number in use is never reused.
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/src/KernelObjects.h"
#include "platform/src/wsock32/Notifier.h"
#include "platform/src/wsock32/Procedures.h"

namespace kwsplat {

namespace {

constexpr int kAddressLength = static_cast<int>(sizeof(sockaddr_in));

// The address of a call's sockaddr argument, or the Winsock error it deserves.
struct AddressArgument {
  net::Inet4 Address;
  int Error = 0;
};

AddressArgument ReadAddress(const sockaddr* name, int length) {
  if (name == nullptr || length < kAddressLength)
    return AddressArgument{{}, WSAEFAULT};
  sockaddr_in in;
  std::memcpy(&in, name, sizeof in);
  if (in.sin_family != AF_INET)
    return AddressArgument{{}, WSAEAFNOSUPPORT};
  return AddressArgument{net::Inet4{in.sin_addr.s_addr, in.sin_port}, 0};
}

void WriteAddress(net::Inet4 address, sockaddr* name, int* length) {
  if (name == nullptr || length == nullptr)
    return;
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = address.Port;
  out.sin_addr.s_addr = address.Address;
  std::memcpy(name, &out, sizeof out);
  *length = kAddressLength;
}

bool AddressBufferTooSmall(const sockaddr* name, const int* length) {
  return name != nullptr && (length == nullptr || *length < kAddressLength);
}

// Runs a system call on s: under its lock when non-blocking, otherwise with the lock let go for the wait.
// A blocking call cut short by closesocket answers 10004, as Winsock's cancelled calls do.
template <class Call> net::Result CallOn(Socket& s, std::unique_lock<std::mutex>& lock, Call call) {
  if (s.NonBlocking)
    return call();
  s.BlockedCalls.fetch_add(1);
  lock.unlock();
  net::Result result = call();
  lock.lock();
  s.BlockedCalls.fetch_sub(1);
  if (s.Closed && !result.Ok())
    result.Error = WSAEINTR;
  return result;
}

SOCKET AddSocket(int fd, int type, SocketPhase phase, bool nonBlocking) {
  auto s = std::make_shared<Socket>(fd, type);
  s->Phase = phase;
  s->NonBlocking = nonBlocking;
  s->Bound = phase == SocketPhase::Connected;
  return static_cast<SOCKET>(Sockets().Add(std::move(s)));
}

// connect while an attempt runs (s.Lock held): 10037 until it ends, then its outcome, which also ends the
// attempt for the notifier.
int ConnectAgain(SOCKET handle, Socket& s, net::Inet4 address) {
  if (!s.NonBlocking)
    return WinsockFail(WSAEALREADY); // another thread waits in its blocking connect
  net::Result again = net::Connect(s.Fd, address);
  if (again.Error == WSAEALREADY || again.Error == WSAEWOULDBLOCK)
    return WinsockFail(WSAEALREADY);
  int outcome = again.Ok() || again.Error == WSAEISCONN ? 0 : again.Error;
  Notifier::Instance().ConnectEnded(handle, s, outcome);
  return WinsockFail(outcome == 0 ? WSAEISCONN : outcome);
}

int Result(net::Result result) {
  if (!result.Ok())
    return WinsockFail(result.Error);
  return static_cast<int>(result.Value);
}

// The lock of a live socket, or the Winsock error for one closed meanwhile.
#define KWS_LOCK_OPEN(s, lock)                                                                               \
  std::unique_lock<std::mutex> lock((s)->Lock);                                                              \
  if ((s)->Closed)                                                                                           \
  return WinsockFail(WSAENOTSOCK)

} // namespace

HandleTable<Socket>& Sockets() {
  static auto* table = new HandleTable<Socket>(0x100, 4); // never destroyed: threads may outlive exit
  return *table;
}

Socket::~Socket() {
  for (const PendingConnection& pending : Backlog) {
    net::MakeAbortive(pending.Fd);
    net::Close(pending.Fd);
  }
  net::Close(Fd);
}

SOCKET WSAAPI ws_socket(int af, int type, int protocol) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return INVALID_SOCKET;
  }
  if (af != AF_INET) {
    WinsockFail(WSAEAFNOSUPPORT);
    return INVALID_SOCKET;
  }
  if (type != SOCK_STREAM && type != SOCK_DGRAM && type != SOCK_RAW) {
    WinsockFail(WSAESOCKTNOSUPPORT);
    return INVALID_SOCKET;
  }
  net::Result opened = net::OpenSocket(type, protocol);
  if (!opened.Ok()) {
    WinsockFail(opened.Error);
    return INVALID_SOCKET;
  }
  return AddSocket(static_cast<int>(opened.Value), type, SocketPhase::Fresh, false);
}

int WSAAPI ws_bind(SOCKET handle, const sockaddr* name, int namelen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  AddressArgument address = ReadAddress(name, namelen);
  if (address.Error)
    return WinsockFail(address.Error);
  KWS_LOCK_OPEN(s, lock);
  if (s->Bound)
    return WinsockFail(WSAEINVAL);
  // Linux's SO_REUSEADDR gives Winsock's rule: ports held only by closed connections bind again.
  if (s->IsStream()) {
    net::Result reuse = net::SetReuseAddress(s->Fd);
    if (!reuse.Ok())
      return WinsockFail(reuse.Error);
  }
  net::Result bound = net::Bind(s->Fd, address.Address);
  if (!bound.Ok())
    return WinsockFail(bound.Error);
  s->Bound = true;
  return 0;
}

int WSAAPI ws_listen(SOCKET handle, int backlog) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  KWS_LOCK_OPEN(s, lock);
  if (!s->IsStream())
    return WinsockFail(WSAEOPNOTSUPP);
  if (s->Phase == SocketPhase::Connected || s->Phase == SocketPhase::Connecting)
    return WinsockFail(WSAEISCONN);
  if (!s->Bound)
    return WinsockFail(WSAEINVAL);
  // Winsock 1.1's SOMAXCONN is a literal 5, which drops connections under modest load: take the maximum.
  int wanted = backlog == SOMAXCONN ? -1 : backlog < 0 ? 0 : backlog;
  net::Result listening = net::Listen(s->Fd, wanted);
  if (!listening.Ok())
    return WinsockFail(listening.Error);
  s->Phase = SocketPhase::Listening;
  return 0;
}

SOCKET WSAAPI ws_accept(SOCKET handle, sockaddr* addr, int* addrlen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return INVALID_SOCKET;
  if (AddressBufferTooSmall(addr, addrlen)) {
    WinsockFail(WSAEFAULT);
    return INVALID_SOCKET;
  }
  std::unique_lock<std::mutex> lock(s->Lock);
  if (s->Closed || s->Phase != SocketPhase::Listening) {
    WinsockFail(s->Closed ? WSAENOTSOCK : WSAEINVAL);
    return INVALID_SOCKET;
  }
  Notifier& notifier = Notifier::Instance();
  PendingConnection taken;
  if (!s->Backlog.empty()) {
    taken = s->Backlog.front();
    s->Backlog.pop_front();
    if (!s->NonBlocking)
      net::SetNonBlocking(taken.Fd, false); // taken ahead while the listener was non-blocking
  } else {
    s->Marks &= ~FD_ACCEPT;
    net::AcceptResult accepted;
    bool nonBlocking = s->NonBlocking;
    CallOn(*s, lock, [&] {
      accepted = net::Accept(s->Fd, nonBlocking);
      return net::Result{accepted.Fd, accepted.Error};
    });
    if (accepted.Error != 0) {
      notifier.AfterAccept(handle, *s, true);
      WinsockFail(s->Closed ? WSAEINTR : accepted.Error);
      return INVALID_SOCKET;
    }
    taken = PendingConnection{accepted.Fd, accepted.Peer};
  }
  notifier.AfterAccept(handle, *s, false);
  bool nonBlocking = s->NonBlocking;
  lock.unlock();
  SOCKET client = AddSocket(taken.Fd, SOCK_STREAM, SocketPhase::Connected, nonBlocking);
  WriteAddress(taken.Peer, addr, addrlen);
  return client;
}

int WSAAPI ws_connect(SOCKET handle, const sockaddr* name, int namelen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  AddressArgument address = ReadAddress(name, namelen);
  if (address.Error)
    return WinsockFail(address.Error);
  KWS_LOCK_OPEN(s, lock);
  if (!s->IsStream()) {
    net::Result connected = net::Connect(s->Fd, address.Address);
    if (connected.Ok())
      s->Bound = true;
    return Result(connected);
  }
  if (address.Address.Address == 0 || address.Address.Port == 0)
    return WinsockFail(WSAEADDRNOTAVAIL);
  switch (s->Phase) {
  case SocketPhase::Listening:
    return WinsockFail(WSAEINVAL);
  case SocketPhase::Connected:
    return WinsockFail(WSAEISCONN);
  case SocketPhase::Connecting:
    return ConnectAgain(handle, *s, address.Address);
  case SocketPhase::Fresh:
    break;
  }
  s->Phase = SocketPhase::Connecting;
  bool nonBlocking = s->NonBlocking;
  net::Result connected = CallOn(*s, lock, [&] { return net::Connect(s->Fd, address.Address); });
  if (s->Closed)
    return Result(connected);
  if (nonBlocking && connected.Error == WSAEWOULDBLOCK) {
    s->Bound = true;
    return WinsockFail(WSAEWOULDBLOCK); // the notifier reports the end of the attempt
  }
  if (!connected.Ok()) {
    s->Phase = SocketPhase::Fresh;
    return WinsockFail(connected.Error);
  }
  s->Bound = true;
  if (nonBlocking)
    Notifier::Instance().ConnectEnded(handle, *s, 0);
  else
    s->Phase = SocketPhase::Connected;
  return 0;
}

int WSAAPI ws_send(SOCKET handle, const char* buf, int len, int flags) {
  return ws_sendto(handle, buf, len, flags, nullptr, 0);
}

int WSAAPI ws_sendto(SOCKET handle, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  if (len < 0 || (buf == nullptr && len > 0))
    return WinsockFail(WSAEFAULT);
  if (flags & ~(MSG_OOB | MSG_DONTROUTE))
    return WinsockFail(WSAEOPNOTSUPP);
  // A connection's peer is fixed: Winsock ignores the address then.
  AddressArgument address;
  bool addressed = to != nullptr && !s->IsStream();
  if (addressed) {
    address = ReadAddress(to, tolen);
    if (address.Error)
      return WinsockFail(address.Error);
  }
  KWS_LOCK_OPEN(s, lock);
  if (s->SendShut)
    return WinsockFail(WSAESHUTDOWN);
  if (s->IsStream() && (s->Phase == SocketPhase::Fresh || s->Phase == SocketPhase::Listening))
    return WinsockFail(WSAENOTCONN);
  Notifier& notifier = Notifier::Instance();
  notifier.BeforeSend(*s);
  net::Result sent = CallOn(*s, lock, [&] {
    return addressed ? net::SendTo(s->Fd, buf, static_cast<size_t>(len), flags, address.Address)
                     : net::Send(s->Fd, buf, static_cast<size_t>(len), flags);
  });
  if (sent.Error == WSAECONNRESET && s->ResetError != 0)
    sent.Error = s->ResetError;
  if (sent.Ok() && !s->IsStream())
    s->Bound = true;
  notifier.AfterSend(handle, *s, sent.Error == WSAEWOULDBLOCK || (sent.Ok() && sent.Value < len));
  return Result(sent);
}

int WSAAPI ws_KwsSendFile(SOCKET handle, HANDLE file, DWORD offsetLow, DWORD offsetHigh, int len) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  const OpenFileRef source = FindOpenFile(file);
  if (len < 0 || source.Fd < 0)
    return WinsockFail(WSAEFAULT);
  KWS_LOCK_OPEN(s, lock);
  if (s->SendShut)
    return WinsockFail(WSAESHUTDOWN);
  if (!s->IsStream() || s->Phase == SocketPhase::Fresh || s->Phase == SocketPhase::Listening)
    return WinsockFail(WSAENOTCONN);
  const uint64_t offset = (uint64_t{offsetHigh} << 32) | offsetLow;
  Notifier& notifier = Notifier::Instance();
  notifier.BeforeSend(*s);
  net::Result sent =
      CallOn(*s, lock, [&] { return net::SendFile(s->Fd, source.Fd, offset, static_cast<size_t>(len)); });
  if (sent.Error == WSAECONNRESET && s->ResetError != 0)
    sent.Error = s->ResetError;
  // The end of the file counts as no short send: no write notification is owed for it.
  notifier.AfterSend(handle, *s,
                     sent.Error == WSAEWOULDBLOCK || (sent.Ok() && sent.Value > 0 && sent.Value < len));
  return Result(sent);
}

int WSAAPI ws_recv(SOCKET handle, char* buf, int len, int flags) {
  return ws_recvfrom(handle, buf, len, flags, nullptr, nullptr);
}

int WSAAPI ws_recvfrom(SOCKET handle, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  if (len < 0 || (buf == nullptr && len > 0))
    return WinsockFail(WSAEFAULT);
  if (flags & ~(MSG_OOB | MSG_PEEK))
    return WinsockFail(WSAEOPNOTSUPP);
  bool wantsSender = from != nullptr && !s->IsStream();
  if (wantsSender && AddressBufferTooSmall(from, fromlen))
    return WinsockFail(WSAEFAULT);
  KWS_LOCK_OPEN(s, lock);
  if (s->ReceiveShut)
    return WinsockFail(WSAESHUTDOWN);
  if (s->IsStream() && s->Phase == SocketPhase::Listening)
    return WinsockFail(WSAENOTCONN);
  Notifier& notifier = Notifier::Instance();
  notifier.BeforeReceive(*s);
  net::Inet4 sender;
  net::Result got = CallOn(*s, lock, [&] {
    return wantsSender ? net::ReceiveFrom(s->Fd, buf, static_cast<size_t>(len), flags, &sender)
                       : net::Receive(s->Fd, buf, static_cast<size_t>(len), flags);
  });
  // A reset the notifier already read from the kernel would otherwise look like the end of the stream.
  if (got.Ok() && got.Value == 0 && len > 0 && s->ResetError != 0)
    got = net::Result{-1, s->ResetError};
  notifier.AfterReceive(handle, *s, got.Ok() && len > 0 && got.Value == len);
  if (got.Ok() && wantsSender)
    WriteAddress(sender, from, fromlen);
  return Result(got);
}

int WSAAPI ws_shutdown(SOCKET handle, int how) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH)
    return WinsockFail(WSAEINVAL);
  KWS_LOCK_OPEN(s, lock);
  if (s->IsStream() && s->Phase != SocketPhase::Connected && s->Phase != SocketPhase::Connecting)
    return WinsockFail(WSAENOTCONN);
  // Done already: a graceful close after the sending side was shut costs no second call.
  if (how == SD_SEND && s->SendShut)
    return 0;
  net::Result done = net::Shutdown(s->Fd, how);
  if (!done.Ok())
    return WinsockFail(done.Error);
  if (how != SD_RECEIVE)
    s->SendShut = true;
  if (how != SD_SEND)
    s->ReceiveShut = true;
  return 0;
}

int WSAAPI ws_closesocket(SOCKET handle) {
  if (!WinsockStarted())
    return WinsockFail(WSANOTINITIALISED);
  return CloseSocket(handle, false);
}

int CloseSocket(SOCKET handle, bool atOnce) {
  std::shared_ptr<Socket> s = Sockets().Find(handle);
  if (!s)
    return WinsockFail(WSAENOTSOCK);
  KWS_LOCK_OPEN(s, lock);
  bool abortive = false;
  if (s->LingerOn && s->IsStream() && s->Phase == SocketPhase::Connected) {
    abortive = s->LingerSeconds == 0 || atOnce;
    if (!abortive) {
      const uint32_t lingerMs = s->LingerSeconds * 1000u;
      if (s->NonBlocking) {
        // Winsock's non-blocking lingering close: not yet while the peer has not taken everything.
        net::Result waiting = net::BytesUnacknowledged(s->Fd);
        uint64_t now = net::MonotonicMilliseconds();
        if (waiting.Ok() && waiting.Value > 0) {
          if (s->LingerDeadline == 0)
            s->LingerDeadline = now + lingerMs;
          if (now < s->LingerDeadline)
            return WinsockFail(WSAEWOULDBLOCK);
          abortive = true;
        }
      } else {
        s->BlockedCalls.fetch_add(1);
        lock.unlock();
        bool taken = net::WaitUnacknowledged(s->Fd, lingerMs);
        lock.lock();
        s->BlockedCalls.fetch_sub(1);
        if (s->Closed)
          return WinsockFail(WSAENOTSOCK);
        abortive = !taken;
      }
    }
  }
  // From here nothing more is posted for the socket and no call finds it.
  s->Closed = true;
  s->Mask = 0;
  std::deque<PendingConnection> backlog = std::move(s->Backlog);
  s->Backlog.clear();
  if (abortive)
    net::MakeAbortive(s->Fd);
  if (s->BlockedCalls.load() > 0)
    net::Shutdown(s->Fd, SD_BOTH); // wakes the waiting calls; the descriptor closes after them
  lock.unlock();
  Sockets().Remove(handle);
  for (const PendingConnection& pending : backlog) {
    net::MakeAbortive(pending.Fd);
    net::Close(pending.Fd);
  }
  return 0;
}

int WSAAPI ws_getsockname(SOCKET handle, sockaddr* name, int* namelen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  if (name == nullptr || AddressBufferTooSmall(name, namelen))
    return WinsockFail(WSAEFAULT);
  KWS_LOCK_OPEN(s, lock);
  if (!s->Bound)
    return WinsockFail(WSAEINVAL);
  net::AddressResult local = net::LocalAddress(s->Fd);
  if (local.Error)
    return WinsockFail(local.Error);
  WriteAddress(local.Address, name, namelen);
  return 0;
}

int WSAAPI ws_getpeername(SOCKET handle, sockaddr* name, int* namelen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  if (name == nullptr || AddressBufferTooSmall(name, namelen))
    return WinsockFail(WSAEFAULT);
  KWS_LOCK_OPEN(s, lock);
  net::AddressResult peer = net::PeerAddress(s->Fd);
  if (peer.Error)
    return WinsockFail(peer.Error);
  WriteAddress(peer.Address, name, namelen);
  return 0;
}

int WSAAPI ws_WSAAsyncSelect(SOCKET handle, HWND hWnd, u_int wMsg, long lEvent) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  KWS_LOCK_OPEN(s, lock);
  if (int error = Notifier::Instance().Register(handle, *s, hWnd, wMsg, lEvent))
    return WinsockFail(error);
  return 0;
}

} // namespace kwsplat
