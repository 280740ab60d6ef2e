// TCustomWSocket: construction, the hidden window's dispatch, receiving, the message pump, error reporting
// and the state model. Listening and closing, sending, and connecting live in the CustomWSocket*.cpp files.
#include "socket/CustomWSocket.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "settings/CoreAPITools.h"
#include "socket/SocketWindow.h"
#include "socket/WinsockAPI.h"

TCustomWSocket::TCustomWSocket() {
  FWindowThread = GetCurrentThreadId();
  FWindowHandle = CreateSocketWindow(this);
  ResetDefaults();
  SocketObjectCreated();
}

TCustomWSocket::~TCustomWSocket() {
  FDestroying = true;
  // First, so that no notification runs into the object while it is being taken apart.
  UnbindWindow();
  // Destruction goes on whatever the steps below report: a destructor has nobody to report to.
  try {
    CancelDnsLookup();
  } catch (const Exception&) {
  }
  try {
    if (State() != wsClosed) {
      Close();
    }
  } catch (const Exception&) {
  }
  CloseStrayHandle();
  SendQueue.clear();
  try {
    SocketObjectDestroyed();
  } catch (const Exception&) {
  }
  ReleaseSocketWindow(FWindowHandle, FWindowThread);
}

void TCustomWSocket::UnbindWindow() {
  UnbindSocketWindow(FWindowHandle, FWindowThread);
}

void TCustomWSocket::FreeDelayed() {
  delete this;
}

void TCustomWSocket::ResetDefaults() {
  FDnsResult.clear();
  FDnsResultList.clear();
  FreeSendQueue();
  FSendFlags = 0;
  FLastError = 0;
  DnsLookupHandle = nullptr;
  FSocketHandle.store(INVALID_SOCKET, std::memory_order_release);
  AddrResolved = false;
  AddrFamily = AF_INET;
  AddrAssigned = false;
  ProtoNumber = IPPROTO_TCP;
  ProtoAssigned = true;
  ProtoResolved = false;
  LocalPortResolved = false;
  FProto = "tcp";
  PortAssigned = false;
  PortResolved = false;
  PortNumber = 0;
  FLocalPort = "0";
  LocalPortNumber = 0;
  FLocalAddr = "0.0.0.0";
  SocketType = SOCK_STREAM;
  LingerOnOff = wsLingerOn;
  LingerTimeout = 0;
  FAllSent.store(true, std::memory_order_release);
  FReadCount = 0;
  NotifyPaused = false;
  CloseNotified = false;
  FState.store(wsClosed, std::memory_order_release);
  SockAddr = sockaddr_in{};
  SockAddr.sin_family = AF_INET;
}

// A handle may stay open while State already reads wsClosed (a Dup whose notification request failed);
// it is closed quietly wherever a new handle would otherwise replace it, and at destruction.
void TCustomWSocket::CloseStrayHandle() {
  const SOCKET handle = SocketHandle();
  if (handle == INVALID_SOCKET || State() != wsClosed) {
    return;
  }
  FSocketHandle.store(INVALID_SOCKET, std::memory_order_release);
  try {
    wsock::closesocket(handle);
  } catch (const ESocketException&) {
    // Only a binding failure lands here, and then the handle cannot be open.
  }
}

// ---- Dispatch -------------------------------------------------------------------------------------------

void TCustomWSocket::DispatchSocketMessage(TMessage& msg) {
  try {
    switch (msg.Msg) {
    case MsgSocketEvent:
      HandleSocketEvent(msg.WParam, msg.LParam);
      return;
    case MsgHostByNameDone:
    case MsgHostByAddrDone:
      HandleLookupDone(msg);
      return;
    case MsgCloseDelayed:
      Close();
      return;
    case MsgFreeDelayed:
      FreeDelayed();
      return;
    case MsgTestException:
      throw ESocketException("Test exception in WSocket");
    default:
      msg.Result = DefWindowProcA(FWindowHandle, msg.Msg, msg.WParam, msg.LParam);
      return;
    }
  } catch (Exception& e) {
    HandleBgException(e);
  }
}

