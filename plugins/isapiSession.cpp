#include "plugins/isapiSession.h"

#include <algorithm>
#include <cstring>

#include "plugins/isapiCallbacks.h"
#include "plugins/isapiLoadedLibrary.h"
#include "server/WSIOBase.h"
#include "server/WSIO_STD.h"
#include "socket/WinsockAPI.h"
#include "settings/CoreAPITools.h"

namespace {

constexpr DWORD kTransmitChunk = 64 * 1024;

// The server's own variables; every other name is either a header (HTTP_ names) or not provided.
struct tVariableRow {
  const char* Name;
  std::string (*Value)(const tRequest& request);
};

std::string Empty(const tRequest&) {
  return "";
}
std::string RemoteAddr(const tRequest& r) {
  return r.RemoteAddr;
}

const tVariableRow kVariables[] = {
    {"AUTH_TYPE", &Empty},
    {"AUTH_USER", &Empty},
    {"CONTENT_LENGTH", [](const tRequest& r) { return std::to_string(r.BodyLength); }},
    {"CONTENT_TYPE", [](const tRequest& r) { return r.Header("Content-Type"); }},
    {"GATEWAY_INTERFACE", [](const tRequest&) { return std::string("CGI/1.1"); }},
    {"HTTPS", [](const tRequest&) { return std::string("off"); }},
    {"QUERY_STRING", [](const tRequest& r) { return r.Query; }},
    {"REMOTE_ADDR", &RemoteAddr},
    {"REMOTE_HOST", &RemoteAddr},
    {"REMOTE_PORT",
     [](const tRequest& r) { return std::to_string(SwapBytes32(r.PeerSockAddr.sin_port) >> 16); }},
    {"REMOTE_USER", &Empty},
    {"UNMAPPED_REMOTE_USER", &Empty},
    {"REQUEST_METHOD", [](const tRequest& r) { return r.Method; }},
    {"SERVER_NAME", [](const tRequest&) { return LocalHostName(); }},
    {"SERVER_PORT", [](const tRequest& r) { return r.Settings ? r.Settings->PortText : std::string(); }},
    {"SERVER_PORT_SECURE", [](const tRequest&) { return std::string("0"); }},
    {"SERVER_PROTOCOL", [](const tRequest& r) { return r.Version; }},
    {"SERVER_SOFTWARE", [](const tRequest&) { return std::string(kServerName); }},
    {"URL", [](const tRequest& r) { return r.Path; }},
    {"ALL_RAW", [](const tRequest& r) { return std::string(RawHeaderLines(r.Received)); }},
};

// ALL_HTTP: every header as HTTP_NAME:value, one per line, as the HTTP_ names read them.
std::string AllHttp(const tRequest& request) {
  std::string all;
  for (const tHeaderField& field : HeaderFields(request.Received)) {
    std::string name = UpperCase(field.Name);
    std::replace(name.begin(), name.end(), '-', '_');
    all += "HTTP_" + name + ":" + field.Value + "\n";
  }
  return all;
}

} // namespace

tisapiSession::tisapiSession(tWSIOBase& producer, tisapiLoadedLibrary& library, tLibraryCache::tLease lease,
                             uint32_t bound)
    : tPluginSession(producer), Library(library), Bound(bound), Lease(std::move(lease)),
      RequestCopy(producer.Handler.Request()) {
  const tRequest& request = producer.Handler.Request();
  FirstPart = request.Received.substr(std::min(request.HeaderLength, request.Received.size()));
  RequestCopy.Received.resize(std::min(request.HeaderLength, request.Received.size()));
  RequestCopy.Received.shrink_to_fit();
  ScriptName = producer.Target.ScriptName;
  PathInfo = producer.Target.PathInfo;
  if (!PathInfo.empty() && request.Settings)
    if (const auto mapped = tWSIO_STD::MapUrl(*request.Settings, PathInfo))
      PathTranslated = mapped->Path;
  Method = request.Method;
  Query = request.Query;
  ContentType = request.Header("Content-Type");
  Ecb.cbSize = sizeof Ecb;
  Ecb.dwVersion = HSE_VERSION;
  Ecb.ConnID = Handle();
  Ecb.lpszMethod = Method.data();
  Ecb.lpszQueryString = Query.data();
  Ecb.lpszPathInfo = PathInfo.data();
  Ecb.lpszPathTranslated = PathTranslated.data();
  Ecb.cbTotalBytes = request.BodyLength;
  Ecb.cbAvailable = static_cast<DWORD>(FirstPart.size());
  Ecb.lpbData = FirstPart.empty() ? nullptr : reinterpret_cast<LPBYTE>(FirstPart.data());
  Ecb.lpszContentType = ContentType.data();
}

std::optional<std::string> tisapiSession::Variable(const std::string& name) const {
  const std::string upper = UpperCase(name);
  for (const tVariableRow& row : kVariables)
    if (upper == row.Name)
      return row.Value(RequestCopy);
  if (upper == "SCRIPT_NAME")
    return ScriptName;
  if (upper == "PATH_INFO")
    return PathInfo;
  if (upper == "PATH_TRANSLATED")
    return PathTranslated;
  if (upper == "ALL_HTTP")
    return AllHttp(RequestCopy);
  // Only these names read the request's headers: no header can pass for a variable of the server's.
  if (!upper.starts_with("HTTP_") || upper.size() == 5)
    return std::nullopt;
  std::string header = upper.substr(5);
  std::replace(header.begin(), header.end(), '_', '-');
  return HeaderField(RequestCopy.Received, header);
}

