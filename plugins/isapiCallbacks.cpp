#include "plugins/isapiCallbacks.h"

#include <cstring>
#include <memory>
#include <optional>

#include "plugins/SubRequestConnection.h"
#include "plugins/isapiLoadedLibrary.h"
#include "plugins/isapiSession.h"
#include "server/Connection.h"
#include "server/WSHandler.h"
#include "server/WSIOBase.h"
#include "server/WSIO_STD.h"
#include "settings/CoreAPITools.h"

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// A callback's session; nullptr for a handle that names no request (any more).
std::shared_ptr<tisapiSession> SessionOf(HCONN connection) {
  return tPluginSession::Find<tisapiSession>(connection);
}

// A text the extension passes with a count: the count when it gives one, else up to its zero.
std::string TextOf(const char* text, DWORD count) {
  if (text == nullptr)
    return "";
  return count > 0 ? std::string(text, strnlen(text, count)) : std::string(text);
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// Queues the text on the session's connection; false when the client has gone.
bool Send(tisapiSession& session, const std::string& text) {
  bool sent = false;
  session.Use([&](tWSIOBase& producer) { sent = producer.SendReply(text); });
  if (sent)
    session.Answered = true;
  return sent;
}

BOOL Queued(DWORD error) {
  return error == 0 ? TRUE : Fail(error);
}

} // namespace

std::string tisapiCallbacks::StatusHeadersFor(const tWSIOBase& producer, const std::string& status) {
  const std::string line = Trim(status.substr(0, status.find_first_of("\r\n")));
  size_t digits = 0;
  while (digits < line.size() && digits < 3 && line[digits] >= '0' && line[digits] <= '9')
    ++digits;
  if (digits < 3 || (line.size() > 3 && line[3] != ' '))
    return producer.StatusHeaders(200);
  const int32_t code = std::stoi(line.substr(0, 3));
  const std::string reason = Trim(line.substr(3));
  return StatusHeaderLines(code, reason.empty() ? ReasonPhrase(code) : reason,
                           producer.Handler.Request().SendConnectionClose);
}

// As the published interface has it: a value that does not fit is not cut; the size needed comes back with
// ERROR_INSUFFICIENT_BUFFER and the buffer is left alone.
BOOL WINAPI tisapiCallbacks::GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size) {
  if (name == nullptr || size == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  try {
    const auto session = SessionOf(connection);
    if (!session)
      return Fail(ERROR_INVALID_PARAMETER);
    const std::optional<std::string> value = session->Variable(name);
    if (!value)
      return Fail(ERROR_INVALID_INDEX);
    const DWORD needed = static_cast<DWORD>(value->size() + 1);
    if (buffer == nullptr || *size < needed) {
      *size = needed;
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, value->c_str(), needed);
    *size = needed;
    return TRUE;
  } catch (const std::exception&) {
    // The value could not be formed (the host name query failed).
    return Fail(ERROR_INVALID_INDEX);
  }
}

// Synchronous: the bytes are queued when this returns (waiting while the connection's queue is full).
// Asynchronous: the worker queues them and then calls the completion function.
BOOL WINAPI tisapiCallbacks::WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD flags) {
  try {
    const auto session = SessionOf(connection);
    if (!session || bytes == nullptr || (buffer == nullptr && *bytes > 0))
      return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & HSE_IO_ASYNC) != 0) {
      tisapiSession::tAsyncOp op;
      op.Kind = tisapiSession::tAsyncOp::aoWrite;
      op.Buffer = buffer;
      op.Size = *bytes;
      return Queued(session->QueueAsync(op));
    }
    if (*bytes == 0)
      return TRUE;
    if (!Send(*session, std::string(static_cast<const char*>(buffer), *bytes)))
      return Fail(ERROR_NETNAME_DELETED);
    return TRUE;
  } catch (const std::exception&) {
    return Fail(ERROR_NETNAME_DELETED);
  }
}

// The body past what the control block holds, as it arrives: waits for bytes up to the connection time-out
// (a client that sends none is then cut off); TRUE with 0 bytes at the body's end or once the client has
// gone.
BOOL WINAPI tisapiCallbacks::ReadClient(HCONN connection, LPVOID buffer, LPDWORD size) {
  const auto session = SessionOf(connection);
  if (!session || size == nullptr || (buffer == nullptr && *size > 0))
    return Fail(ERROR_INVALID_PARAMETER);
  if (*size == 0)
    return TRUE;
  size_t count = 0;
  session->Use([&](tWSIOBase& producer) {
    tConnection& client = producer.Handler;
    const tBodyRead read = client.ReadBody(buffer, *size, client.Request().ConnectTimeoutMs());
    if (read.TimedOut)
      client.CutOff();
    count = read.Count;
  });
  *size = static_cast<DWORD>(count);
  return TRUE;
}

