// The socket of one accepted connection and the state of the one request that arrives on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32.h"
#include "server/Connection.h"
#include "server/RequestReader.h"
#include "settings/ListenerData.h"
#include "socket/WSocket.h"

class tWSListener;
class tWSIOBase;
class tWSHandler;

// Runs work on the main thread and returns when it is done (directly when called there).
using tMainThreadRunner = void (*)(const std::function<void()>& work);

// A handler class: its virtual constructor, called on the main thread.
using tWSHandlerClass = std::unique_ptr<tWSHandler> (*)(tMainThreadRunner runOnMainThread);

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

class tWSHandler : public TWSocket, public tConnection {
public:
  explicit tWSHandler(tMainThreadRunner runOnMainThread);
  ~tWSHandler() override;

  template <class tHandler> static std::unique_ptr<tWSHandler> Create(tMainThreadRunner runOnMainThread) {
    return std::make_unique<tHandler>(runOnMainThread);
  }

  // Every socket operation below runs on the main thread, which owns the socket: the listener adopts the
  // connection there, and the data notification processes the request as soon as it is complete.
  virtual void TakeSocket(SOCKET handle, tWSListener& listener);
  virtual void ProcessRequest();
  // Exchanged and sent, or no longer connected: the worker may close.
  bool IsDone() const { return Phase >= phSent; }
  bool IsConnected() const { return Phase != phClosed; }
  // The directory whose VirtualPath is the longest prefix of the path as it stands (an absolute target
  // with its scheme and host), ignoring case; -1 for none.
  static int32_t ChooseVDir(const tListenerData& settings, const std::string& path);

  // What producers see; from any thread.
  const tRequest& Request() const override { return Dispatched; }
  std::string TakeLaterBytes() override;
  void QueueReply(const std::string& text) override;
  void QueueFile(HANDLE file, uint64_t length) override;
  void MarkResponseComplete() override;
  void WakeWorker() override { Wake(); }

  // The worker: milliseconds since the last progress (bytes of the request in, bytes of the reply out, a
  // change of phase).
  DWORD MillisecondsWithoutProgress() const;
  // Bytes read from the socket so far.
  size_t ReceivedCount() const { return BytesRead; }

  std::atomic<tConnectionPhase> Phase{phClosed}; // written on the main thread only
  // Auto-reset; set when the phase moves on to its end or later bytes arrive.
  HANDLE WakeEvent = nullptr;
  // Created on the main thread by ProcessRequest before the phase leaves phReading; the worker uses it only
  // afterwards.
  std::unique_ptr<tWSIOBase> Producer;
  tWSListener* Listener = nullptr; // borrowed; main thread only, while it adopts
  // What Later may hold before reading waits for the producer.
  static constexpr size_t kMaxLaterBytes = 256 * 1024;

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
  // Keeps the bytes; true when they are later bytes for the producer.
  bool TakeReceived(const char* bytes, size_t count);
  bool WaitForProducer();
  void ReadEvents(long events);
  void LearnPeer();

  const tMainThreadRunner RunOnMainThread;
  tRequest Dispatched;                // the request: written on the main thread before phProducing
  tRequestReader Reader;              // main thread only
  std::unique_ptr<char[]> ReadBuffer; // main thread only
  bool PeerHalfClosed = false;        // main thread only: the peer's sending side ended before the reply
  // Guards Received, Later, BodyLeft and ReadingPaused (main thread and worker).
  mutable std::mutex ReceivedLock;
  std::string Received;               // what arrived until dispatch
  std::string Later;                  // body bytes after dispatch that the producer has not taken yet
  uint64_t BodyLeft = 0;              // body bytes still to arrive after dispatch
  bool ReadingPaused = false;         // Later is full: the socket is not read until the producer takes it
  std::atomic<DWORD> LastProgress{0}; // GetTickCount of the last progress
  std::atomic<size_t> BytesRead{0};
};