void TCustomWSocket::HandleSocketEvent(WPARAM socket, LPARAM reply) {
  if (socket != SocketHandle() || NotifyPaused) {
    return; // queued for a handle this object no longer holds, or paused
  }
  const WORD events = WSAGETSELECTEVENT(reply);
  const WORD error = WSAGETSELECTERROR(reply);
  if (events & FD_CONNECT) {
    ChangeState(wsConnected);
    FireSessionConnected(error);
    if (error != 0 && State() != wsClosed) {
      Close();
    }
  }
  if (events & FD_READ) {
    DeliverReceived(error);
  }
  if (events & FD_WRITE) {
    TryToSend();
    // A send that failed closed the socket and dropped the queue: that is no "all sent".
    if (AllSent() && State() != wsClosed) {
      FireDataSent(error);
    }
  }
  if (events & FD_ACCEPT) {
    FireSessionAvailable(error);
  }
  if ((events & FD_CLOSE) && State() != wsConnecting) {
    DeliverReceived(0); // bytes still held go out before the session-closed notification
    if (!CloseNotified) {
      CloseNotified = true;
      FireSessionClosed(error);
    }
    HandlePeerClose(error);
  }
}

void TCustomWSocket::HandlePeerClose(WORD /*error*/) {
  if (State() != wsClosed) {
    Close();
  }
}

// ---- Receiving ------------------------------------------------------------------------------------------

void TCustomWSocket::DeliverReceived(WORD error) {
  const uint64_t callsAtStart = ReceiveCalls;
  try {
    for (;;) {
      FLastError = 0;
      const uint64_t callsBefore = ReceiveCalls;
      if (!FireDataAvailable(error)) {
        char discarded[kDiscardChunk];
        if (RawReceive(discarded, sizeof(discarded), 0) < 0) {
          const int code = wsock::WSAGetLastError();
          FLastError = code == WSAEWOULDBLOCK ? 0 : code;
          break;
        }
      }
      if (FLastError != 0) {
        break;
      }
      // A handler that claims the data but reads none would otherwise keep this loop going for ever.
      if (ReceiveCalls == callsBefore) {
        break;
      }
      // A stream read that did not fill its buffer emptied the socket: whatever arrives next brings a
      // notification of its own, so no count of waiting bytes is needed.
      if (SocketType == SOCK_STREAM && !LastReceiveFilled) {
        break;
      }
      u_long ready = 0;
      if (wsock::ioctlsocket(SocketHandle(), FIONREAD, &ready) == SOCKET_ERROR) {
        FLastError = wsock::WSAGetLastError();
        break;
      }
      if (ready == 0) {
        break;
      }
    }
  } catch (...) {
    // By design: a failing handler ends this delivery only; the next read notification starts a new one.
  }
  if (ReceiveCalls == callsAtStart) {
    RearmReadNotification();
  }
}

// The system holds the next read notification back until the next recv call. A delivery whose handler made
// none (it found nothing ready, or left the bytes for later) would otherwise never hear of new data again;
// a zero-byte recv consumes nothing and re-arms it.
void TCustomWSocket::RearmReadNotification() {
  const SOCKET handle = SocketHandle();
  if (handle == INVALID_SOCKET) {
    return;
  }
  char none = 0;
  const int savedError = FLastError;
  wsock::recv(handle, &none, 0, 0);
  FLastError = savedError;
}

int32_t TCustomWSocket::RcvdCount() {
  u_long ready = 0;
  if (wsock::ioctlsocket(SocketHandle(), FIONREAD, &ready) == SOCKET_ERROR) {
    ReportSocketError("ioctlSocket");
    return -1;
  }
  return static_cast<int32_t>(ready);
}

int TCustomWSocket::RawReceive(void* buffer, int size, int flags) {
  ++ReceiveCalls;
  const int result = wsock::recv(SocketHandle(), static_cast<char*>(buffer), size, flags);
  LastReceiveFilled = result > 0 && result == size;
  return result;
}

