// One request as an ISAPI extension sees it: its own control block and the texts it points to, the server
// variables, and the asynchronous operations the extension asked for. It lives while the extension may still
// use the block: until the extension is done with the session, even after the connection went.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "plugins/PluginSession.h"
#include "plugins/sdk/Isapi2.h"
#include "server/Connection.h"
#include "server/LibraryCache.h"

class tisapiLoadedLibrary;

class tisapiSession : public tPluginSession {
public:
  // An operation that completes later, on the connection's worker, through the extension's completion
  // function.
  struct tAsyncOp {
    enum tKind : uint8_t { aoWrite, aoRead, aoTransmit } Kind = aoWrite;
    void* Buffer = nullptr; // the extension's, for writes and reads; valid until the completion
    DWORD Size = 0;
    HSE_TF_INFO Transmit{}; // for aoTransmit
    PFN_HSE_IO_COMPLETION Completion = nullptr;
    PVOID Context = nullptr;
    DWORD Issued = 0; // GetTickCount when it was asked for
  };

  // Fills the control block for the producer's request; bound is how many requests the request's directory
  // lets into the extension at once.
  tisapiSession(tWSIOBase& producer, tisapiLoadedLibrary& library, tLibraryCache::tLease lease,
                uint32_t bound);

  // The server's own variables and the request's headers (only by HTTP_ names); nullopt for a name this
  // server does not provide and for a header the request lacks. Answered from the session's own copy, so
  // also after the client has gone.
  std::optional<std::string> Variable(const std::string& name) const;
  const tRequest& Request() const { return RequestCopy; }

  // HSE_REQ_IO_COMPLETION.
  void SetCompletion(PFN_HSE_IO_COMPLETION completion, PVOID context);
  // Queues an operation for the worker and wakes it; 0, or the error that refuses it: no completion function
  // (ERROR_INVALID_PARAMETER), or the connection is gone (ERROR_NETNAME_DELETED).
  DWORD QueueAsync(tAsyncOp op);
  // The worker: runs queued operations, in order, as far as they can run now, each completion after its
  // operation; returns the longest wait before it looks again.
  DWORD RunAsync(tWSIOBase& producer);
  // The worker, as the connection ends: what is still queued completes with ERROR_NETNAME_DELETED, and
  // nothing is queued afterwards.
  void FailAsync();

  EXTENSION_CONTROL_BLOCK Ecb{};
  tisapiLoadedLibrary& Library;
  const uint32_t Bound;
  // The library's lock guards these two: the extension was given the request, and it started with it.
  bool Granted = false;
  bool Started = false;
  std::atomic<bool> Answered{false}; // some of the reply was queued

private:
  struct tOutcome {
    bool Done = true;
    DWORD Bytes = 0;
    DWORD Error = 0;
    DWORD Wait = INFINITE; // when not Done
  };
  tOutcome Perform(const tAsyncOp& op, tWSIOBase& producer);
  tOutcome Read(const tAsyncOp& op, tWSIOBase& producer);
  tOutcome TransmitFile(const tAsyncOp& op, tWSIOBase& producer);
  void Complete(const tAsyncOp& op, DWORD bytes, DWORD error);

  const tLibraryCache::tLease Lease; // the library stays loaded while the extension may call back
  tRequest RequestCopy;              // without its body
  std::string ScriptName;
  std::string PathInfo;
  std::string PathTranslated;
  std::string Method;
  std::string Query;
  std::string ContentType;
  std::string FirstPart; // the body as far as it came with the request
  std::mutex AsyncLock;  // guards Completion, CompletionContext, Pending and AsyncEnded
  PFN_HSE_IO_COMPLETION Completion = nullptr;
  PVOID CompletionContext = nullptr;
  std::deque<tAsyncOp> Pending;
  bool AsyncEnded = false;
};
