// IPv4 sockets and epoll for the built-in sockets module; see net.h.
#include "platform/src/posix/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwsplat::net {

namespace {

// Winsock numbers used here; the module's header holds the same values under their WSAE names.
constexpr int kWouldBlock = 10035;
constexpr int kInvalid = 10022;
constexpr int kNotSocket = 10038;
constexpr int kNoBuffers = 10055;
constexpr int kConnReset = 10054;
constexpr int kProtoNotAvailable = 10042;

Result Fail(int errnoValue) {
  return Result{-1, WinsockError(errnoValue)};
}
Result Value(long value) {
  return Result{value, 0};
}

sockaddr_in ToSockaddr(Inet4 address) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = address.Port;
  out.sin_addr.s_addr = address.Address;
  return out;
}

Inet4 FromSockaddr(const sockaddr_in& in) {
  if (in.sin_family != AF_INET)
    return Inet4{};
  return Inet4{in.sin_addr.s_addr, in.sin_port};
}

int SystemFlags(int flags) {
  int out = 0;
  if (flags & kMsgOob)
    out |= MSG_OOB;
  if (flags & kMsgPeek)
    out |= MSG_PEEK;
  if (flags & kMsgDontRoute)
    out |= MSG_DONTROUTE;
  return out;
}

struct OptionName {
  int Level;
  int Name;
};

OptionName SystemOption(Option option) {
  switch (option) {
  case Option::KeepAlive:
    return {SOL_SOCKET, SO_KEEPALIVE};
  case Option::Broadcast:
    return {SOL_SOCKET, SO_BROADCAST};
  case Option::DontRoute:
    return {SOL_SOCKET, SO_DONTROUTE};
  case Option::OobInline:
    return {SOL_SOCKET, SO_OOBINLINE};
  case Option::SendBuffer:
    return {SOL_SOCKET, SO_SNDBUF};
  case Option::ReceiveBuffer:
    return {SOL_SOCKET, SO_RCVBUF};
  case Option::Error:
    return {SOL_SOCKET, SO_ERROR};
  case Option::Type:
    return {SOL_SOCKET, SO_TYPE};
  case Option::NoDelay:
    return {IPPROTO_TCP, TCP_NODELAY};
  }
  return {-1, -1};
}

// Errors Linux reports from accept for connections that are already gone; the next one may be fine.
bool ConnectionAlreadyGone(int error) {
  switch (error) {
  case ECONNABORTED:
  case EPROTO:
  case ENETDOWN:
  case ENOPROTOOPT:
  case EHOSTDOWN:
  case ENONET:
  case EHOSTUNREACH:
  case EOPNOTSUPP:
  case ENETUNREACH:
  case ECONNRESET:
    return true;
  default:
    return false;
  }
}

uint32_t ReadyBits(uint32_t events) {
  uint32_t out = 0;
  if (events & EPOLLIN)
    out |= kReadyIn;
  if (events & EPOLLOUT)
    out |= kReadyOut;
  if (events & EPOLLERR)
    out |= kReadyError;
  if (events & EPOLLHUP)
    out |= kReadyHangUp;
  if (events & EPOLLRDHUP)
    out |= kReadyPeerClosed;
  return out;
}

constexpr uint32_t kWatched = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;

} // namespace

int WinsockError(int e) {
  switch (e) {
  case 0:
    return 0;
  case EINTR:
    return 10004;
  case EBADF:
    return kNotSocket;
  case EACCES:
  case EPERM:
    return 10013;
  case EFAULT:
    return 10014;
  case EINVAL:
    return kInvalid;
  case EMFILE:
  case ENFILE:
    return 10024;
  case EAGAIN:
    return kWouldBlock;
  case EINPROGRESS:
    return 10036;
  case EALREADY:
    return 10037;
  case ENOTSOCK:
    return kNotSocket;
  case EDESTADDRREQ:
    return 10039;
  case EMSGSIZE:
    return 10040;
  case EPROTOTYPE:
    return 10041;
  case ENOPROTOOPT:
    return kProtoNotAvailable;
  case EPROTONOSUPPORT:
    return 10043;
  case ESOCKTNOSUPPORT:
    return 10044;
  case EOPNOTSUPP:
    return 10045;
  case EPFNOSUPPORT:
    return 10046;
  case EAFNOSUPPORT:
    return 10047;
  case EADDRINUSE:
    return 10048;
  case EADDRNOTAVAIL:
    return 10049;
  case ENETDOWN:
    return 10050;
  case ENETUNREACH:
    return 10051;
  case ENETRESET:
    return 10052;
  case ECONNABORTED:
    return 10053;
  case ECONNRESET:
  case EPIPE:
    return kConnReset;
  case ENOBUFS:
  case ENOMEM:
    return kNoBuffers;
  case EISCONN:
    return 10056;
  case ENOTCONN:
    return 10057;
  case ESHUTDOWN:
    return 10058;
  case ETOOMANYREFS:
    return 10059;
  case ETIMEDOUT:
    return 10060;
  case ECONNREFUSED:
    return 10061;
  case ELOOP:
    return 10062;
  case ENAMETOOLONG:
    return 10063;
  case EHOSTDOWN:
    return 10064;
  case EHOSTUNREACH:
    return 10065;
  case ENOTEMPTY:
    return 10066;
  case EUSERS:
    return 10068;
  case EDQUOT:
    return 10069;
  case ESTALE:
    return 10070;
  case EREMOTE:
    return 10071;
  default:
    return kInvalid;
  }
}