int TCustomWSocket::RawReceiveFrom(SOCKET s, void* buffer, int size, int flags, sockaddr* from,
                                   int* fromLength) {
  ++ReceiveCalls;
  const int result = wsock::recvfrom(s, static_cast<char*>(buffer), size, flags, from, fromLength);
  LastReceiveFilled = result > 0 && result == size;
  return result;
}

int TCustomWSocket::Receive(void* buffer, int size) {
  const int result = RawReceive(buffer, size, 0);
  if (result < 0) {
    FLastError = wsock::WSAGetLastError();
  } else {
    FReadCount += result;
  }
  return result;
}

std::string TCustomWSocket::ReceiveText() {
  const int32_t ready = RcvdCount();
  if (ready <= 0) {
    return {};
  }
  std::string text(static_cast<size_t>(ready), '\0');
  const int result = RawReceive(text.data(), ready, 0);
  if (result < 0) {
    FLastError = wsock::WSAGetLastError();
  }
  text.resize(result > 0 ? static_cast<size_t>(result) : 0);
  return text;
}

int TCustomWSocket::ReceiveFrom(void* buffer, int size, sockaddr* from, int* fromLength) {
  const int result = RawReceiveFrom(SocketHandle(), buffer, size, 0, from, fromLength);
  if (result < 0) {
    FLastError = wsock::WSAGetLastError();
  } else {
    FReadCount += result;
  }
  return result;
}

// ---- Pause and resume -----------------------------------------------------------------------------------

bool TCustomWSocket::Pause() {
  NotifyPaused = true;
  return wsock::WSAAsyncSelect(SocketHandle(), FWindowHandle, 0, 0) == 0;
}

bool TCustomWSocket::Resume() {
  NotifyPaused = false;
  // A listening socket asks again for what Listen asked for: with the session mask it would hear of no
  // further connection.
  const long events = State() == wsListening ? kListenEvents : kSessionEvents;
  return wsock::WSAAsyncSelect(SocketHandle(), FWindowHandle, MsgSocketEvent, events) == 0;
}

// ---- Message pump ---------------------------------------------------------------------------------------

bool TCustomWSocket::ProcessOneMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    return false;
  }
  if (msg.message == WM_QUIT) {
    QuitSeen = true;
    return true;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

void TCustomWSocket::PumpMessages() {
  while (ProcessOneMessage()) {
  }
}

bool TCustomWSocket::PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    PumpMessages();
    if (done()) {
      return true;
    }
    const auto now = Clock::now();
    if (QuitSeen || now >= deadline) {
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
  }
}

void TCustomWSocket::MessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  QuitSeen = true;
}

// ---- Errors ---------------------------------------------------------------------------------------------

void TCustomWSocket::ReportError(const std::string& message) {
  if (OnError) {
    FireError(); // the caller finds the number in LastError
    return;
  }
  throw ESocketException(message);
}

void TCustomWSocket::ReportErrorFmt(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  ReportError(text);
}

void TCustomWSocket::ReportSocketError(const std::string& functionName) {
  const int number = wsock::WSAGetLastError();
  const std::string message =
      "Error " + std::to_string(number) + " in function " + functionName + "\r\n" + SocketErrorText(number);
  if (number == WSAECONNRESET || number == WSAENOTCONN) {
    const SOCKET handle = FSocketHandle.exchange(INVALID_SOCKET, std::memory_order_acq_rel);
    if (handle != INVALID_SOCKET) {
      wsock::closesocket(handle);
    }
    ChangeState(wsClosed);
  }
  FLastError = number;
  ReportError(message);
}

void TCustomWSocket::HandleBgException(Exception& e) {
  bool canClose = true;
  if (OnBgException) {
    try {
      OnBgException(*this, e, canClose);
    } catch (...) {
      // By design: the handler of a background exception has no one above it to report to.
    }
  }
  if (!canClose) {
    return;
  }
  try {
    Abort();
  } catch (...) {
    // By design: aborting is the last resort; what it reports has no one above it either.
  }
}

