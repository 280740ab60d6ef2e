// The base of every response producer: status line, fixed headers, sending and completion.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "server/HTTPDates.h"
#include "server/LibraryCache.h"
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
  virtual ~tWSIOBase();
  tWSIOBase(const tWSIOBase&) = delete;
  tWSIOBase& operator=(const tWSIOBase&) = delete;

  // The handler reports that the socket has left the connected state; may come on any thread.
  virtual void ConnectionLost();
  // The first call carries the raw request with its body, or the body's first part; later calls carry only
  // body bytes that arrived after it.
  virtual void HandleData(const std::string& text);
  // The worker's pass while the request is open: work the producer left for its worker. Returns the longest
  // wait before the next pass.
  virtual DWORD Poll() { return INFINITE; }
  // On the worker, once the producer's work is over (the reply is out, or the connection is lost), before
  // the connection is torn down: afterwards no plug-in call may reach this producer.
  virtual void ConnectionEnding();
  // Served by a plug-in library: its calls run on the worker, which lets go of it as soon as the reply is
  // out.
  virtual bool UsesPlugin() const { return false; }
  // Reads the body's later bytes from the connection itself: the worker does not hand them over.
  virtual bool ReadsBodyItself() const { return false; }

  template <class tProducer>
  static std::unique_ptr<tWSIOBase> Create(tConnection& handler, const tVDirData& vdir) {
    return std::make_unique<tProducer>(handler, vdir);
  }

  // Queues text on the connection, waiting while its queue is full; false, and dropped, when the connection
  // is no longer up.
  bool SendReply(const std::string& text);
  std::string StatusHeaders(int32_t code) const;
  static std::string ContentLengthHeader(int64_t length);
  // Header lines beyond the fixed ones; they follow the lines a reply has always had.
  static std::string DateHeader(tUnixTime time);
  static std::string LastModifiedHeader(tUnixTime time);
  // The value after "=" of the first option line whose name matches, ignoring case; "" when none does.
  std::string GetOption(const std::string& name) const;
  // The reply is complete.
  void Finish();
  // Resolves the request's path to a plug-in file below the folder option, loads it through the listener's
  // cache (or finds it there) and runs it for this request; otherwise answers with the error reply.
  tLoadedLibrary* LoadPlugin(const std::string& folderOption, const std::string& extensionOption,
                             tLibraryClass libraryClass, const std::string& text);
  // The plug-in file a request path names below the folder option, and how the path splits around it: the
  // first segments of the path after VirtualPath that name a file, as they are or with the default
  // extension, are the plug-in's; what follows is its path info.
  struct tPluginTarget {
    std::string FileName;   // the file; where none was found, the name the whole path gives; "" when refused
    bool Found = false;     // FileName is a file
    std::string ScriptName; // the request's Path up to and with the segment that named the file
    std::string PathInfo;   // the rest of the Path, from its separator on; "" when the file ends the path
  };
  // A path is refused as the static producer refuses it (a ".." segment or a NUL byte).
  tPluginTarget FindPlugin(const std::string& folderOption, const std::string& extensionOption) const;
  // Another use of the library LoadPlugin found, for work that may outlive this request.
  tLibraryCache::tLease ShareLibrary() const { return LibraryLease.Share(); }

  tConnection& Handler;              // the connection and its request
  std::atomic<bool> Connected{true}; // written by whichever thread sees the state change
  const tVDirData VDir;
  const std::vector<std::string> Options;
  // The plug-in library serving this request, set by LoadPlugin; LibraryLease keeps it loaded until the
  // connection ends. Written by the thread of the first HandleData, before any plug-in call, as is Target.
  tLoadedLibrary* Library = nullptr;
  // The time replies are dated with; set before the first HandleData, read only by the producer's thread.
  tClock Clock = &CurrentUnixTime;
  tPluginTarget Target;

protected:
  // Runs as Finish begins, before the reply is marked complete: the library learns it once.
  virtual void Finished();

private:
  tLibraryCache::tLease LibraryLease;
  std::atomic<bool> Released{false};
};
