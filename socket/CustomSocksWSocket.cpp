// TCustomSocksWSocket: the proxy settings, the negotiation driven by the data-available notification, and
// the bytes that follow the proxy's final reply.
#include "socket/CustomSocksWSocket.h"

#include <algorithm>
#include <cstring>

#include "settings/CoreAPITools.h"
#include "socket/WinsockAPI.h"

namespace {

constexpr uint8_t kSocks4Version = 4;
constexpr uint8_t kSocks5Version = 5;
constexpr uint8_t kAuthVersion = 1; // of the user and password sub-negotiation
constexpr uint8_t kCommandConnect = 1;
constexpr uint8_t kMethodNone = 0;
constexpr uint8_t kMethodUsercode = 2;
constexpr uint8_t kAddressIPv4 = 1;
constexpr uint8_t kAddressName = 3;
constexpr uint8_t kAddressIPv6 = 4;
constexpr int kSocks4ReplyLength = 8;
constexpr uint8_t kSocks4Granted = 90;
constexpr uint8_t kSocks4Rejected = 91;
constexpr uint8_t kSocks4NoIdent = 92;    // the proxy could not reach the client's ident service
constexpr uint8_t kSocks4WrongIdent = 93; // the ident service named another user

// SOCKS 5 reply codes 1 to 8, as error codes 20004 to 20011.
constexpr const char* kSocks5ReplyTexts[] = {
    "general SOCKS server failure", "connection not allowed by ruleset",
    "network unreachable",          "host unreachable",
    "connection refused",           "time to live expired",
    "command not supported",        "address type not supported"};

std::string Port16(uint16_t port) {
  return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
}

std::string Counted(const std::string& text) {
  return static_cast<char>(text.size()) + text;
}

} // namespace

TCustomSocksWSocket::TCustomSocksWSocket() = default;

TCustomSocksWSocket::~TCustomSocksWSocket() {
  UnbindWindow(); // no notification may run into this layer's members while they go
  StopTimer();
}

void TCustomSocksWSocket::ResetDefaults() {
  TCustomWSocket::ResetDefaults();
  FSocksState = SocksIdle;
  FSocksServer.clear();
  FSocksLevel = "5";
  FSocksPort.clear();
  SocksPortAssigned = false;
  SocksServerAssigned = false;
  ReplyCount = 0;
  LeftoverCount = 0;
  LeftoverPos = 0;
  StopTimer();
}

// ---- Settings -------------------------------------------------------------------------------------------

