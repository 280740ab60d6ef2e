// The base of every response producer: status line, fixed headers, sending and completion.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "settings/ListenerData.h"

class tConnection;

// One row of the status table: a status code and its reason phrase.
struct tErrorCode {
  int32_t Code;
  const char* Reason;
};

extern const std::array<tErrorCode, 40> ErrorCodes;

// The reason phrase of a status code; "Unknown status" for a code the server does not know.
std::string ReasonPhrase(int32_t code);

inline constexpr const char* kServerName = "Kestrune Web Server 0.1.2.7";

// The opening lines of every reply header: status line, Server, Accept-ranges and, when asked, Connection.
std::string StatusHeaderLines(int32_t code, bool sendConnectionClose);
std::string StatusHeaderLines(int32_t code, const std::string& reason, bool sendConnectionClose);

// The value after "=" of the first name=value line whose name matches, ignoring case; "" when none does.
std::string OptionValue(const std::vector<std::string>& options, const std::string& name);
// Splits text at CR LF, LF or CR.
std::vector<std::string> SplitLines(const std::string& text);

class tWSIOBase;
// A producer class: its virtual constructor.
using tWSIOClass = std::unique_ptr<tWSIOBase> (*)(tConnection& handler, const tVDirData& vdir);

class tWSIOBase {
public:
  tWSIOBase(tConnection& handler, const tVDirData& vdir);
  virtual ~tWSIOBase() = default;
  tWSIOBase(const tWSIOBase&) = delete;
  tWSIOBase& operator=(const tWSIOBase&) = delete;

  // The handler reports that the socket has left the connected state; may come on any thread.
  virtual void ConnectionLost();
  // The first call carries the whole raw request; later calls carry only bytes that arrived after it.
  virtual void HandleData(const std::string& text);

  template <class tProducer>
  static std::unique_ptr<tWSIOBase> Create(tConnection& handler, const tVDirData& vdir) {
    return std::make_unique<tProducer>(handler, vdir);
  }

  // Queues text on the connection; dropped silently when the connection is no longer up.
  void SendReply(const std::string& text);
  std::string StatusHeaders(int32_t code) const;
  static std::string ContentLengthHeader(int64_t length);
  // The value after "=" of the first option line whose name matches, ignoring case; "" when none does.
  std::string GetOption(const std::string& name) const;
  // The reply is complete.
  void Finish();

  tConnection& Handler;              // the connection and its request
  std::atomic<bool> Connected{true}; // written by whichever thread sees the state change
  const tVDirData VDir;
  const std::vector<std::string> Options;

protected:
  // Runs after Finish has marked the reply complete: producers that hold a library release it here.
  virtual void Finished() {}
};
