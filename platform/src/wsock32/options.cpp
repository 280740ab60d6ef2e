// Socket options and modes of the built-in "wsock32.dll": setsockopt, getsockopt and ioctlsocket.
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/src/wsock32/Notifier.h"
#include "platform/src/wsock32/Procedures.h"

namespace kwsplat {

namespace {

// The Linux option behind a Winsock one that passes straight through, if any.
std::optional<net::Option> PlainOption(int level, int name) {
  if (level == IPPROTO_TCP)
    return name == TCP_NODELAY ? std::optional(net::Option::NoDelay) : std::nullopt;
  if (level != SOL_SOCKET)
    return std::nullopt;
  switch (name) {
  case SO_KEEPALIVE:
    return net::Option::KeepAlive;
  case SO_BROADCAST:
    return net::Option::Broadcast;
  case SO_DONTROUTE:
    return net::Option::DontRoute;
  case SO_OOBINLINE:
    return net::Option::OobInline;
  case SO_SNDBUF:
    return net::Option::SendBuffer;
  case SO_RCVBUF:
    return net::Option::ReceiveBuffer;
  case SO_ERROR:
    return net::Option::Error;
  case SO_TYPE:
    return net::Option::Type;
  default:
    return std::nullopt;
  }
}

// A BOOL or int option value; Winsock takes a single byte for a BOOL too.
std::optional<int> ReadInt(const char* value, int length) {
  if (value == nullptr || length < 1)
    return std::nullopt;
  if (length < static_cast<int>(sizeof(int)))
    return static_cast<int>(static_cast<unsigned char>(value[0]));
  int out = 0;
  std::memcpy(&out, value, sizeof out);
  return out;
}

int WriteInt(int value, char* out, int* length) {
  if (out == nullptr || length == nullptr || *length < static_cast<int>(sizeof(int)))
    return WinsockFail(WSAEFAULT);
  std::memcpy(out, &value, sizeof value);
  *length = sizeof value;
  return 0;
}

} // namespace

int WSAAPI ws_setsockopt(SOCKET handle, int level, int optname, const char* optval, int optlen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  std::lock_guard<std::mutex> lock(s->Lock);
  if (s->Closed)
    return WinsockFail(WSAENOTSOCK);
  if (level == SOL_SOCKET && optname == SO_LINGER) {
    // Winsock's linger is two 16-bit fields; it takes effect at closesocket.
    LINGER linger;
    if (optval == nullptr || optlen < static_cast<int>(sizeof linger))
      return WinsockFail(WSAEFAULT);
    std::memcpy(&linger, optval, sizeof linger);
    s->LingerOn = linger.l_onoff != 0;
    s->LingerSeconds = linger.l_linger;
    return 0;
  }
  std::optional<int> value = ReadInt(optval, optlen);
  if (level == SOL_SOCKET && (optname == SO_DONTLINGER || optname == SO_REUSEADDR)) {
    if (!value)
      return WinsockFail(WSAEFAULT);
    if (optname == SO_DONTLINGER)
      s->LingerOn = *value == 0;
    else
      s->ReuseAddress = *value != 0;
    return 0;
  }
  std::optional<net::Option> option = PlainOption(level, optname);
  if (!option || *option == net::Option::Error || *option == net::Option::Type)
    return WinsockFail(WSAENOPROTOOPT);
  if (!value)
    return WinsockFail(WSAEFAULT);
  net::Result set = net::SetOption(s->Fd, *option, *value);
  return set.Ok() ? 0 : WinsockFail(set.Error);
}

int WSAAPI ws_getsockopt(SOCKET handle, int level, int optname, char* optval, int* optlen) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  std::lock_guard<std::mutex> lock(s->Lock);
  if (s->Closed)
    return WinsockFail(WSAENOTSOCK);
  if (level == SOL_SOCKET) {
    switch (optname) {
    case SO_LINGER: {
      LINGER linger{static_cast<uint16_t>(s->LingerOn ? 1 : 0), s->LingerSeconds};
      if (optval == nullptr || optlen == nullptr || *optlen < static_cast<int>(sizeof linger))
        return WinsockFail(WSAEFAULT);
      std::memcpy(optval, &linger, sizeof linger);
      *optlen = sizeof linger;
      return 0;
    }
    case SO_DONTLINGER:
      return WriteInt(s->LingerOn ? 0 : 1, optval, optlen);
    case SO_REUSEADDR:
      return WriteInt(s->ReuseAddress ? 1 : 0, optval, optlen);
    case SO_ACCEPTCONN:
      return WriteInt(s->Phase == SocketPhase::Listening ? 1 : 0, optval, optlen);
    default:
      break;
    }
  }
  std::optional<net::Option> option = PlainOption(level, optname);
  if (!option)
    return WinsockFail(WSAENOPROTOOPT);
  if (optval == nullptr || optlen == nullptr || *optlen < static_cast<int>(sizeof(int)))
    return WinsockFail(WSAEFAULT);
  net::Result got = net::GetOption(s->Fd, *option);
  if (!got.Ok())
    return WinsockFail(got.Error);
  return WriteInt(static_cast<int>(got.Value), optval, optlen);
}

int WSAAPI ws_ioctlsocket(SOCKET handle, long cmd, u_long* argp) {
  std::shared_ptr<Socket> s = UseSocket(handle);
  if (!s)
    return SOCKET_ERROR;
  if (argp == nullptr)
    return WinsockFail(WSAEFAULT);
  std::lock_guard<std::mutex> lock(s->Lock);
  if (s->Closed)
    return WinsockFail(WSAENOTSOCK);
  switch (cmd) {
  case FIONBIO: {
    bool on = *argp != 0;
    // A WSAAsyncSelect registration needs the socket non-blocking.
    if (!on && s->Mask != 0)
      return WinsockFail(WSAEINVAL);
    net::Result set = net::SetNonBlocking(s->Fd, on);
    if (!set.Ok())
      return WinsockFail(set.Error);
    s->NonBlocking = on;
    return 0;
  }
  case FIONREAD: {
    if (s->Phase == SocketPhase::Listening) {
      *argp = 0;
      return 0;
    }
    net::Result waiting = net::BytesReadable(s->Fd);
    if (!waiting.Ok())
      return WinsockFail(waiting.Error);
    *argp = static_cast<u_long>(waiting.Value);
    return 0;
  }
  case SIOCATMARK: {
    net::Result atMark = s->IsStream() ? net::AtOobMark(s->Fd) : net::Result{1, 0};
    if (!atMark.Ok())
      return WinsockFail(atMark.Error);
    *argp = static_cast<u_long>(atMark.Value);
    return 0;
  }
  default:
    return WinsockFail(WSAEINVAL);
  }
}

} // namespace kwsplat
