// What a producer sees of its connection: the request it answers, and the one way back to the client.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win32.h"
#include "server/BodyStream.h"
#include "server/HTTPTools.h"
#include "settings/ListenerData.h"

class tLibraryCache;

// The ConnectTimeout used where the setting is negative.
inline constexpr int32_t kDefaultConnectTimeoutMs = 10000;

// The dispatched request: filled before its producer exists, read-only afterwards, so any thread may read it.
struct tRequest {
  std::string Version;
  std::string Method;
  std::string URL;
  std::string Path;
  std::string Query;
  // The raw request as dispatched: line, header, blank line and the body, or its first part when the body is
  // larger than what is held whole; never a byte past the declared body.
  std::string Received;
  size_t HeaderLength = 0; // of Received: the request line, header and blank line
  uint32_t BodyLength = 0; // as declared by Content-Length; 0 without
  std::string RemoteAddr;  // the peer's address in dotted form
  sockaddr_in PeerSockAddr{};
  bool SendConnectionClose = false; // the client did not ask to close: say that the server will
  // The listener's settings, shared so that they outlive the listener while the connection runs.
  std::shared_ptr<const tListenerData> Settings;
  // The listener's plug-in libraries; shared for the same reason.
  std::shared_ptr<tLibraryCache> Libraries;

  // The value of the header field of that name, ignoring case; "" when none.
  std::string Header(std::string_view name) const { return HeaderValue(Received, name); }
  // The listener's ConnectTimeout in milliseconds.
  DWORD ConnectTimeoutMs() const {
    const int32_t timeout = Settings ? Settings->ConnectTimeout : kDefaultConnectTimeoutMs;
    return static_cast<DWORD>(timeout < 0 ? kDefaultConnectTimeoutMs : timeout);
  }
};

// Every operation may be called from any thread, and none waits for the main thread: plug-ins answer from
// threads of their own.
class tConnection {
public:
  virtual ~tConnection() = default;

  virtual const tRequest& Request() const = 0;
  // The body's bytes that arrived after the request was dispatched and were not taken yet; bytes past the
  // declared body are dropped as they arrive. Taking them lets reading go on where it waited.
  virtual std::string TakeLaterBytes() = 0;
  // The same bytes read as a stream: up to size of them, waiting at most timeoutMs for the first.
  virtual tBodyRead ReadBody(void* buffer, size_t size, DWORD timeoutMs) = 0;
  // Queued behind everything queued before. Waits while the connection's queue is full; false (and dropped)
  // when the connection is down or ends meanwhile, or when its client took nothing for the time-out, which
  // ends the connection.
  virtual bool QueueReply(const std::string& text) = 0;
  // length bytes of an open file from offset on; the connection owns the handle from here on (closed when
  // the connection is down).
  virtual bool QueueFile(HANDLE file, uint64_t length, uint64_t offset = 0) = 0;
  // The reply is complete: once what was queued before is out, the connection ends.
  virtual void MarkResponseComplete() = 0;
  // The client is still connected.
  virtual bool IsConnected() const = 0;
  // Ends the connection at once: what is still queued is dropped.
  virtual void CutOff() = 0;
  // The producer has work for its worker: its Poll runs soon.
  virtual void WakeWorker() = 0;
};
