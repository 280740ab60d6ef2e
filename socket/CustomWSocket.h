// TCustomWSocket: one non-blocking sockets-library socket whose readiness notifications arrive as messages
// for a hidden window of the thread that created the object, and fire as events on that thread.
//
// Threads. An object is used by one thread at a time: the thread that created it dispatches its
// notifications, and any other thread that calls it must hand the call to that thread (TThread::Synchronize)
// or otherwise make sure no notification runs meanwhile. State, AllSent, the socket handle and QuitSeen are
// atomics and may be read from any thread. Destruction is safe on any thread: the window is unbound first
// (waiting for a notification that is being dispatched on the window's thread to return), then the socket is
// closed, then the window is destroyed on its own thread (a WM_CLOSE is posted to it from elsewhere).
// A derived class whose notification overrides touch its own members, and whose objects may be destroyed
// off the window's thread, calls UnbindWindow() first thing in its destructor: the base destructor runs
// only after the derived members are gone. For the same reason, the final OnChangeState that destruction
// fires (never OnSessionClosed) must not reach into a derived object: clear such handlers there too.
// Destroying an object from inside its own notification is not supported: use PostFree.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "socket/Buffer.h"
#include "socket/SocketException.h"
#include "socket/SocketTypes.h"

class TCustomWSocket {
public:
  static constexpr int32_t kSendBlockSize = 1514;
  static constexpr long kListenEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;               // 43
  static constexpr long kSessionEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;             // 51
  static constexpr long kConnectEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE; // 59
  static constexpr int kDiscardChunk = 1024;
  static constexpr int kListenBacklog = 5;

  TCustomWSocket();
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  // The hidden window; null when it could not be made (the object then gets no notifications).
  HWND WindowHandle() const { return FWindowHandle; }
  // Detaches the object from its window: no notification reaches it afterwards. Waits for a notification
  // being dispatched to it on another thread. Idempotent; the destructor calls it too.
  void UnbindWindow();
  virtual void DispatchSocketMessage(TMessage& msg);

  // Properties.
  const std::string& Addr() const { return FAddr; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return FPort; }
  virtual void SetPort(const std::string& value);
  const std::string& Proto() const { return FProto; }
  virtual void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return FLocalAddr; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return FLocalPort; }
  void SetLocalPort(const std::string& value);
  TSocketSendFlags SendFlags();
  void SetSendFlags(TSocketSendFlags value);
  std::string PeerAddr();
  std::string PeerPort();
  const std::string& DnsResult() const { return FDnsResult; }
  const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
  TSocketState State() const { return FState.load(std::memory_order_acquire); }
  SOCKET SocketHandle() const { return FSocketHandle.load(std::memory_order_acquire); }
  int32_t ReadCount() const { return FReadCount; }
  virtual int32_t RcvdCount();
  int32_t LastError() const { return FLastError; }
  bool AllSent() const { return FAllSent.load(std::memory_order_acquire); }
  bool Destroying() const { return FDestroying; }

  // Applied at the next Connect or Dup; a close restores wsLingerOn, 0 (which resets the connection
  // and drops unsent bytes at close; set wsLingerOff before Dup to close gracefully).
  TSocketLingerOnOff LingerOnOff = wsLingerOn;
  int32_t LingerTimeout = 0;  // seconds; the low 16 bits are used
  int32_t FlushTimeout = 60;  // seconds Flush waits at most; 0 or less: no limit
  bool MultiThreaded = false; // stored only
  // Set by the message pump when it takes a quit message; the owner may set it to stop a polling loop.
  std::atomic<bool> QuitSeen{false};

  // Events: empty by default; fired by the virtual FireX operations.
  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TChangeState OnChangeState;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TNotifyEvent OnLineTooLong;
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;

  // Listening, adopting, connecting and closing.
  virtual void Listen();
  virtual SOCKET Accept();
  virtual void Dup(SOCKET handle);
  virtual void Connect();
  virtual void Close();
  virtual void PostClose();
  void CloseDelayed() { PostClose(); }
  // Hands the object to its window, which destroys it from the loop: the caller gives up ownership.
  virtual void PostFree();
  virtual void Abort();
  virtual void Shutdown(int how);
  virtual void DrainUntilClosed();
  virtual bool Pause();
  virtual bool Resume();
  // Asynchronous look-ups: OnDnsLookupDone fires from the loop (at once for a dotted address) with the
  // results in DnsResult and DnsResultList. Starting one cancels the one pending.
  virtual void DnsLookup(const std::string& hostName);
  virtual void ReverseDnsLookup(const std::string& dottedAddress);
  virtual void CancelDnsLookup();

  // Receiving.
  virtual int Receive(void* buffer, int size);
  virtual std::string ReceiveText();
  virtual int ReceiveFrom(void* buffer, int size, sockaddr* from, int* fromLength);

  // Sending: never blocks; the data-sent notification always comes later from the message loop.
  virtual int Send(const void* data, int length);
  virtual int SendText(const std::string& text);
  // Queues length bytes of an open file from offset behind what is queued; the socket owns the handle from
  // here on. The file is read only as the connection drains, so memory does not grow with its size; a file
  // that ends early ends the connection (no byte is invented), one that grows is cut at length.
  virtual void SendFileSegment(HANDLE file, uint64_t offset, uint64_t length);
  virtual int SendTo(const sockaddr* destination, int destinationLength, const void* data, int length);
  virtual void Flush();

  // Addresses.
  virtual int GetPeerSockAddr(sockaddr* buffer, int& length);
  virtual int GetSockName(sockaddr* buffer, int& length);
  virtual std::string BoundPort();

  // The calling thread's message queue (notifications of sockets made on other threads are not there).
  // ProcessOneMessage takes one message without waiting: false when there was none; a quit message sets
  // QuitSeen and is not dispatched.
  bool ProcessOneMessage();
  virtual void PumpMessages();
  // Pumps and waits for messages until done() holds, QuitSeen is set or timeoutMs passed; returns done().
  bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);
  // Dispatches until a quit message arrives, then sets QuitSeen.
  void MessageLoop();

