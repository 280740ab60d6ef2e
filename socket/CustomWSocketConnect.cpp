// TCustomWSocket: client connect, local binding, address queries and the asynchronous look-up messages.
#include "socket/CustomWSocket.h"

#include <cstring>

#include "socket/WinsockAPI.h"

void TCustomWSocket::Connect() {
  if (SocketHandle() != INVALID_SOCKET && State() != wsClosed) {
    ReportError("Connect: Socket already in use");
    return;
  }
  if (!PortAssigned) {
    ReportError("Connect: No Port Specified");
    return;
  }
  if (!AddrAssigned) {
    ReportError("Connect: No IP Address Specified");
    return;
  }
  if (!ProtoAssigned) {
    ReportError("Connect: No Protocol Specified");
    return;
  }
  try {
    ResolveProtocol();
    ResolvePort();
    if (!LocalPortResolved) {
      LocalPortNumber = static_cast<uint16_t>(WSocketResolvePort(FLocalPort, FProto));
      LocalPortResolved = true;
    }
    ResolveAddress();
  } catch (const ESocketException& e) {
    ReportError("connect: " + e.Message);
    return;
  }
  FreeSendQueue();
  CloseStrayHandle();
  const SOCKET handle = wsock::socket(AF_INET, SocketType, ProtoNumber);
  if (handle == INVALID_SOCKET) {
    ReportSocketError("Connect (socket)");
    return;
  }
  FSocketHandle.store(handle, std::memory_order_release);
  ChangeState(wsOpened);
  if (SocketType == SOCK_DGRAM) {
    BindLocal();
    if (SockAddr.sin_addr.s_addr == INADDR_BROADCAST) {
      const int32_t on = 1;
      if (wsock::setsockopt(handle, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                            sizeof(on)) != 0) {
        ReportSocketError("setsockopt(SO_BROADCAST)");
        return;
      }
    }
  } else {
    if (LocalPortNumber != 0 || FLocalAddr != "0.0.0.0") {
      BindLocal();
    }
    ApplyLinger();
    const int32_t allBits = -1;
    const char* value = reinterpret_cast<const char*>(&allBits);
    if (wsock::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, value, sizeof(allBits)) != 0) {
      ReportSocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (wsock::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, value, sizeof(allBits)) != 0) {
      ReportSocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }
  if (wsock::WSAAsyncSelect(handle, FWindowHandle, MsgSocketEvent, kConnectEvents) != 0) {
    ReportSocketError("WSAAsyncSelect");
    return;
  }
  if (SocketType == SOCK_DGRAM) {
    ChangeState(wsConnected);
    FireSessionConnected(0);
    return;
  }
  if (wsock::connect(handle, reinterpret_cast<const sockaddr*>(&SockAddr), sizeof(SockAddr)) == 0 ||
      wsock::WSAGetLastError() == WSAEWOULDBLOCK) {
    ChangeState(wsConnecting); // completion comes as the connect notification
    return;
  }
  FLastError = wsock::WSAGetLastError();
  ReportSocketError("Connect");
}

