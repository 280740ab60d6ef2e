// The socket of one accepted connection and the state of the one request that arrives on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32.h"
#include "server/RequestReader.h"
#include "settings/ListenerData.h"
#include "socket/WSocket.h"

class tWSHThread;
class tWSListener;
class tWSIOBase;
class tWSHandler;

// A handler class: its virtual constructor, called on the main thread.
using tWSHandlerClass = std::unique_ptr<tWSHandler> (*)(tWSHThread& thread);

// The size of the send blocks a reply is queued in.
inline constexpr int32_t kReplyBlockSize = 64 * 1024;

class tWSHandler : public TWSocket {
public:
  explicit tWSHandler(tWSHThread& thread);
  ~tWSHandler() override;

  template <class tHandler> static std::unique_ptr<tWSHandler> Create(tWSHThread& thread) {
    return std::make_unique<tHandler>(thread);
  }

  // Every socket operation below runs on the main thread, which owns the socket: the listener adopts the
  // connection there, and the data notification processes the request as soon as it is complete. IsDone,
  // IsConnected and the flags may be read from any thread.
  virtual bool IsDone() const;
  virtual void ProcessRequest();
  virtual void TakeSocket(SOCKET handle, tWSListener& listener);
  bool IsConnected() const { return Connected; }
  std::string GetHeader(const std::string& name) const;
  // The directory whose VirtualPath is the longest prefix of the path as it stands (an absolute target
  // with its scheme and host), ignoring case; -1 for none.
  static int32_t ChooseVDir(const tListenerData& settings, const std::string& path);

  // Producers, from any thread: queue reply text (dropped when the connection is down), and mark it complete.
  void QueueReply(const std::string& text);
  // Queues length bytes of an open file, which the connection owns from here on (closed when the
  // connection is down).
  void QueueFile(HANDLE file, uint64_t length);
  void MarkResponseComplete();
  // The worker: the bytes that arrived after dispatch and were not handed on yet. Taking them lets reading go
  // on where it waited for the producer.
  std::string TakeLaterBytes();
  // Milliseconds since the last progress: bytes of the request in, bytes of the reply out, a change of state.
  DWORD MillisecondsWithoutProgress() const;

  tWSListener* Listener = nullptr; // borrowed; used on the main thread only
  // The listener's settings, shared so that they outlive the listener for as long as this connection runs.
  std::shared_ptr<const tListenerData> Settings;
  tWSHThread& Thread;

  std::atomic<bool> AllSent{false};
  mutable std::mutex
      ReceivedLock;           // guards Received, ForwardPos, Later, ReadingPaused (main thread and worker)
  std::string Received;       // the request as dispatched: later bytes go to Later
  int32_t ForwardPos = 1;     // 1-based: the first byte not yet handed to the producer
  std::string Later;          // bytes after dispatch that the producer has not taken yet
  bool ReadingPaused = false; // Later is full: the socket is not read until the producer takes it
  // What Later may hold before reading waits for the producer.
  static constexpr size_t kMaxLaterBytes = 256 * 1024;
  std::atomic<bool> ProcessPending{false};
  std::atomic<bool> RequestTaken{false};
  std::atomic<bool> ResponseComplete{false};
  // Created by ProcessRequest on the main thread before RequestTaken is set; the worker uses it only after.
  std::unique_ptr<tWSIOBase> Producer;
  HANDLE ConnectedEvent = nullptr;
  HANDLE ClosedEvent = nullptr;
  // Auto-reset; set when the exchange is done, later bytes arrive, dispatch fails or the state changes.
  HANDLE WakeEvent = nullptr;
  // Creating the producer or its first HandleData failed: the connection ends.
  std::atomic<bool> DispatchFailed{false};
  // The sending side was shut down after the complete reply went out.
  std::atomic<bool> SendingShutDown{false};
  // The peer closed its sending side while this side still had a reply to send.
  std::atomic<bool> PeerClosed{false};

  // The request line; written on the main thread before RequestTaken is set, read-only afterwards.
  std::string Version;
  std::string Method;
  std::string URL;
  std::string Path;
  std::string Query;

protected:
  bool FireDataAvailable(WORD error) override;
  void FireDataSent(WORD error) override;
  void FireChangeState(TSocketState oldState, TSocketState newState) override;
  void FireSendData(int32_t bytesSent) override;
  void HandlePeerClose(WORD error) override;

private:
  tRequestReader Reader;              // main thread only
  std::unique_ptr<char[]> ReadBuffer; // main thread only

  void Wake();
  void NoteProgress();
  void DispatchIfComplete();
  void DispatchRequest();
  void Refuse(int32_t code);
  void QueueOnMainThread(const std::string& text);
  // Keeps the bytes; true when they are later bytes for the producer.
  bool TakeReceived(const char* bytes, size_t count);
  bool WaitForProducer();
  void ReadEvents(long events);

  std::atomic<bool> Connected{false}; // mirrors State == wsConnected for other threads
  std::atomic<DWORD> LastProgress{0}; // GetTickCount of the last progress
};