BOOL WINAPI tisapiCallbacks::ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer,
                                                   LPDWORD size, LPDWORD dataType) {
  try {
    const auto session = SessionOf(connection);
    if (!session)
      return Fail(ERROR_INVALID_PARAMETER);
    const char* text = static_cast<const char*>(buffer);
    switch (request) {
    case HSE_REQ_SEND_RESPONSE_HEADER: {
      const char* header = reinterpret_cast<const char*>(dataType);
      return SendResponseHeader(*session, text != nullptr ? text : "", header,
                                header != nullptr ? std::strlen(header) : 0);
    }
    case HSE_REQ_SEND_RESPONSE_HEADER_EX:
      return SendHeaderEx(*session, static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer));
    case HSE_REQ_SEND_URL_REDIRECT_RESP:
      return Redirect(*session, text);
    case HSE_REQ_SEND_URL:
      return SendUrl(*session, text);
    case HSE_REQ_MAP_URL_TO_PATH:
      return MapUrlToPath(*session, buffer, size);
    case HSE_REQ_MAP_URL_TO_PATH_EX:
      return MapUrlToPathEx(*session, text, reinterpret_cast<HSE_URL_MAPEX_INFO*>(dataType));
    case HSE_REQ_DONE_WITH_SESSION:
      return DoneWithSession(*session);
    // One request per connection: the connection never stays open for another.
    case HSE_REQ_IS_KEEP_CONN:
      return WriteBool(buffer, FALSE);
    case HSE_REQ_IS_CONNECTED: {
      bool connected = false;
      session->Use([&](tWSIOBase& producer) { connected = producer.Handler.IsConnected(); });
      return WriteBool(buffer, connected ? TRUE : FALSE);
    }
    case HSE_REQ_CLOSE_CONNECTION:
    case HSE_REQ_ABORTIVE_CLOSE:
      session->Use([](tWSIOBase& producer) { producer.Handler.CutOff(); });
      return TRUE;
    case HSE_REQ_IO_COMPLETION:
      if (buffer == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
      session->SetCompletion(reinterpret_cast<PFN_HSE_IO_COMPLETION>(buffer), dataType);
      return TRUE;
    case HSE_REQ_ASYNC_READ_CLIENT: {
      if (buffer == nullptr || size == nullptr || *size == 0)
        return Fail(ERROR_INVALID_PARAMETER);
      tisapiSession::tAsyncOp op;
      op.Kind = tisapiSession::tAsyncOp::aoRead;
      op.Buffer = buffer;
      op.Size = *size;
      return Queued(session->QueueAsync(op));
    }
    case HSE_REQ_TRANSMIT_FILE: {
      const auto* info = static_cast<const HSE_TF_INFO*>(buffer);
      if (info == nullptr || info->hFile == nullptr || info->hFile == INVALID_HANDLE_VALUE)
        return Fail(ERROR_INVALID_PARAMETER);
      tisapiSession::tAsyncOp op;
      op.Kind = tisapiSession::tAsyncOp::aoTransmit;
      op.Transmit = *info;
      op.Completion = info->pfnHseIO;
      op.Context = info->pContext;
      return Queued(session->QueueAsync(op));
    }
    default:
      return Fail(ERROR_INVALID_PARAMETER);
    }
  } catch (const std::exception&) {
    // The request is lost with its connection.
    return Fail(ERROR_NETNAME_DELETED);
  }
}

// Without header lines the server ends the header block itself; with them the extension does, as its text
// continues the block directly.
BOOL tisapiCallbacks::SendResponseHeader(tisapiSession& session, const std::string& status,
                                         const char* header, size_t headerLength) {
  bool sent = false;
  session.Use([&](tWSIOBase& producer) {
    sent = producer.SendReply(StatusHeadersFor(producer, status) +
                              (headerLength > 0 ? std::string(header, headerLength) : "\r\n"));
  });
  if (!sent)
    return Fail(ERROR_NETNAME_DELETED);
  session.Answered = true;
  return TRUE;
}