void TCustomWSocket::BindLocal() {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = wsock::htons(LocalPortNumber);
  local.sin_addr.s_addr = WSocketResolveHost(FLocalAddr);
  if (wsock::bind(SocketHandle(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
    ReportErrorFmt("winsock.bind failed, error #%d", wsock::WSAGetLastError());
    return;
  }
  int length = sizeof(local);
  if (wsock::getsockname(SocketHandle(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    ReportErrorFmt("winsock.getsockname failed, error #%d", wsock::WSAGetLastError());
    return;
  }
  LocalPortNumber = wsock::ntohs(local.sin_port);
  FLocalPort = std::to_string(LocalPortNumber);
}

std::string TCustomWSocket::PeerAddr() {
  if (State() != wsConnected) {
    return "error";
  }
  sockaddr_in peer{};
  int length = sizeof(peer);
  if (wsock::getpeername(SocketHandle(), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    ReportSocketError("GetPeerName");
    return "error";
  }
  return wsock::inet_ntoa(peer.sin_addr);
}

std::string TCustomWSocket::PeerPort() {
  if (State() != wsConnected) {
    return "error";
  }
  sockaddr_in peer{};
  int length = sizeof(peer);
  if (wsock::getpeername(SocketHandle(), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    ReportSocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(wsock::ntohs(peer.sin_port));
}

int TCustomWSocket::GetPeerSockAddr(sockaddr* buffer, int& length) {
  if (State() != wsConnected) {
    return -1;
  }
  return wsock::getpeername(SocketHandle(), buffer, &length);
}

int TCustomWSocket::GetSockName(sockaddr* buffer, int& length) {
  return wsock::getsockname(SocketHandle(), buffer, &length);
}

std::string TCustomWSocket::BoundPort() {
  const TSocketState state = State();
  if (state != wsBound && state != wsConnected && state != wsListening) {
    return "error";
  }
  sockaddr_in bound{};
  int length = sizeof(bound);
  if (wsock::getsockname(SocketHandle(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    return "error";
  }
  return std::to_string(wsock::ntohs(bound.sin_port));
}

bool TCustomWSocket::BeginLookup(const std::string& text) {
  if (text.empty()) {
    ReportError("DNS lookup: invalid host name.");
    FireDnsLookupDone(WSAEINVAL);
    return false;
  }
  if (DnsLookupHandle != nullptr) {
    wsock::WSACancelAsyncRequest(DnsLookupHandle); // a look-up that just finished cannot be cancelled: fine
    DnsLookupHandle = nullptr;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  return true;
}

void TCustomWSocket::DnsLookup(const std::string& hostName) {
  if (!BeginLookup(hostName)) {
    return;
  }
  in_addr address{};
  address.s_addr = static_cast<uint32_t>(wsock::inet_addr(hostName.c_str()));
  if (address.s_addr != INADDR_NONE) {
    FDnsResult = wsock::inet_ntoa(address);
    FireDnsLookupDone(0);
    return;
  }
  DnsLookupHandle = wsock::WSAAsyncGetHostByName(FWindowHandle, MsgHostByNameDone, hostName.c_str(),
                                                 HostEntBuffer, sizeof(HostEntBuffer));
  if (DnsLookupHandle == nullptr) {
    ReportErrorFmt("%s: can't start DNS lookup, error #%d", hostName.c_str(), wsock::WSAGetLastError());
  }
}

void TCustomWSocket::ReverseDnsLookup(const std::string& dottedAddress) {
  if (!BeginLookup(dottedAddress)) {
    return;
  }
  const auto address = static_cast<uint32_t>(wsock::inet_addr(dottedAddress.c_str()));
  DnsLookupHandle =
      wsock::WSAAsyncGetHostByAddr(FWindowHandle, MsgHostByAddrDone, reinterpret_cast<const char*>(&address),
                                   sizeof(address), AF_INET, HostEntBuffer, sizeof(HostEntBuffer));
  if (DnsLookupHandle == nullptr) {
    ReportErrorFmt("%s: can't start DNS lookup, error #%d", dottedAddress.c_str(), wsock::WSAGetLastError());
  }
}

void TCustomWSocket::CancelDnsLookup() {
  if (DnsLookupHandle == nullptr) {
    return;
  }
  const int result = wsock::WSACancelAsyncRequest(DnsLookupHandle);
  DnsLookupHandle = nullptr;
  // A look-up that finished a moment ago is cancelled as well: its completion, still queued, is ignored.
  if (result != 0 && wsock::WSAGetLastError() != WSAEALREADY) {
    ReportSocketError("WSACancelAsyncRequest");
    return;
  }
  if (!FDestroying) {
    FireDnsLookupDone(WSAEINTR);
  }
}

void TCustomWSocket::HandleLookupDone(TMessage& msg) {
  if (DnsLookupHandle == nullptr || reinterpret_cast<HANDLE>(msg.WParam) != DnsLookupHandle) {
    return;
  }
  DnsLookupHandle = nullptr;
  const WORD error = WSAGETASYNCERROR(msg.LParam);
  if (error == 0) {
    const auto* entry = reinterpret_cast<const hostent*>(HostEntBuffer);
    if (msg.Msg == MsgHostByNameDone) {
      for (char** address = entry->h_addr_list; address != nullptr && *address != nullptr; ++address) {
        in_addr value{};
        std::memcpy(&value.s_addr, *address, sizeof(value.s_addr));
        FDnsResultList.emplace_back(wsock::inet_ntoa(value));
      }
      if (!FDnsResultList.empty()) {
        FDnsResult = FDnsResultList.front();
      }
    } else {
      FDnsResult = entry->h_name != nullptr ? entry->h_name : "";
      FDnsResultList.assign(1, FDnsResult);
    }
  }
  FireDnsLookupDone(error);
}
