#include "plugins/isapiLoadedLibrary.h"

#include <algorithm>

#include "plugins/WSIO_ISAPI.h"
#include "plugins/isapiCallbacks.h"
#include "server/Connection.h"
#include "server/WSIOBase.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kErrorText = "THERE WAS AN ERROR WHILE HANDLING ISAPI PLUGIN :(";

uint32_t ConcurrencyOf(const tWSIOBase& producer) {
  const int32_t bound = TrimmedIntOrDefault(producer.GetOption("MaxConcurrent"), 0);
  return bound >= 1 ? static_cast<uint32_t>(bound) : tisapiLoadedLibrary::kDefaultConcurrency;
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
  TerminateOnce();
}

void tisapiLoadedLibrary::Terminate() {
  if (ModuleHandle != nullptr && TerminateExtension != nullptr)
    TerminateExtension(HSE_TERM_MUST_UNLOAD);
}

void tisapiLoadedLibrary::Run(tWSIOBase& producer, const std::string& /*text*/) {
  auto& isapi = static_cast<tWSIO_ISAPI&>(producer);
  auto session =
      tPluginSession::Make<tisapiSession>(producer, *this, producer.ShareLibrary(), ConcurrencyOf(producer));
  session->Ecb.GetServerVariable = &tisapiCallbacks::GetServerVariable;
  session->Ecb.WriteClient = &tisapiCallbacks::WriteClient;
  session->Ecb.ReadClient = &tisapiCallbacks::ReadClient;
  session->Ecb.ServerSupportFunction = &tisapiCallbacks::ServerSupportFunction;
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

// First come, first served: a request does not pass one waiting before it.
bool tisapiLoadedLibrary::Enter(const std::shared_ptr<tisapiSession>& session) {
  std::lock_guard<std::mutex> lock(Lock);
  if (!Waiting.empty() || Running.size() >= session->Bound) {
    Waiting.push_back(session);
    return false;
  }
  Running.push_back(session);
  session->Granted = true;
  return true;
}

// A header sent while the extension still runs ends nothing: its body follows with WriteClient. A request
// the extension ends with an error before writing anything gets a 500, not an empty reply.
void tisapiLoadedLibrary::Call(tisapiSession& session, tWSIOBase& producer) {
  {
    std::lock_guard<std::mutex> lock(Lock);
    session.Started = true;
  }
  const tEntryCall call(*this);
  if (!call.Allowed()) {
    // The server is stopping, and the extension was told to unload.
    producer.SendReply(producer.StatusHeaders(503) + "\r\n");
    return producer.Finish();
  }
  const DWORD result = HttpExtensionProc(&session.Ecb);
  switch (result) {
  case HSE_STATUS_SUCCESS:
  case HSE_STATUS_SUCCESS_AND_KEEP_CONN:
    return producer.Finish();
  case HSE_STATUS_ERROR:
    if (!session.Answered)
      producer.SendReply(producer.StatusHeaders(500) + "\r\n" + kErrorText);
    return producer.Finish();
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

std::vector<std::shared_ptr<tisapiSession>> tisapiLoadedLibrary::LetInWaiting() {
  std::vector<std::shared_ptr<tisapiSession>> letIn;
  while (!Waiting.empty() && Running.size() < Waiting.front()->Bound) {
    std::shared_ptr<tisapiSession> next = Waiting.front();
    Waiting.pop_front();
    next->Granted = true;
    Running.push_back(next);
    letIn.push_back(next);
  }
  return letIn;
}

void tisapiLoadedLibrary::Leave(tisapiSession& session) {
  std::vector<std::shared_ptr<tisapiSession>> letIn;
  std::shared_ptr<tisapiSession> left; // goes once the lock is let go: its destruction takes the table's
  {
    std::lock_guard<std::mutex> lock(Lock);
    const auto found = std::find_if(Running.begin(), Running.end(),
                                    [&session](const auto& running) { return running.get() == &session; });
    if (found == Running.end())
      return;
    left = std::move(*found);
    Running.erase(found);
    letIn = LetInWaiting();
  }
  // Their own workers call the extension: this may be the extension's thread, inside a callback.
  for (const auto& next : letIn)
    next->Use([](tWSIOBase& producer) { producer.Handler.WakeWorker(); });
}

void tisapiLoadedLibrary::Release(tWSIOBase& producer) {
  if (const auto& session = static_cast<tWSIO_ISAPI&>(producer).Session)
    Leave(*session);
}

// The producer lets go of its session only once no call of the extension runs with it. A session the
// extension keeps (it returned HSE_STATUS_PENDING) keeps its place until the extension is done with it.
void tisapiLoadedLibrary::Detach(tWSIOBase& producer) {
  auto& isapi = static_cast<tWSIO_ISAPI&>(producer);
  const std::shared_ptr<tisapiSession> session = isapi.Session;
  if (!session)
    return;
  bool placeUnused = false;
  if (!Withdraw(*session)) {
    std::lock_guard<std::mutex> lock(Lock);
    placeUnused = session->Granted && !session->Started;
  }
  if (placeUnused)
    Leave(*session);
  session->End();
  session->FailAsync();
  isapi.Session.reset();
}
