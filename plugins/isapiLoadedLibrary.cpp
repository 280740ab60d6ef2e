#include "plugins/isapiLoadedLibrary.h"

#include <algorithm>
#include <cstring>

#include "plugins/WSIO_ISAPI.h"
#include "server/Connection.h"
#include "server/WSIOBase.h"
#include "settings/CoreAPITools.h"
#include "socket/WinsockAPI.h"

namespace {

const char* const kErrorText = "THERE WAS AN ERROR WHILE HANDLING ISAPI PLUGIN :(";

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The server variables the server answers itself; the names of kUnavailable it does not provide, and any
// other name is a request header.
struct tVariableRow {
  const char* Name;
  std::string (*Value)(const tWSIOBase& producer);
};

std::string Empty(const tWSIOBase&) {
  return "";
}
std::string RemoteAddr(const tWSIOBase& p) {
  return p.Handler.Request().RemoteAddr;
}

const tVariableRow kVariables[] = {
    {"AUTH_TYPE", &Empty},
    {"PATH_INFO", &Empty},
    {"PATH_TRANSLATED", [](const tWSIOBase& p) { return p.VDir.BasePath; }},
    {"QUERY_STRING", [](const tWSIOBase& p) { return p.Handler.Request().Query; }},
    {"REMOTE_ADDR", &RemoteAddr},
    {"REMOTE_HOST", &RemoteAddr},
    {"REMOTE_USER", &Empty},
    {"UNMAPPED_REMOTE_USER", &Empty},
    {"REQUEST_METHOD", [](const tWSIOBase& p) { return p.Handler.Request().Method; }},
    {"SCRIPT_NAME", [](const tWSIOBase& p) { return p.Handler.Request().Path; }},
    {"SERVER_NAME", [](const tWSIOBase&) { return LocalHostName(); }},
    {"SERVER_PORT",
     [](const tWSIOBase& p) {
       const auto& settings = p.Handler.Request().Settings;
       return settings ? settings->PortText : std::string();
     }},
    {"SERVER_PORT_SECURE", [](const tWSIOBase&) { return std::string("0"); }},
    {"SERVER_PROTOCOL", [](const tWSIOBase& p) { return p.Handler.Request().Version; }},
    {"SERVER_SOFTWARE", [](const tWSIOBase&) { return std::string(kServerName); }},
    {"HTTP_CONTENT_VERSION", &Empty},
};

const char* const kUnavailable[] = {"ALL_HTTP",   "URL",         "HTTP_CACHE_CONTROL",
                                    "HTTP_DATE",  "HTTP_FROM",   "HTTP_DERIVED_FROM",
                                    "HTTP_TITLE", "HTTP_COOKIE", "HTTP_AUTHORIZATION"};

// A callback's session; nullptr for a handle that names no request (any more).
std::shared_ptr<tisapiSession> SessionOf(HCONN connection) {
  return tPluginSession::Find<tisapiSession>(connection);
}

} // namespace

tisapiLoadedLibrary::tisapiLoadedLibrary(tWSIOBase& /*producer*/, const std::string& fileName)
    : tBaseLoadedLibrary(fileName) {
  if (!Valid)
    return;
  GetExtensionVersion = Entry<PFN_GETEXTENSIONVERSION>("GetExtensionVersion");
  HttpExtensionProc = Entry<PFN_HTTPEXTENSIONPROC>("HttpExtensionProc");
  TerminateExtension = Entry<PFN_TERMINATEEXTENSION>("TerminateExtension");
  Valid = GetExtensionVersion != nullptr && HttpExtensionProc != nullptr;
  if (!Valid)
    return;
  HSE_VERSION_INFO version{};
  Valid = GetExtensionVersion(&version) != FALSE;
}

tisapiLoadedLibrary::~tisapiLoadedLibrary() {
  if (ModuleHandle != nullptr && TerminateExtension != nullptr)
    TerminateExtension(HSE_TERM_MUST_UNLOAD);
}