protected:
  virtual void ResetDefaults();
  virtual void DoClose(bool shutDownFirst, WORD error);
  virtual void BindLocal();
  virtual int RawSend(const void* data, int length);
  // The peer closed (error 0) or reset the connection, after its last bytes and the session-closed
  // notification were delivered: closes the socket. A derived class may keep it open to finish sending.
  virtual void HandlePeerClose(WORD error);
  void ReportErrorFmt(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual void ReportError(const std::string& message);
  void ReportSocketError(const std::string& functionName);
  virtual void HandleBgException(Exception& e);
  void ChangeState(TSocketState newState);

  virtual bool FireDataAvailable(WORD error);
  virtual void FireSessionAvailable(WORD error);
  virtual void FireSessionConnected(WORD error);
  virtual void FireSessionClosed(WORD error);
  virtual void FireDataSent(WORD error);
  virtual void FireChangeState(TSocketState oldState, TSocketState newState);
  virtual void FireDnsLookupDone(WORD error);
  virtual void FireError();
  virtual void FireSendData(int32_t bytesSent);

  virtual int RawReceive(void* buffer, int size, int flags);
  virtual int RawReceiveFrom(SOCKET s, void* buffer, int size, int flags, sockaddr* from, int* fromLength);
  // Completion of an asynchronous host look-up (messages 1026 and 1027).
  virtual void HandleLookupDone(TMessage& msg);

  void HandleSocketEvent(WPARAM socket, LPARAM reply);
  void DeliverReceived(WORD error);
  void TryToSend();
  void AppendToSendQueue(const void* data, int length);
  void FreeSendQueue();
  // Send's rule: only a connected socket queues anything; otherwise error 10057 is reported.
  bool CheckConnectedForSend();
  // Writes what the system takes of the queue; the data-sent notification for an emptied queue is posted.
  void SendQueued();
  enum TFileStep { fsRead, fsSent, fsWait };
  // Moves the front file block's next bytes on: read into its storage (fsRead), sent straight from the file
  // (fsSent), or nothing more for now (fsWait: the socket is full, or the connection ended).
  TFileStep SendFromFile(TBuffer& block);
  void EndShort();
  void SendFailed(int code);
  void ApplyLinger();

  std::string FDnsResult;
  std::vector<std::string> FDnsResultList;
  std::deque<std::unique_ptr<TBuffer>> SendQueue;
  int32_t SendBlockSize = kSendBlockSize;
  int32_t FSendFlags = 0;
  int32_t FLastError = 0;
  HWND FWindowHandle = nullptr;
  DWORD FWindowThread = 0; // the thread that made the window and dispatches its messages
  alignas(hostent) char HostEntBuffer[MAXGETHOSTSTRUCT + 1] = {}; // the look-up lays a hostent out here
  HANDLE DnsLookupHandle = nullptr;
  std::atomic<SOCKET> FSocketHandle{INVALID_SOCKET};
  std::string FAddr;
  bool AddrResolved = false;
  int32_t AddrFamily = AF_INET;
  bool AddrAssigned = false;
  int32_t ProtoNumber = IPPROTO_TCP;
  bool ProtoAssigned = true;
  bool ProtoResolved = false;
  bool LocalPortResolved = false;
  std::string FProto = "tcp";
  std::string FPort;
  bool PortAssigned = false;
  bool PortResolved = false;
  uint16_t PortNumber = 0;
  std::string FLocalPort = "0";
  uint16_t LocalPortNumber = 0;
  std::string FLocalAddr = "0.0.0.0";
  int32_t SocketType = SOCK_STREAM;
  std::atomic<bool> FAllSent{true};
  int32_t FReadCount = 0;
  bool NotifyPaused = false;
  bool CloseNotified = false;
  std::atomic<TSocketState> FState{wsClosed};
  sockaddr_in SockAddr{};

private:
  // Steps common to both look-ups: false (and reported) for an empty text; else the pending one cancelled
  // and the results cleared.
  bool BeginLookup(const std::string& text);
  void ResolveProtocol();
  void ResolvePort();
  void ResolveAddress();
  void CloseStrayHandle();
  void RearmReadNotification();
  // The object's own deletion from its window (message 1029); nothing of the object is touched afterwards.
  void FreeDelayed();

  bool FDestroying = false;
  uint64_t ReceiveCalls = 0; // recv calls so far: a delivery pass that read nothing ends the delivery loop
  bool LastReceiveFilled = false; // the last recv filled its buffer: more may wait
};