void TCustomSocksWSocket::SetSocksLevel(const std::string& value) {
  if (State() != wsClosed) {
    ReportError("Can't change socks level if not closed");
    return;
  }
  const std::string level = UpperCase(value);
  if (level != "4" && level != "4A" && level != "5") {
    ReportError("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  FSocksLevel = level;
}

void TCustomSocksWSocket::SetSocksPort(const std::string& value) {
  if (State() != wsClosed) {
    ReportError("Can't change socks port if not closed");
    return;
  }
  FSocksPort = Trim(value);
  SocksPortAssigned = !FSocksPort.empty();
}

void TCustomSocksWSocket::SetSocksServer(const std::string& value) {
  if (State() != wsClosed) {
    ReportError("Can't change socks server if not closed");
    return;
  }
  FSocksServer = Trim(value);
  SocksServerAssigned = !FSocksServer.empty();
}

std::string TCustomSocksWSocket::SettingsProblem() const {
  const bool socks5 = FSocksLevel == "5";
  if (FAddr.size() > kMaxSocksField && (socks5 || FSocksLevel == "4A")) {
    return "socks destination name too long (at most 255 bytes)";
  }
  if (socks5 && SocksAuthentication == socksAuthenticateUsercode) {
    if (SocksUsercode.empty() || SocksUsercode.size() > kMaxSocksField) {
      return "socks user name must be 1 to 255 bytes long";
    }
    if (SocksPassword.size() > kMaxSocksField) {
      return "socks password too long (at most 255 bytes)";
    }
  }
  if (!socks5 && SocksUsercode.size() > kMaxSocksField) {
    return "socks user id too long (at most 255 bytes)";
  }
  // SOCKS 4 ends its fields with a zero byte: one inside would cut the field and name another destination.
  if (!socks5 && (SocksUsercode.find('\0') != std::string::npos || FAddr.find('\0') != std::string::npos)) {
    return "socks user id or destination name contains a zero byte";
  }
  return {};
}

// ---- Connecting and listening ---------------------------------------------------------------------------

void TCustomSocksWSocket::Connect() {
  // The core's own checks and reports come first where its settings are what is wrong.
  if (!SocksServerAssigned || (SocketHandle() != INVALID_SOCKET && State() != wsClosed) || !PortAssigned ||
      !AddrAssigned) {
    TCustomWSocket::Connect();
    return;
  }
  if (!SameText(FProto, "tcp")) {
    ReportError("tcp is the only protocol supported thru socks server");
    return;
  }
  if (const std::string problem = SettingsProblem(); !problem.empty()) {
    ReportError(problem);
    return;
  }
  try {
    if (!PortResolved) {
      SockAddr.sin_port = wsock::htons(static_cast<u_short>(WSocketResolvePort(FSocksPort, FProto)));
      PortResolved = true;
    }
    if (!AddrResolved) {
      SockAddr.sin_addr.s_addr = WSocketResolveHost(FSocksServer);
      AddrResolved = true;
    }
    PortNumber = static_cast<uint16_t>(WSocketResolvePort(FPort, FProto));
  } catch (const ESocketException& e) {
    ReportError("connect: " + e.Message);
    return;
  }
  FSocksState = SocksMethodWait;
  ReplyCount = 0;
  LeftoverCount = 0;
  TCustomWSocket::Connect();
  if (State() == wsConnecting) {
    StartTimer();
  }
}

void TCustomSocksWSocket::Listen() {
  if (SocksServerAssigned) {
    ReportError("listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

void TCustomSocksWSocket::StartTimer() {
  StopTimer();
  if (SocksTimeout == 0 || WindowHandle() == nullptr) {
    return;
  }
  const HWND window = WindowHandle();
  const WPARAM number = ++NegotiationNumber;
  // A window already gone refuses the post: nothing else to do then.
  NegotiationTimer = std::make_unique<TDelayedCall>(
      SocksTimeout, [window, number] { PostMessageA(window, MsgSocksTimeout, number, 0); });
}

void TCustomSocksWSocket::DispatchSocketMessage(TMessage& msg) {
  if (msg.Msg != MsgSocksTimeout) {
    TCustomWSocket::DispatchSocketMessage(msg);
    return;
  }
  if (msg.WParam != NegotiationNumber || NegotiationTimer == nullptr || FSocksState == SocksIdle) {
    return; // the negotiation it was meant for has ended
  }
  try {
    SocksFail(kSocksTimedOut, "socks negotiation timed out");
  } catch (Exception& e) {
    HandleBgException(e);
  }
}

// ---- Negotiation ----------------------------------------------------------------------------------------

void TCustomSocksWSocket::FireSessionConnected(WORD error) {
  if (FSocksState != SocksMethodWait) {
    TCustomWSocket::FireSessionConnected(error);
    return;
  }
  FireSocksConnected(error);
  if (error != 0) {
    StopTimer();
    TCustomWSocket::FireSessionConnected(error);
    return;
  }
  if (FSocksLevel[0] == '4') {
    SendSocks4Request();
    return;
  }
  SendGreeting();
}

bool TCustomSocksWSocket::FireDataAvailable(WORD error) {
  if (FSocksState == SocksIdle) {
    return TCustomWSocket::FireDataAvailable(error);
  }
  if (error != 0) {
    SocksFail(error, "data receive error");
    return false;
  }
  switch (FSocksState) {
  case SocksMethodWait:
    HandleMethodReply();
    return true;
  case SocksAuthWait:
    HandleAuthReply();
    return true;
  case SocksReplyWait:
    return FSocksLevel[0] == '4' ? HandleSocks4Reply() : HandleSocks5Reply();
  default:
    SocksFail(kSocksInternalError, "internal error");
    return false;
  }
}

bool TCustomSocksWSocket::ReadReply(int limit) {
  const int room = std::min(limit, kReplyBufferSize) - ReplyCount;
  if (room <= 0) {
    return false;
  }
  const int got = TCustomWSocket::RawReceive(ReplyBuffer + ReplyCount, room, 0);
  if (got <= 0) {
    return false; // nothing yet, or the proxy closed: its close notification follows
  }
  ReplyCount += got;
  return true;
}

void TCustomSocksWSocket::HandleMethodReply() {
  ReadReply(kReplyBufferSize);
  if (FSocksLevel[0] == '4') {
    SocksFail(kSocksLogicError, "TWSocket logic error");
    return;
  }
  if (ReplyCount < 2) {
    return;
  }
  ReplyCount = 0;
  if (ReplyBuffer[0] != kSocks5Version) {
    SocksFail(kSocksVersionError, "socks version error");
    return;
  }
  switch (ReplyBuffer[1]) {
  case kMethodNone:
    if (RequestedAuthMethod != kMethodNone) {
      FireSocksAuthState(AuthNotRequired);
    }
    SendSocks5Request();
    return;
  case kMethodUsercode:
    SendAuthentication();
    return;
  default:
    SocksFail(kSocksMethodError, "authentification method not acceptable");
    return;
  }
}

void TCustomSocksWSocket::HandleAuthReply() {
  ReadReply(kReplyBufferSize);
  if (ReplyCount >= 1 && ReplyBuffer[0] != kAuthVersion) {
    AuthFail(kSocksVersionError, "socks version error");
    return;
  }
  if (ReplyCount < 2) {
    return;
  }
  if (ReplyCount > 2) {
    AuthFail(kSocksLogicError, "too much data availaible");
    return;
  }
  if (ReplyBuffer[1] != 0) {
    AuthFail(kSocksAuthError, "socks authentication failed");
    return;
  }
  ReplyCount = 0;
  FireSocksAuthState(AuthSucceeded);
  SendSocks5Request();
}

// Leaves the authentication state first, so that the close that follows does not report the failure twice.
void TCustomSocksWSocket::AuthFail(int code, const std::string& message) {
  FireSocksAuthState(AuthFailed);
  FSocksState = SocksIdle;
  SocksFail(code, message);
}

bool TCustomSocksWSocket::HandleSocks4Reply() {
  ReadReply(kSocks4ReplyLength);
  if (ReplyCount < kSocks4ReplyLength) {
    return true;
  }
  ReplyCount = 0;
  if (ReplyBuffer[0] != 0) {
    SocksFail(kSocksVersionError, "socks version error");
    return true;
  }
  switch (ReplyBuffer[1]) {
  case kSocks4Granted:
    return NegotiationDone(kSocks4ReplyLength);
  case kSocks4Rejected:
    SocksFail(kSocksRejected, "request rejected or failed");
    return true;
  case kSocks4NoIdent:
    SocksFail(kSocksRefused, "connection refused");
    return true;
  case kSocks4WrongIdent:
    SocksFail(kSocksAuthError, "authentification failed");
    return true;
  default:
    SocksFail(kSocksUnassignedError, "unassigned error #" + std::to_string(ReplyBuffer[1]));
    return true;
  }
}

bool TCustomSocksWSocket::HandleSocks5Reply() {
  ReadReply(kReplyBufferSize);
  if (ReplyCount >= 1 && ReplyBuffer[0] != kSocks5Version) {
    SocksFail(kSocksVersionError, "socks version error");
    return true;
  }
  if (ReplyCount >= 2 && ReplyBuffer[1] != 0) {
    const uint8_t code = ReplyBuffer[1];
    if (code <= std::size(kSocks5ReplyTexts)) {
      SocksFail(kSocksServerFailure + code - 1, kSocks5ReplyTexts[code - 1]);
    } else {
      SocksFail(kSocksUnassignedError, "unassigned error #" + std::to_string(code));
    }
    return true;
  }
  if (ReplyCount < 5) {
    return true;
  }
  // The bound address is read past and not kept; an IPv6 one is as good as any other.
  int replyLength = 5;
  switch (ReplyBuffer[3]) {
  case kAddressIPv4:
    replyLength = 4 + 4 + 2;
    break;
  case kAddressName:
    replyLength = 4 + 1 + ReplyBuffer[4] + 2;
    break;
  case kAddressIPv6:
    replyLength = 4 + 16 + 2;
    break;
  default:
    break;
  }
  if (ReplyCount < replyLength) {
    return true;
  }
  if (replyLength == 5) {
    SocksFail(kSocksAddressTypeError, "address type not supported");
    return true;
  }
  return NegotiationDone(replyLength);
}

bool TCustomSocksWSocket::NegotiationDone(int replyLength) {
  StopTimer();
  FSocksState = SocksIdle;
  LeftoverPos = replyLength;
  LeftoverCount = std::max(0, ReplyCount - replyLength);
  ReplyCount = 0;
  TCustomWSocket::FireSessionConnected(0);
  if (State() != wsConnected) {
    return true; // the user closed the session from its connected handler
  }
  // Through the most derived layer, so a line mode switched on in the connected handler sees these bytes.
  // The leftover never gets a read notification of its own: offer it while the handler takes some.
  bool taken = FireDataAvailable(0);
  for (int32_t before = -1; taken && LeftoverCount > 0 && LeftoverCount != before;) {
    before = LeftoverCount;
    taken = FireDataAvailable(0);
  }
  return taken;
}

// ---- Requests -------------------------------------------------------------------------------------------

void TCustomSocksWSocket::SendBytes(const std::string& bytes) {
  try {
    Send(bytes.data(), static_cast<int>(bytes.size()));
  } catch (const Exception&) {
    // By design: a send that failed leaves the negotiation waiting; the close or the time-out ends it.
  }
}

void TCustomSocksWSocket::SendGreeting() {
  RequestedAuthMethod = SocksAuthentication == socksAuthenticateUsercode ? kMethodUsercode : kMethodNone;
  SendBytes({static_cast<char>(kSocks5Version), 1, static_cast<char>(RequestedAuthMethod)});
}

void TCustomSocksWSocket::SendAuthentication() {
  FSocksState = SocksAuthWait;
  FireSocksAuthState(AuthStarted);
  SendBytes(static_cast<char>(kAuthVersion) + Counted(SocksUsercode) + Counted(SocksPassword));
}

void TCustomSocksWSocket::SendSocks5Request() {
  FSocksState = SocksReplyWait;
  // Always a name, even a dotted one: the proxy resolves it.
  SendBytes(std::string{static_cast<char>(kSocks5Version), static_cast<char>(kCommandConnect), 0,
                        static_cast<char>(kAddressName)} +
            Counted(FAddr) + Port16(PortNumber));
}

void TCustomSocksWSocket::SendSocks4Request() {
  const bool socks4A = FSocksLevel == "4A";
  uint32_t destination = 0; // network order
  if (socks4A) {
    destination = wsock::htonl(1); // 0.0.0.1: "the proxy resolves the name that follows"
  } else {
    try {
      destination = WSocketResolveHost(FAddr);
    } catch (const Exception& e) {
      FireSocksError(kSocksResolveError, std::string(e.ClassName()) + " " + e.Message);
      DoClose(true, kSocksResolveError);
      return;
    }
  }
  FSocksState = SocksReplyWait;
  std::string request{static_cast<char>(kSocks4Version), static_cast<char>(kCommandConnect)};
  request += Port16(PortNumber);
  request.append(reinterpret_cast<const char*>(&destination), sizeof(destination));
  request += SocksUsercode + '\0';
  if (socks4A) {
    request += FAddr + '\0';
  }
  SendBytes(request);
}

void TCustomSocksWSocket::SocksFail(int code, const std::string& message) {
  StopTimer();
  FireSocksError(code, message);
  TCustomWSocket::FireSessionConnected(static_cast<WORD>(code));
  DoClose(true, static_cast<WORD>(code));
}

// ---- Closing and reading --------------------------------------------------------------------------------

void TCustomSocksWSocket::FireSessionClosed(WORD error) {
  if (FSocksState == SocksAuthWait) {
    FireSocksAuthState(AuthFailed);
  }
  TCustomWSocket::FireSessionClosed(error);
}

int32_t TCustomSocksWSocket::RcvdCount() {
  if (LeftoverCount > 0) {
    return LeftoverCount;
  }
  return TCustomWSocket::RcvdCount();
}

int TCustomSocksWSocket::RawReceive(void* buffer, int size, int flags) {
  if (LeftoverCount <= 0) {
    return TCustomWSocket::RawReceive(buffer, size, flags);
  }
  const int taken = std::min(std::max(size, 0), LeftoverCount);
  std::memcpy(buffer, ReplyBuffer + LeftoverPos, static_cast<size_t>(taken));
  LeftoverPos += taken;
  LeftoverCount -= taken;
  return taken;
}

// ---- Events ---------------------------------------------------------------------------------------------

void TCustomSocksWSocket::FireSocksConnected(WORD error) {
  if (OnSocksConnected) {
    OnSocksConnected(*this, error);
  }
}

void TCustomSocksWSocket::FireSocksError(int error, const std::string& msg) {
  if (OnSocksError) {
    OnSocksError(*this, error, msg);
  }
}

void TCustomSocksWSocket::FireSocksAuthState(TSocksAuthState authState) {
  if (OnSocksAuthState) {
    OnSocksAuthState(*this, authState);
  }
}