Result OpenSocket(int type, int protocol) {
  int systemType = type == 1 ? SOCK_STREAM : type == 2 ? SOCK_DGRAM : SOCK_RAW;
  int fd = ::socket(AF_INET, systemType | SOCK_CLOEXEC, protocol);
  if (fd < 0)
    return Fail(errno);
  return Value(fd);
}

Result SetNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0)
    return Fail(errno);
  int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (wanted != flags && ::fcntl(fd, F_SETFL, wanted) < 0)
    return Fail(errno);
  return Value(0);
}

Result SetReuseAddress(int fd) {
  int one = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
    return Fail(errno);
  return Value(0);
}

Result Bind(int fd, Inet4 address) {
  sockaddr_in in = ToSockaddr(address);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in) < 0)
    return Fail(errno);
  return Value(0);
}

Result Listen(int fd, int backlog) {
  // The kernel caps any larger value at its own maximum (net.core.somaxconn).
  if (::listen(fd, backlog < 0 ? INT_MAX : backlog) < 0)
    return Fail(errno);
  return Value(0);
}

AcceptResult Accept(int fd, bool nonBlocking) {
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    int client = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, flags);
    if (client >= 0)
      return AcceptResult{client, FromSockaddr(peer), 0};
    int error = errno;
    if (error == EINTR || ConnectionAlreadyGone(error))
      continue;
    return AcceptResult{-1, Inet4{}, WinsockError(error)};
  }
}

Result Connect(int fd, Inet4 address) {
  sockaddr_in in = ToSockaddr(address);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0)
    return Value(0);
  int error = errno;
  if (error == EINPROGRESS)
    return Result{-1, kWouldBlock};
  if (error == EINTR)
    return FinishConnect(fd);
  return Fail(error);
}

Result FinishConnect(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  while (::poll(&entry, 1, -1) < 0) {
    if (errno != EINTR)
      return Fail(errno);
  }
  int error = TakeSocketError(fd);
  return error == 0 ? Value(0) : Result{-1, error};
}

Result Send(int fd, const void* data, size_t length, int flags) {
  for (;;) {
    ssize_t sent = ::send(fd, data, length, SystemFlags(flags) | MSG_NOSIGNAL);
    if (sent >= 0)
      return Value(sent);
    if (errno != EINTR)
      return Fail(errno);
  }
}

Result SendFile(int fd, int fileFd, uint64_t offset, size_t length) {
  off_t position = static_cast<off_t>(offset);
  for (;;) {
    ssize_t sent = ::sendfile(fd, fileFd, &position, length); // moves at most 0x7ffff000 bytes a call
    if (sent >= 0)
      return Value(sent);
    if (errno != EINTR)
      return Fail(errno);
  }
}

Result SendTo(int fd, const void* data, size_t length, int flags, Inet4 to) {
  sockaddr_in in = ToSockaddr(to);
  for (;;) {
    ssize_t sent = ::sendto(fd, data, length, SystemFlags(flags) | MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&in), sizeof in);
    if (sent >= 0)
      return Value(sent);
    if (errno != EINTR)
      return Fail(errno);
  }
}

Result Receive(int fd, void* buffer, size_t length, int flags) {
  // A zero-byte read waits for data as a one-byte peek would, but takes nothing.
  char probe = 0;
  if (length == 0) {
    buffer = &probe;
    length = 1;
    flags |= kMsgPeek;
  }
  for (;;) {
    ssize_t got = ::recv(fd, buffer, length, SystemFlags(flags));
    if (got >= 0)
      return Value(buffer == &probe ? 0 : got);
    if (errno != EINTR)
      return Fail(errno);
  }
}

Result ReceiveFrom(int fd, void* buffer, size_t length, int flags, Inet4* from) {
  for (;;) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    ssize_t got =
        ::recvfrom(fd, buffer, length, SystemFlags(flags), reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (got >= 0) {
      if (from)
        *from = FromSockaddr(peer);
      return Value(got);
    }
    if (errno != EINTR)
      return Fail(errno);
  }
}

Result Shutdown(int fd, int how) {
  int systemHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(fd, systemHow) < 0)
    return Fail(errno);
  return Value(0);
}