void tisapiSession::SetCompletion(PFN_HSE_IO_COMPLETION completion, PVOID context) {
  std::lock_guard<std::mutex> lock(AsyncLock);
  Completion = completion;
  CompletionContext = context;
}

DWORD tisapiSession::QueueAsync(tAsyncOp op) {
  {
    std::lock_guard<std::mutex> lock(AsyncLock);
    if (op.Completion == nullptr) {
      op.Completion = Completion;
      op.Context = CompletionContext;
    }
    if (op.Completion == nullptr)
      return ERROR_INVALID_PARAMETER;
    if (AsyncEnded)
      return ERROR_NETNAME_DELETED;
    op.Issued = GetTickCount();
    Pending.push_back(op);
  }
  Use([](tWSIOBase& producer) { producer.Handler.WakeWorker(); });
  return 0;
}

DWORD tisapiSession::RunAsync(tWSIOBase& producer) {
  for (;;) {
    tAsyncOp op;
    {
      std::lock_guard<std::mutex> lock(AsyncLock);
      if (Pending.empty())
        return INFINITE;
      op = Pending.front();
    }
    const tOutcome outcome = Perform(op, producer);
    if (!outcome.Done)
      return outcome.Wait;
    {
      std::lock_guard<std::mutex> lock(AsyncLock);
      Pending.pop_front();
    }
    // The completion may ask for the next operation: it is queued behind, and this loop takes it.
    Complete(op, outcome.Bytes, outcome.Error);
  }
}

void tisapiSession::FailAsync() {
  std::deque<tAsyncOp> failed;
  {
    std::lock_guard<std::mutex> lock(AsyncLock);
    AsyncEnded = true;
    failed.swap(Pending);
  }
  for (const tAsyncOp& op : failed)
    Complete(op, 0, ERROR_NETNAME_DELETED);
}

// Not once the extension was told to unload.
void tisapiSession::Complete(const tAsyncOp& op, DWORD bytes, DWORD error) {
  const tLoadedLibrary::tEntryCall call(Library);
  if (call.Allowed())
    op.Completion(&Ecb, op.Context, bytes, error);
}

tisapiSession::tOutcome tisapiSession::Perform(const tAsyncOp& op, tWSIOBase& producer) {
  switch (op.Kind) {
  case tAsyncOp::aoWrite:
    if (producer.SendReply(std::string(static_cast<const char*>(op.Buffer), op.Size)))
      return {true, op.Size, 0};
    return {true, 0, ERROR_NETNAME_DELETED};
  case tAsyncOp::aoRead:
    return Read(op, producer);
  case tAsyncOp::aoTransmit:
    return TransmitFile(op, producer);
  }
  return {};
}

// As ReadClient: bytes as they come, 0 at the body's end or once the client has gone; a client that sends
// nothing for the time-out is cut off.
tisapiSession::tOutcome tisapiSession::Read(const tAsyncOp& op, tWSIOBase& producer) {
  tConnection& connection = producer.Handler;
  const tBodyRead read = connection.ReadBody(op.Buffer, op.Size, 0);
  if (!read.TimedOut)
    return {true, static_cast<DWORD>(read.Count), 0};
  const DWORD waited = GetTickCount() - op.Issued;
  const DWORD timeout = connection.Request().ConnectTimeoutMs();
  if (waited < timeout)
    return {false, 0, 0, timeout - waited};
  connection.CutOff();
  return {true, 0, 0};
}

// The head (after the status line and the server's headers when HSE_IO_SEND_HEADERS asks for them), the
// file's bytes from Offset (BytesToWrite of them, or the rest of the file for 0), then the tail.
tisapiSession::tOutcome tisapiSession::TransmitFile(const tAsyncOp& op, tWSIOBase& producer) {
  const HSE_TF_INFO& info = op.Transmit;
  std::string head;
  if ((info.dwFlags & HSE_IO_SEND_HEADERS) != 0)
    head =
        tisapiCallbacks::StatusHeadersFor(producer, info.pszStatusCode != nullptr ? info.pszStatusCode : "");
  if (info.pHead != nullptr)
    head.append(static_cast<const char*>(info.pHead), info.HeadLength);
  if ((info.dwFlags & HSE_IO_SEND_HEADERS) != 0 && info.pHead == nullptr)
    head += "\r\n";
  DWORD sent = 0;
  if (!head.empty() && !producer.SendReply(head))
    return {true, sent, ERROR_NETNAME_DELETED};
  sent += static_cast<DWORD>(head.size());
  LONG high = 0;
  SetLastError(NO_ERROR);
  if (SetFilePointer(info.hFile, static_cast<LONG>(info.Offset), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR)
    return {true, sent, GetLastError()};
  uint64_t left = info.BytesToWrite != 0 ? info.BytesToWrite : UINT64_MAX;
  std::string chunk(kTransmitChunk, '\0');
  while (left > 0) {
    DWORD read = 0;
    if (!ReadFile(info.hFile, chunk.data(), static_cast<DWORD>(std::min<uint64_t>(left, kTransmitChunk)),
                  &read, nullptr))
      return {true, sent, GetLastError()};
    if (read == 0)
      break;
    if (!producer.SendReply(chunk.substr(0, read)))
      return {true, sent, ERROR_NETNAME_DELETED};
    sent += read;
    left -= read;
  }
  if (info.pTail != nullptr && info.TailLength > 0) {
    if (!producer.SendReply(std::string(static_cast<const char*>(info.pTail), info.TailLength)))
      return {true, sent, ERROR_NETNAME_DELETED};
    sent += info.TailLength;
  }
  return {true, sent, 0};
}
