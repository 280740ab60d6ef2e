// The socket of one accepted connection and the state of the one request that arrives on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32.h"
#include "server/Connection.h"
#include "server/ReplyQueue.h"
#include "server/RequestReader.h"
#include "settings/ListenerData.h"
#include "socket/WSocket.h"

class tWSListener;
class tWSIOBase;
class tWSHandler;

// A handler class: its virtual constructor, called on the main thread.
using tWSHandlerClass = std::unique_ptr<tWSHandler> (*)();

// The size of the send blocks a reply is queued in.
inline constexpr int32_t kReplyBlockSize = 64 * 1024;

// Where a connection stands. Only the main thread moves it on; any thread may read it.
enum tConnectionPhase : uint8_t {
  phReading = 0,   // the request is arriving
  phProducing = 1, // dispatched: the reply is not complete yet
  phSending = 2,   // the reply is complete; bytes of it are still queued
  phSent = 3,      // all of it is out and the sending side shut down: the peer's close is awaited
  phFailed = 4,    // the request could not be dispatched: the connection ends
  phClosed = 5,    // not adopted, or the socket left the connected state
};

// The socket belongs to the main thread: its notifications arrive there, and only there is it read, written
// and closed. Producers reach it from any thread through the reply queue and the body stream, which hand
// their work over without waiting for the main thread.
class tWSHandler : public TWSocket, public tConnection {
public:
  tWSHandler();
  ~tWSHandler() override;

  template <class tHandler> static std::unique_ptr<tWSHandler> Create() {
    return std::make_unique<tHandler>();
  }

  // Every socket operation below runs on the main thread, which owns the socket: the listener adopts the
  // connection there, and the data notification processes the request as soon as it is complete.
  virtual void TakeSocket(SOCKET handle, tWSListener& listener);
  virtual void ProcessRequest();
  // Exchanged and sent, or no longer connected: the worker may close.
  bool IsDone() const { return Phase >= phSent; }
  bool IsConnected() const override { return Phase != phClosed; }
  // The directory whose VirtualPath is the longest prefix of the path as it stands (an absolute target
  // with its scheme and host), ignoring case; -1 for none.
  static int32_t ChooseVDir(const tListenerData& settings, const std::string& path);

  // What producers see; from any thread.
  const tRequest& Request() const override { return Dispatched; }
  std::string TakeLaterBytes() override { return Body.TakeAll(); }
  tBodyRead ReadBody(void* buffer, size_t size, DWORD timeoutMs) override;
  bool QueueReply(const std::string& text) override;
  bool QueueFile(HANDLE file, uint64_t length, uint64_t offset) override;
  void MarkResponseComplete() override;
  void CutOff() override;
  void WakeWorker() override { Wake(); }

  // The worker: the producer's first call is its to make (a plug-in's code never runs on the main thread);
  // true once.
  bool TakeStart() { return StartOnWorker.exchange(false); }
  // The worker, as the connection's exchange ends: producers' writes and reads waiting return, and no more
  // are taken.
  void EndExchange();
  // A producer's write waited the time-out for a client that took nothing: the worker ends the connection.
  bool CutOffAsked() const { return CutOffFlag; }
  // Milliseconds since the last progress (bytes of the request in, bytes of the reply out, a change of
  // phase).
  DWORD MillisecondsWithoutProgress() const;
  // How long a client may take no part of a reply before it is cut off: the listener's ConnectTimeout, and
  // never less than kMinProgressWaitMs.
  DWORD ProgressWaitMs() const;
  // Bytes read from the socket so far.
  size_t ReceivedCount() const { return BytesRead; }

  std::atomic<tConnectionPhase> Phase{phClosed}; // written on the main thread only
  // Auto-reset; set when the phase moves on to its end, later bytes arrive or a producer asks.
  HANDLE WakeEvent = nullptr;
  // Created on the main thread by ProcessRequest before the phase leaves phReading; the worker uses it only
  // afterwards.
  std::unique_ptr<tWSIOBase> Producer;
  tWSListener* Listener = nullptr; // borrowed; main thread only, while it adopts
  // What the body stream may hold before reading waits for the producer.
  static constexpr size_t kMaxLaterBytes = 256 * 1024;
  // What the reply queue may hold, and what the socket's own queue holds before the main thread takes more
  // from it: a producer's writes wait beyond these.
  static constexpr size_t kMaxQueuedReplyBytes = 256 * 1024;
  static constexpr size_t kMaxSocketBlocks = 4;
  // A reader is never cut off sooner than this, whatever the ConnectTimeout.
  static constexpr DWORD kMinProgressWaitMs = 1000;

protected:
  bool FireDataAvailable(WORD error) override;
  void FireDataSent(WORD error) override;
  void FireChangeState(TSocketState oldState, TSocketState newState) override;
  void FireSendData(int32_t bytesSent) override;
  void HandlePeerClose(WORD error) override;

private:
  void SetPhase(tConnectionPhase phase);
  void Wake();
  void NoteProgress();
  void DispatchIfComplete();
  void DispatchRequest();
  void Refuse(int32_t code);
  void Complete();
  void EndWhenAllSent();
  // Moves what the reply queue holds into the socket's queue while that has room; completes the reply once
  // it is all there.
  void SendQueuedReply();
  bool Queue(tReplyQueue::tPiece& piece);
  // Runs the step on the main thread later, when called from another thread.
  void OnMainThread(void (tWSHandler::*step)());
  void AbortIfConnected();
  // Keeps the bytes; true when they are later bytes for the producer.
  bool TakeReceived(const char* bytes, size_t count);
  bool WaitForProducer();
  void EndBodyIfAllRead();
  void ReadEvents(long events);
  void LearnPeer();

  tRequest Dispatched;                // the request: written on the main thread before phProducing
  tRequestReader Reader;              // main thread only
  std::unique_ptr<char[]> ReadBuffer; // main thread only
  std::string Received;               // main thread only: what arrived until dispatch
  bool PeerHalfClosed = false;        // main thread only: the peer's sending side ended before the reply
  tBodyStream Body;                   // the body after dispatch; locks itself
  tReplyQueue Reply;                  // locks itself
  std::atomic<bool> StartOnWorker{false};
  std::atomic<bool> CutOffFlag{false};
  std::atomic<DWORD> LastProgress{0}; // GetTickCount of the last progress
  std::atomic<size_t> BytesRead{0};
};