void TCustomWSocket::ChangeState(TSocketState newState) {
  const TSocketState oldState = FState.exchange(newState, std::memory_order_acq_rel);
  FireChangeState(oldState, newState);
}

// ---- Events ---------------------------------------------------------------------------------------------

bool TCustomWSocket::FireDataAvailable(WORD error) {
  if (!OnDataAvailable) {
    return false;
  }
  OnDataAvailable(*this, error);
  return true;
}

void TCustomWSocket::FireSessionAvailable(WORD error) {
  if (OnSessionAvailable) {
    OnSessionAvailable(*this, error);
  }
}

void TCustomWSocket::FireSessionConnected(WORD error) {
  if (OnSessionConnected) {
    OnSessionConnected(*this, error);
  }
}

void TCustomWSocket::FireSessionClosed(WORD error) {
  if (OnSessionClosed) {
    OnSessionClosed(*this, error);
  }
}

void TCustomWSocket::FireDataSent(WORD error) {
  if (OnDataSent) {
    OnDataSent(*this, error);
  }
}

void TCustomWSocket::FireChangeState(TSocketState oldState, TSocketState newState) {
  if (OnChangeState) {
    OnChangeState(*this, oldState, newState);
  }
}

void TCustomWSocket::FireDnsLookupDone(WORD error) {
  if (OnDnsLookupDone) {
    OnDnsLookupDone(*this, error);
  }
}

void TCustomWSocket::FireError() {
  if (OnError) {
    OnError(*this);
  }
}

void TCustomWSocket::FireSendData(int32_t bytesSent) {
  if (OnSendData) {
    OnSendData(*this, bytesSent);
  }
}

// ---- Property setters -----------------------------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& value) {
  const std::string text = Trim(value);
  if (AddrAssigned && text == FAddr) {
    return;
  }
  if (State() != wsClosed) {
    ReportError("Cannot change Addr if not closed");
    return;
  }
  FAddr = text;
  AddrAssigned = !FAddr.empty();
  AddrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& value) {
  const std::string text = Trim(value);
  if (PortAssigned && text == FPort) {
    return;
  }
  if (State() != wsClosed) {
    ReportError("Cannot change Port if not closed");
    return;
  }
  FPort = text;
  PortAssigned = !FPort.empty();
  PortResolved = false;
}

void TCustomWSocket::SetProto(const std::string& value) {
  const std::string text = Trim(value);
  if (ProtoAssigned && text == FProto) {
    return;
  }
  if (State() != wsClosed) {
    ReportError("Cannot change Proto if not closed");
    return;
  }
  FProto = text;
  ProtoAssigned = !FProto.empty();
  ProtoResolved = false;
}

void TCustomWSocket::SetLocalPort(const std::string& value) {
  if (State() != wsClosed) {
    ReportError("Cannot change LocalPort if not closed");
    return;
  }
  FLocalPort = value;
  LocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value) {
  if (State() != wsClosed) {
    ReportError("Cannot change LocalAddr if not closed");
    return;
  }
  in_addr address{};
  address.s_addr = static_cast<uint32_t>(wsock::inet_addr(value.empty() ? "0.0.0.0" : value.c_str()));
  if (address.s_addr == INADDR_NONE) {
    ReportError("SetLocalAddr(): Invalid IP address");
  }
  FLocalAddr = wsock::inet_ntoa(address);
}

TSocketSendFlags TCustomWSocket::SendFlags() {
  switch (FSendFlags) {
  case 0:
    return wsSendNormal;
  case MSG_OOB:
    return wsSendUrgent;
  default:
    ReportError("Invalid internal SendFlags");
    return wsSendNormal;
  }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value) {
  switch (value) {
  case wsSendNormal:
    FSendFlags = 0;
    return;
  case wsSendUrgent:
    FSendFlags = MSG_OOB;
    return;
  default:
    ReportError("Invalid SendFlags");
    return;
  }
}
