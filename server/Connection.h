// What a producer sees of its connection: the request it answers, and the one way back to the client.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win32.h"
#include "server/HTTPTools.h"
#include "settings/ListenerData.h"

class tLibraryCache;

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

  // The value of the first header line of that name, ignoring case; "" when none.
  std::string Header(std::string_view name) const { return HeaderValue(Received, name); }
};

// Every operation may be called from any thread: plug-ins answer from threads of their own.
class tConnection {
public:
  virtual ~tConnection() = default;

  virtual const tRequest& Request() const = 0;
  // The body's bytes that arrived after the request was dispatched and were not taken yet; bytes past the
  // declared body are dropped as they arrive. Taking them lets reading go on where it waited.
  virtual std::string TakeLaterBytes() = 0;
  // Dropped when the connection is down.
  virtual void QueueReply(const std::string& text) = 0;
  // length bytes of an open file from its start; the connection owns the handle from here on (closed when
  // the connection is down).
  virtual void QueueFile(HANDLE file, uint64_t length) = 0;
  // The reply is complete: once it is out, the connection ends.
  virtual void MarkResponseComplete() = 0;
  // The producer has work for its worker: its Poll runs soon.
  virtual void WakeWorker() = 0;
};