void tisapiLoadedLibrary::Run(tWSIOBase& producer, const std::string& text) {
  auto& isapi = static_cast<tWSIO_ISAPI&>(producer);
  auto session = tPluginSession::Make<tisapiSession>(producer, *this, producer.ShareLibrary(), text);
  session->Ecb.GetServerVariable = &GetServerVariable;
  session->Ecb.WriteClient = &WriteClient;
  session->Ecb.ReadClient = &ReadClient;
  session->Ecb.ServerSupportFunction = &ServerSupportFunction;
  isapi.Session = session;
  if (Enter(session))
    Call(*session, producer);
  else
    isapi.WaitInLine();
}

bool tisapiLoadedLibrary::IsLetIn(const tisapiSession& session) {
  std::lock_guard<std::mutex> lock(Lock);
  return session.Granted;
}

bool tisapiLoadedLibrary::Enter(const std::shared_ptr<tisapiSession>& session) {
  std::lock_guard<std::mutex> lock(Lock);
  if (!Ready) {
    Waiting.push_back(session);
    return false;
  }
  Ready = false;
  Current = session;
  session->Granted = true;
  return true;
}

// A header sent while the extension still runs ends nothing yet: its body follows with WriteClient.
void tisapiLoadedLibrary::Call(tisapiSession& session, tWSIOBase& producer) {
  {
    std::lock_guard<std::mutex> lock(Lock);
    session.Started = true;
  }
  session.InCall = true;
  const DWORD result = HttpExtensionProc(&session.Ecb);
  session.Result = result;
  session.InCall = false;
  switch (result) {
  case HSE_STATUS_SUCCESS:
  case HSE_STATUS_ERROR:
    return producer.Finish();
  case HSE_STATUS_SUCCESS_AND_KEEP_CONN:
    if (session.HeaderSent)
      producer.Finish();
    return;
  case HSE_STATUS_PENDING:
    return;
  default:
    producer.SendReply(producer.StatusHeaders(200) + "\r\n" + kErrorText);
    return producer.Finish();
  }
}

bool tisapiLoadedLibrary::Withdraw(tisapiSession& session) {
  std::lock_guard<std::mutex> lock(Lock);
  const auto found = std::find_if(Waiting.begin(), Waiting.end(),
                                  [&session](const auto& waiting) { return waiting.get() == &session; });
  if (found == Waiting.end())
    return false;
  Waiting.erase(found);
  return true;
}

void tisapiLoadedLibrary::Leave(tisapiSession& session) {
  std::shared_ptr<tisapiSession> next;
  {
    std::lock_guard<std::mutex> lock(Lock);
    if (Current.get() != &session)
      return;
    Current.reset();
    if (Waiting.empty()) {
      Ready = true;
      return;
    }
    next = Waiting.front();
    Waiting.pop_front();
    next->Granted = true;
    Current = next;
  }
  // Its own worker calls the extension: this may be the extension's thread, inside a callback.
  next->Use([](tWSIOBase& producer) { producer.Handler.WakeWorker(); });
}

void tisapiLoadedLibrary::Release(tWSIOBase& producer) {
  if (const auto& session = static_cast<tWSIO_ISAPI&>(producer).Session)
    Leave(*session);
}

// The producer lets go of its session only once no call of the extension runs with it.
void tisapiLoadedLibrary::Detach(tWSIOBase& producer) {
  auto& isapi = static_cast<tWSIO_ISAPI&>(producer);
  const std::shared_ptr<tisapiSession> session = isapi.Session;
  if (!session)
    return;
  bool turnUnused = false;
  if (!Withdraw(*session)) {
    std::lock_guard<std::mutex> lock(Lock);
    turnUnused = Current == session && !session->Started;
  }
  if (turnUnused)
    Leave(*session);
  session->End();
  isapi.Session.reset();
}

std::optional<std::string> tisapiLoadedLibrary::ServerVariable(const tWSIOBase& producer,
                                                               const std::string& name) {
  const std::string upper = UpperCase(name);
  for (const tVariableRow& row : kVariables)
    if (upper == row.Name)
      return row.Value(producer);
  for (const char* unavailable : kUnavailable)
    if (upper == unavailable)
      return std::nullopt;
  std::string header = upper;
  std::replace(header.begin(), header.end(), '_', '-');
  header = Trim(header);
  if (header.starts_with("HTTP-"))
    header.erase(0, 5);
  return producer.Handler.Request().Header(header);
}

