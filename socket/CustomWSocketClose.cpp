// TCustomWSocket: listening, accepting, adopting a handle, closing and linger.
#include "socket/CustomWSocket.h"

#include "socket/WinsockAPI.h"

void TCustomWSocket::ResolveProtocol() {
  if (ProtoResolved) {
    return;
  }
  ProtoNumber = WSocketResolveProto(FProto);
  SocketType = ProtoNumber == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
  ProtoResolved = true;
}

void TCustomWSocket::ResolvePort() {
  if (PortResolved) {
    return;
  }
  // Not range-checked: only the low 16 bits reach the address.
  PortNumber = static_cast<uint16_t>(WSocketResolvePort(FPort, FProto));
  SockAddr.sin_port = wsock::htons(PortNumber);
  PortResolved = true;
}

void TCustomWSocket::ResolveAddress() {
  if (AddrResolved) {
    return;
  }
  SockAddr.sin_addr.s_addr = WSocketResolveHost(FAddr);
  AddrResolved = true;
}

void TCustomWSocket::Listen() {
  if (!PortAssigned || !ProtoAssigned || !AddrAssigned) {
    wsock::WSASetLastError(WSAEINVAL);
    ReportSocketError(!PortAssigned    ? "listen: port not assigned"
                      : !ProtoAssigned ? "listen: protocol not assigned"
                                       : "listen: address not assigned");
    return;
  }
  try {
    ResolveProtocol();
    ResolvePort();
    ResolveAddress();
  } catch (const ESocketException& e) {
    ReportError("listen: " + e.Message);
    return;
  }
  FreeSendQueue();
  // Listening again on an open object must not leave its previous handle open.
  const SOCKET previous = FSocketHandle.exchange(INVALID_SOCKET, std::memory_order_acq_rel);
  if (previous != INVALID_SOCKET) {
    wsock::closesocket(previous);
    if (State() != wsClosed) {
      ChangeState(wsClosed);
    }
  }
  const SOCKET handle = wsock::socket(AF_INET, SocketType, ProtoNumber);
  if (handle == INVALID_SOCKET) {
    ReportSocketError("socket");
    return;
  }
  FSocketHandle.store(handle, std::memory_order_release);
  if (wsock::bind(handle, reinterpret_cast<const sockaddr*>(&SockAddr), sizeof(SockAddr)) != 0) {
    // Closed before the report, which may raise: the new handle must not outlive a failed bind.
    const int error = wsock::WSAGetLastError();
    FSocketHandle.store(INVALID_SOCKET, std::memory_order_release);
    wsock::closesocket(handle);
    wsock::WSASetLastError(error);
    ReportSocketError("Bind");
    return;
  }
  ChangeState(wsBound);
  if (SocketType == SOCK_DGRAM) {
    ChangeState(wsListening);
    ChangeState(wsConnected);
    FireSessionConnected(0);
  } else {
    if (wsock::listen(handle, kListenBacklog) != 0) {
      ReportSocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  }
  if (wsock::WSAAsyncSelect(handle, FWindowHandle, MsgSocketEvent, kListenEvents) != 0) {
    ReportSocketError("WSAASyncSelect");
  }
}

SOCKET TCustomWSocket::Accept() {
  if (State() != wsListening) {
    wsock::WSASetLastError(WSAEINVAL);
    ReportSocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  int length = sizeof(SockAddr);
  const SOCKET accepted = wsock::accept(SocketHandle(), reinterpret_cast<sockaddr*>(&SockAddr), &length);
  if (accepted == INVALID_SOCKET) {
    ReportSocketError("Accept");
    return INVALID_SOCKET;
  }
  return accepted;
}

void TCustomWSocket::Dup(SOCKET handle) {
  if (handle == 0 || handle == INVALID_SOCKET) {
    wsock::WSASetLastError(WSAEINVAL);
    ReportSocketError("Dup");
    return;
  }
  if (State() != wsClosed) {
    const SOCKET previous = FSocketHandle.exchange(INVALID_SOCKET, std::memory_order_acq_rel);
    if (previous != INVALID_SOCKET && wsock::closesocket(previous) != 0) {
      ReportSocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  CloseStrayHandle();
  FSocketHandle.store(handle, std::memory_order_release);
  ApplyLinger();
  if (wsock::WSAAsyncSelect(handle, FWindowHandle, MsgSocketEvent, kSessionEvents) != 0) {
    ReportSocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

void TCustomWSocket::DoClose(bool shutDownFirst, WORD error) {
  const SOCKET handle = SocketHandle();
  if (handle == INVALID_SOCKET) {
    if (State() != wsClosed) {
      ChangeState(wsClosed);
      ResetDefaults();
    }
    return;
  }
  if (State() == wsClosed) {
    return;
  }
  if (shutDownFirst) {
    Shutdown(kShutdownSend);
  }
  // With linger on and a time set, the system answers WSAEWOULDBLOCK until the peer has taken the data
  // or the time has passed; the loop keeps this thread's notifications flowing meanwhile.
  while (wsock::closesocket(handle) != 0) {
    const int code = wsock::WSAGetLastError();
    if (code == WSANOTINITIALISED) {
      break; // the library's clean-up closed it already
    }
    FLastError = code;
    if (code != WSAEWOULDBLOCK) {
      FSocketHandle.store(INVALID_SOCKET, std::memory_order_release);
      ReportSocketError("Disconnect (closesocket)");
      return;
    }
    PumpMessages();
  }
  FSocketHandle.store(INVALID_SOCKET, std::memory_order_release);
  ChangeState(wsClosed);
  if (!FDestroying && !CloseNotified) {
    CloseNotified = true;
    FireSessionClosed(error);
  }
  try {
    ResetDefaults();
  } catch (...) {
    // By design: the close itself has happened; a derived reset that fails must not undo that.
  }
}

void TCustomWSocket::Close() {
  DoClose(true, 0);
}

void TCustomWSocket::Abort() {
  CancelDnsLookup();
  FreeSendQueue();
  if (State() == wsConnected && ProtoNumber == IPPROTO_TCP) {
    LingerOnOff = wsLingerOff;
    ApplyLinger();
  }
  DoClose(false, 0);
}

void TCustomWSocket::Shutdown(int how) {
  const SOCKET handle = SocketHandle();
  if (handle != INVALID_SOCKET) {
    wsock::shutdown(handle, how); // the result does not matter: the close follows
  }
}

void TCustomWSocket::ApplyLinger() {
  if (LingerOnOff == wsLingerNoSet) {
    return;
  }
  const SOCKET handle = SocketHandle();
  if (handle == INVALID_SOCKET) {
    ReportError("Cannot set linger option at this time");
    return;
  }
  const linger option{static_cast<uint16_t>(LingerOnOff), static_cast<uint16_t>(LingerTimeout & 0xFFFF)};
  if (wsock::setsockopt(handle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                        sizeof(option)) != 0) {
    ReportSocketError("setsockopt(SO_LINGER)");
  }
}

void TCustomWSocket::PostClose() {
  PostMessageA(FWindowHandle, MsgCloseDelayed, 0, 0);
}

void TCustomWSocket::PostFree() {
  PostMessageA(FWindowHandle, MsgFreeDelayed, 0, 0);
}

void TCustomWSocket::DrainUntilClosed() {
  while (SocketHandle() != INVALID_SOCKET && State() != wsClosed) {
    PumpMessages();
    u_long ready = 0;
    if (wsock::ioctlsocket(SocketHandle(), FIONREAD, &ready) == SOCKET_ERROR) {
      return;
    }
    if (ready > 0) {
      FireDataAvailable(0);
    }
    char none = 0;
    if (RawReceive(&none, 0, 0) < 1) {
      FLastError = wsock::WSAGetLastError();
      if (FLastError != WSAEWOULDBLOCK) {
        return;
      }
    }
    PumpMessages();
  }
}