// The keep-connection wish is not granted: one request per connection.
BOOL tisapiCallbacks::SendHeaderEx(tisapiSession& session, const HSE_SEND_HEADER_EX_INFO* info) {
  if (info == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const std::string header = TextOf(info->pszHeader, info->cchHeader);
  return SendResponseHeader(session, TextOf(info->pszStatus, info->cchStatus), header.data(), header.size());
}

BOOL tisapiCallbacks::Redirect(tisapiSession& session, const char* url) {
  const std::string location = url != nullptr ? Trim(url) : "";
  if (location.empty() || HasLineBreak(location))
    return Fail(ERROR_INVALID_PARAMETER);
  const std::string header = "Location: " + location + "\r\nContent-Length: 0\r\n\r\n";
  return SendResponseHeader(session, "302 Found", header.data(), header.size());
}

// A URL of a static directory of the listener is served here, as if the client had asked for it; any other
// (a plug-in's, another host's) is answered with a redirect, so that the client asks for it itself.
BOOL tisapiCallbacks::SendUrl(tisapiSession& session, const char* url) {
  const std::string target = url != nullptr ? Trim(url) : "";
  if (target.empty() || HasLineBreak(target))
    return Fail(ERROR_INVALID_PARAMETER);
  const tRequest& request = session.Request();
  const int32_t chosen =
      target[0] == '/' && request.Settings ? tWSHandler::ChooseVDir(*request.Settings, target) : -1;
  if (chosen < 0 || request.Settings->VDirs[static_cast<size_t>(chosen)].Kind != vkStatic)
    return Redirect(session, target.c_str());
  bool served = false;
  session.Use([&](tWSIOBase& producer) {
    tRequest subRequest = request;
    const tRequestLine line = ParseRequestLine("GET " + target + " " + request.Version + "\r\n");
    subRequest.Method = "GET";
    subRequest.URL = line.URL;
    subRequest.Path = line.Path;
    subRequest.Query = line.Query;
    tSubRequestConnection connection(producer.Handler, std::move(subRequest));
    tWSIO_STD(connection, request.Settings->VDirs[static_cast<size_t>(chosen)]).HandleData("");
    served = producer.Handler.IsConnected();
  });
  if (served)
    session.Answered = true;
  return served ? TRUE : Fail(ERROR_NETNAME_DELETED);
}

// The physical path replaces the URL in the buffer; its size in and out, the terminating zero included.
BOOL tisapiCallbacks::MapUrlToPath(tisapiSession& session, LPVOID buffer, LPDWORD size) {
  if (buffer == nullptr || size == nullptr || *size == 0)
    return Fail(ERROR_INVALID_PARAMETER);
  // The URL is a zero-terminated text; the size is the room for what replaces it.
  const std::string url(static_cast<const char*>(buffer));
  const auto& settings = session.Request().Settings;
  const auto mapped = settings ? tWSIO_STD::MapUrl(*settings, url) : std::nullopt;
  if (!mapped)
    return Fail(ERROR_INVALID_PARAMETER);
  const DWORD needed = static_cast<DWORD>(mapped->Path.size() + 1);
  if (*size < needed) {
    *size = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, mapped->Path.c_str(), needed);
  *size = needed;
  return TRUE;
}

BOOL tisapiCallbacks::MapUrlToPathEx(tisapiSession& session, const char* url, HSE_URL_MAPEX_INFO* info) {
  if (url == nullptr || info == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const auto& settings = session.Request().Settings;
  const auto mapped = settings ? tWSIO_STD::MapUrl(*settings, url) : std::nullopt;
  if (!mapped)
    return Fail(ERROR_INVALID_PARAMETER);
  if (mapped->Path.size() >= sizeof info->lpszPath)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  *info = HSE_URL_MAPEX_INFO{};
  std::memcpy(info->lpszPath, mapped->Path.c_str(), mapped->Path.size() + 1);
  const bool isStatic = settings->VDirs[static_cast<size_t>(mapped->VDirIndex)].Kind == vkStatic;
  info->dwFlags = isStatic ? HSE_URL_FLAGS_READ : HSE_URL_FLAGS_EXECUTE | HSE_URL_FLAGS_SCRIPT;
  info->cchMatchingPath = static_cast<DWORD>(mapped->MatchedPath);
  info->cchMatchingURL = static_cast<DWORD>(mapped->MatchedUrl);
  return TRUE;
}

BOOL tisapiCallbacks::WriteBool(LPVOID buffer, BOOL value) {
  if (buffer == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  *static_cast<BOOL*>(buffer) = value;
  return TRUE;
}

// The extension is free again also when the client has gone meanwhile.
BOOL tisapiCallbacks::DoneWithSession(tisapiSession& session) {
  if (!session.Use([](tWSIOBase& producer) { producer.Finish(); }))
    session.Library.Leave(session);
  return TRUE;
}