// As the published interface has it: a value that does not fit is not cut; the size needed comes back with
// ERROR_INSUFFICIENT_BUFFER and the buffer is left alone.
BOOL WINAPI tisapiLoadedLibrary::GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer,
                                                   LPDWORD size) {
  if (name == nullptr || size == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  try {
    const auto session = SessionOf(connection);
    std::optional<std::string> value;
    const bool live =
        session && session->Use([&](tWSIOBase& producer) { value = ServerVariable(producer, name); });
    if (!live)
      return Fail(ERROR_INVALID_PARAMETER);
    if (!value)
      return Fail(ERROR_INVALID_INDEX);
    const DWORD needed = static_cast<DWORD>(value->size() + 1);
    const int32_t room = buffer == nullptr ? 0 : static_cast<int32_t>(*size);
    if (room < 0 || static_cast<DWORD>(room) < needed) {
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

BOOL WINAPI tisapiLoadedLibrary::WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD) {
  if (buffer == nullptr || bytes == nullptr || *bytes == 0)
    return TRUE;
  try {
    const std::string text(static_cast<const char*>(buffer), *bytes);
    if (const auto session = SessionOf(connection))
      session->Use([&text](tWSIOBase& producer) { producer.SendReply(text); });
  } catch (const std::exception&) {
    // By design: what cannot be queued is lost with its connection; the result stays TRUE.
  }
  return TRUE;
}

// Bytes that arrived after the request; none once the request has ended, which reads as the client gone.
BOOL WINAPI tisapiLoadedLibrary::ReadClient(HCONN connection, LPVOID buffer, LPDWORD size) {
  if (size == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (*size == 0)
    return TRUE;
  if (buffer == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const auto session = SessionOf(connection);
  *size = session ? session->TakeUnread(buffer, *size) : 0;
  return TRUE;
}

BOOL WINAPI tisapiLoadedLibrary::ServerSupportFunction(HCONN connection, DWORD request, LPVOID, LPDWORD,
                                                       LPDWORD dataType) {
  if (request == HSE_REQ_SEND_URL_REDIRECT_RESP || request == HSE_REQ_SEND_URL ||
      (request >= HSE_REQ_MAP_URL_TO_PATH && request <= HSE_REQ_REFRESH_ISAPI_ACL))
    return Fail(ERROR_INVALID_PARAMETER);
  try {
    const auto session = SessionOf(connection);
    if (!session)
      return TRUE;
    if (request == HSE_REQ_SEND_RESPONSE_HEADER)
      return SendResponseHeader(*session, dataType);
    if (request == HSE_REQ_DONE_WITH_SESSION)
      return DoneWithSession(*session);
  } catch (const std::exception&) {
    // By design: the request is lost with its connection; the result stays TRUE.
  }
  return TRUE;
}

// The status is always 200. After the extension returned HSE_STATUS_SUCCESS_AND_KEEP_CONN the header ends
// the request; while it runs, or while it keeps the session pending, it does not.
BOOL tisapiLoadedLibrary::SendResponseHeader(tisapiSession& session, LPDWORD dataType) {
  const char* header = reinterpret_cast<const char*>(dataType);
  if (header == nullptr || *header == 0)
    return TRUE;
  const std::string text(header);
  session.HeaderSent = true;
  const bool ends = !session.InCall && session.Result == HSE_STATUS_SUCCESS_AND_KEEP_CONN;
  session.Use([&](tWSIOBase& producer) {
    producer.SendReply(producer.StatusHeaders(200) + text);
    if (ends)
      producer.Finish();
  });
  return TRUE;
}

// The extension is free again also when the client has gone meanwhile.
BOOL tisapiLoadedLibrary::DoneWithSession(tisapiSession& session) {
  if (!session.Use([](tWSIOBase& producer) { producer.Finish(); }))
    session.Library.Leave(session);
  return TRUE;
}