Result GetOption(int fd, Option option) {
  OptionName name = SystemOption(option);
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(fd, name.Level, name.Name, &value, &length) < 0)
    return Fail(errno);
  if (option == Option::Error)
    value = WinsockError(value);
  return Value(value);
}

Result SetOption(int fd, Option option, int value) {
  OptionName name = SystemOption(option);
  if (option == Option::Error || option == Option::Type)
    return Result{-1, kProtoNotAvailable};
  if (::setsockopt(fd, name.Level, name.Name, &value, sizeof value) < 0)
    return Fail(errno);
  return Value(0);
}

AddressResult LocalAddress(int fd) {
  sockaddr_in in{};
  socklen_t length = sizeof in;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length) < 0)
    return AddressResult{Inet4{}, WinsockError(errno)};
  return AddressResult{FromSockaddr(in), 0};
}

AddressResult PeerAddress(int fd) {
  sockaddr_in in{};
  socklen_t length = sizeof in;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&in), &length) < 0)
    return AddressResult{Inet4{}, WinsockError(errno)};
  return AddressResult{FromSockaddr(in), 0};
}

Result BytesReadable(int fd) {
  int count = 0;
  if (::ioctl(fd, FIONREAD, &count) < 0)
    return Fail(errno);
  return Value(count);
}

Result BytesUnacknowledged(int fd) {
  int count = 0;
  if (::ioctl(fd, SIOCOUTQ, &count) < 0)
    return Fail(errno);
  return Value(count);
}

Result AtOobMark(int fd) {
  char byte = 0;
  ssize_t got = ::recv(fd, &byte, 1, MSG_OOB | MSG_PEEK | MSG_DONTWAIT);
  if (got < 0 && errno == EINVAL)
    return Value(1); // no urgent byte announced
  return Value(0);
}

int TakeSocketError(int fd) {
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &length) < 0)
    return WinsockError(errno);
  return WinsockError(value);
}

bool PeerHasClosed(int fd) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) < 0)
    return true;
  switch (info.tcpi_state) {
  case TCP_CLOSE_WAIT:
  case TCP_LAST_ACK:
  case TCP_CLOSING:
  case TCP_TIME_WAIT:
  case TCP_CLOSE:
    return true;
  default:
    return false;
  }
}

uint32_t PollNow(int fd) {
  pollfd entry{fd, POLLIN | POLLOUT | POLLRDHUP, 0};
  int count;
  do {
    count = ::poll(&entry, 1, 0);
  } while (count < 0 && errno == EINTR);
  if (count <= 0)
    return 0;
  uint32_t out = 0;
  if (entry.revents & POLLIN)
    out |= kReadyIn;
  if (entry.revents & POLLOUT)
    out |= kReadyOut;
  if (entry.revents & POLLERR)
    out |= kReadyError;
  if (entry.revents & POLLHUP)
    out |= kReadyHangUp;
  if (entry.revents & POLLRDHUP)
    out |= kReadyPeerClosed;
  return out;
}

void MakeAbortive(int fd) {
  struct linger reset {
    1, 0
  };
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

void Close(int fd) {
  // Linux releases the descriptor even when close reports EINTR; retrying could close a reused number.
  ::close(fd);
}

bool WaitUnacknowledged(int fd, uint32_t milliseconds) {
  const uint64_t deadline = MonotonicMilliseconds() + milliseconds;
  for (;;) {
    Result waiting = BytesUnacknowledged(fd);
    if (!waiting.Ok() || waiting.Value == 0)
      return true;
    if (MonotonicMilliseconds() >= deadline)
      return false;
    // Acknowledgements raise no event a thread could wait for, so look again shortly.
    timespec pause{0, 5 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
}

uint64_t MonotonicMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

int EpollCreate() {
  return ::epoll_create1(EPOLL_CLOEXEC);
}

Result EpollAdd(int epoll, int fd, uint64_t key) {
  epoll_event event{};
  event.events = kWatched;
  event.data.u64 = key;
  if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) < 0)
    return Fail(errno);
  return Value(0);
}

Result EpollRearm(int epoll, int fd, uint64_t key) {
  epoll_event event{};
  event.events = kWatched;
  event.data.u64 = key;
  if (::epoll_ctl(epoll, EPOLL_CTL_MOD, fd, &event) < 0)
    return Fail(errno);
  return Value(0);
}

int EpollWait(int epoll, Event* events, int capacity) {
  constexpr int kBatch = 256;
  epoll_event raw[kBatch];
  int wanted = capacity < kBatch ? capacity : kBatch;
  int count = ::epoll_wait(epoll, raw, wanted, -1);
  if (count < 0)
    return 0;
  for (int i = 0; i < count; ++i)
    events[i] = Event{raw[i].data.u64, ReadyBits(raw[i].events)};
  return count;
}

} // namespace kwsplat::net
