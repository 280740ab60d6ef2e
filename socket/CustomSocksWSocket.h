// TCustomSocksWSocket: the SOCKS client layer (versions 4, 4A and 5, user and password for 5). With a SOCKS
// server assigned, Connect reaches the proxy, negotiates, and only then reports the session connected; bytes
// the proxy sent after its final reply are read before the socket's own. With no SOCKS server assigned, the
// server's case, every operation passes straight through to TCustomWSocket.
//
// After every close the SOCKS server and port are empty and the level is "5" again: a proxy is configured
// anew before each Connect.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "socket/CustomWSocket.h"
#include "socket/DelayedCall.h"

enum TSocksAuthentication : uint8_t { socksNoAuthentication = 0, socksAuthenticateUsercode = 1 };
enum TSocksAuthState : uint8_t { AuthStarted = 0, AuthSucceeded = 1, AuthFailed = 2, AuthNotRequired = 3 };
enum TSocksState : uint8_t { SocksIdle = 0, SocksMethodWait = 1, SocksAuthWait = 2, SocksReplyWait = 3 };

using TSocksErrorEvent = std::function<void(TCustomWSocket& sender, int error, const std::string& msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomWSocket& sender, TSocksAuthState authState)>;

class TCustomSocksWSocket : public TCustomWSocket {
public:
  // Error codes of the negotiation, given to OnSocksError, OnSessionConnected and OnSessionClosed.
  static constexpr int kSocksLogicError = 20001;
  static constexpr int kSocksVersionError = 20002;
  static constexpr int kSocksMethodError = 20003;
  static constexpr int kSocksServerFailure = 20004; // SOCKS 5 reply codes 1 to 8: 20004 to 20011
  static constexpr int kSocksRefused = 20008;
  static constexpr int kSocksAddressTypeError = 20011;
  static constexpr int kSocksUnassignedError = 20012;
  static constexpr int kSocksInternalError = 20013;
  static constexpr int kSocksAuthError = 20015;
  static constexpr int kSocksRejected = 20016;
  static constexpr int kSocksResolveError = 20017;
  // A negotiation still unfinished after SocksTimeout fails with the system's "timed out".
  static constexpr int kSocksTimedOut = WSAETIMEDOUT;
  static constexpr DWORD kDefaultSocksTimeoutMs = 30000;
  // One-byte length fields bound every SOCKS 5 name, user and password; SOCKS 4 user ids and 4A names
  // have no length field and get the same bound.
  static constexpr size_t kMaxSocksField = 255;
  // Holds the longest SOCKS 5 reply (4 + 1 + 255 + 2 bytes) with room for bytes that follow it.
  static constexpr int kReplyBufferSize = 512;

  TCustomSocksWSocket();
  ~TCustomSocksWSocket() override;

  const std::string& SocksServer() const { return FSocksServer; }
  virtual void SetSocksServer(const std::string& value);
  const std::string& SocksPort() const { return FSocksPort; }
  virtual void SetSocksPort(const std::string& value);
  const std::string& SocksLevel() const { return FSocksLevel; }
  void SetSocksLevel(const std::string& value);
  TSocksState SocksState() const { return FSocksState; }

  std::string SocksUsercode;
  std::string SocksPassword;
  TSocksAuthentication SocksAuthentication = socksNoAuthentication;
  DWORD SocksTimeout = kDefaultSocksTimeoutMs; // milliseconds from Connect to the final reply; 0: no limit

  TSocksErrorEvent OnSocksError;
  TSessionConnected OnSocksConnected;
  TSocksAuthStateEvent OnSocksAuthState;

  void Connect() override;
  void Listen() override;
  int32_t RcvdCount() override;
  void DispatchSocketMessage(TMessage& msg) override;

protected:
  void ResetDefaults() override;
  bool FireDataAvailable(WORD error) override;
  void FireSessionConnected(WORD error) override;
  void FireSessionClosed(WORD error) override;
  int RawReceive(void* buffer, int size, int flags) override;

  virtual void FireSocksConnected(WORD error);
  virtual void FireSocksError(int error, const std::string& msg);
  virtual void FireSocksAuthState(TSocksAuthState authState);

  uint8_t RequestedAuthMethod = 0;

private:
  // The settings Connect refuses before anything reaches the network; empty when they fit the protocol.
  std::string SettingsProblem() const;
  // Reads what the proxy sent into ReplyBuffer, at most up to limit bytes held; false when nothing came.
  bool ReadReply(int limit);
  void HandleMethodReply();
  void HandleAuthReply();
  bool HandleSocks4Reply();
  bool HandleSocks5Reply();
  // The session is connected through the proxy: the user hears of it, then of the bytes that came along.
  bool NegotiationDone(int replyLength);
  void SendGreeting();
  void SendAuthentication();
  void SendSocks5Request();
  void SendSocks4Request();
  void SendBytes(const std::string& bytes);
  void SocksFail(int code, const std::string& message);
  void AuthFail(int code, const std::string& message);
  void StartTimer();
  void StopTimer() { NegotiationTimer.reset(); }

  TSocksState FSocksState = SocksIdle;
  std::string FSocksServer;
  std::string FSocksLevel = "5";
  std::string FSocksPort;
  bool SocksPortAssigned = false;
  bool SocksServerAssigned = false;
  uint8_t ReplyBuffer[kReplyBufferSize] = {};
  int32_t ReplyCount = 0;
  int32_t LeftoverCount = 0;
  int32_t LeftoverPos = 0;
  std::unique_ptr<TDelayedCall> NegotiationTimer;
  WPARAM NegotiationNumber = 0; // tells a time-out of this negotiation from one already queued for another
};
