// Enumerations, event types and window message numbers of the socket layer.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/rtl/sysutils.h"
#include "platform/win32.h"

class TCustomWSocket;

enum TSocketState : uint8_t {
  wsInvalidState = 0,
  wsOpened = 1,
  wsBound = 2,
  wsConnecting = 3,
  wsConnected = 4,
  wsAccepting = 5,
  wsListening = 6,
  wsClosed = 7
};

// shutdown()'s "no more sends"; Winsock 1.1's header names no constant for it.
constexpr int kShutdownSend = 1;

enum TSocketSendFlags : uint8_t { wsSendNormal = 0, wsSendUrgent = 1 };

enum TSocketLingerOnOff : uint8_t { wsLingerOff = 0, wsLingerOn = 1, wsLingerNoSet = 2 };

// Error is the system's error number, 0 for success.
using TDataAvailable = std::function<void(TCustomWSocket& sender, WORD error)>;
using TDataSent = std::function<void(TCustomWSocket& sender, WORD error)>;
using TSessionClosed = std::function<void(TCustomWSocket& sender, WORD error)>;
using TSessionAvailable = std::function<void(TCustomWSocket& sender, WORD error)>;
using TSessionConnected = std::function<void(TCustomWSocket& sender, WORD error)>;
using TDnsLookupDone = std::function<void(TCustomWSocket& sender, WORD error)>;
using TSendData = std::function<void(TCustomWSocket& sender, int32_t bytesSent)>;
using TChangeState =
    std::function<void(TCustomWSocket& sender, TSocketState oldState, TSocketState newState)>;
using TBgExceptionEvent = std::function<void(TCustomWSocket& sender, Exception& e, bool& canClose)>;
using TNotifyEvent = std::function<void(TCustomWSocket& sender)>;

// Messages of a socket's hidden window.
constexpr UINT MsgSocketEvent = WM_USER + 1;    // 1025: wParam socket, lParam event bit | error << 16
constexpr UINT MsgHostByNameDone = WM_USER + 2; // 1026: wParam lookup handle, lParam error << 16
constexpr UINT MsgHostByAddrDone = WM_USER + 3; // 1027: as 1026
constexpr UINT MsgCloseDelayed = WM_USER + 4;   // 1028: close from the loop
constexpr UINT MsgFreeDelayed = WM_USER + 5;    // 1029: destroy from the loop
constexpr UINT MsgTestException = WM_USER + 6;  // 1030: raises, to exercise background-exception handling
constexpr UINT MsgLineReoffer = WM_USER + 20;   // 1044: line mode re-offers buffered bytes
constexpr UINT MsgSocksTimeout = WM_USER + 21;  // 1045: a SOCKS negotiation took too long; wParam its number

// A window message as the socket's dispatch sees it.
struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};
