#include "plugins/kwsLoadedLibrary.h"

#include <cstdlib>
#include <cstring>

#include "plugins/PluginSession.h"
#include "plugins/WSIO_KWSP.h"
#include "server/Connection.h"
#include "server/HTTPTools.h"
#include "server/WSIOBase.h"

namespace {

// A callback runs the work for the request the handle names; nothing when it has ended. Nothing thrown may
// cross into the plug-in.
void WithRequest(KWSPRequest request, const std::function<void(tWSIOBase&)>& work) {
  try {
    if (auto session = tPluginSession::Find<tPluginSession>(request))
      session->Use(work);
  } catch (const std::exception&) {
    // By design: a reply that cannot be queued is lost with its connection.
  }
}

} // namespace

tkwsLoadedLibrary::tkwsLoadedLibrary(tWSIOBase& /*producer*/, const std::string& fileName)
    : tBaseLoadedLibrary(fileName) {
  if (!Valid)
    return;
  Init = Entry<KWSPInitProc>("kwspInit");
  Done = Entry<KWSPDoneProc>("kwspDone");
  Valid = Init != nullptr && Done != nullptr;
  if (!Valid)
    return;
  Block.ServerVersion = KWSP_SERVER_VERSION;
  Block.WriteReply = &WriteReply;
  Block.Complete = &Complete;
  Block.Reallocate = &Reallocate;
  Block.PeerInfo = &PeerInfo;
  Init(&Block);
  Valid = Block.Accepted != 0;
}

// A plug-in that accepted the load is told before its code goes, so it can end threads of its own.
tkwsLoadedLibrary::~tkwsLoadedLibrary() {
  TerminateOnce();
}

void tkwsLoadedLibrary::Terminate() {
  if (Valid)
    Done();
}

// The data goes out in a block of the plug-in's allocator when the server can vouch for its size (the
// plug-in uses the server's own Reallocate); otherwise the plug-in's block is still asked for and freed,
// and OnRequest gets the server's copy: the server never writes into a block it cannot measure.
void tkwsLoadedLibrary::Run(tWSIOBase& producer, const std::string& text) {
  if (text.empty() || Block.OnRequest == nullptr || Block.PluginReallocate == nullptr)
    return;
  const tEntryCall call(*this);
  if (!call.Allowed()) {
    // The server is stopping, and the plug-in was told so: its request ends here.
    producer.Handler.CutOff();
    return;
  }
  const auto length = static_cast<uint32_t>(text.size());
  void* block = nullptr;
  Block.PluginReallocate(&block, length);
  std::string copy = text;
  void* data = copy.data();
  if (block != nullptr && Block.PluginReallocate == &Reallocate) {
    std::memcpy(block, text.data(), length);
    data = block;
  }
  Block.OnRequest(static_cast<tWSIO_KWSP&>(producer).Session->Handle(), data, length);
  if (block != nullptr)
    Block.PluginReallocate(&block, 0);
}

void KWSP_CALL tkwsLoadedLibrary::WriteReply(KWSPRequest request, const void* data, uint32_t length) {
  if (length == 0 || data == nullptr)
    return;
  const std::string text(static_cast<const char*>(data), length);
  WithRequest(request, [&text](tWSIOBase& producer) { producer.SendReply(text); });
}

void KWSP_CALL tkwsLoadedLibrary::Complete(KWSPRequest request) {
  WithRequest(request, [](tWSIOBase& producer) { producer.Finish(); });
}

// A failed resize leaves the block as it was.
void KWSP_CALL tkwsLoadedLibrary::Reallocate(void** block, uint32_t size) {
  if (block == nullptr)
    return;
  if (size == 0) {
    std::free(*block);
    *block = nullptr;
    return;
  }
  void* resized = *block == nullptr ? std::calloc(1, size) : std::realloc(*block, size);
  if (resized != nullptr)
    *block = resized;
}

void KWSP_CALL tkwsLoadedLibrary::PeerInfo(KWSPRequest request, KWSPPeerInfo* info) {
  if (info == nullptr)
    return;
  WithRequest(request, [info](tWSIOBase& producer) {
    const sockaddr_in& peer = producer.Handler.Request().PeerSockAddr;
    *info = KWSPPeerInfo{};
    info->Address = SwapBytes32(peer.sin_addr.s_addr);
    info->SockAddrFamily = static_cast<uint16_t>(peer.sin_family);
    info->SockAddrPort = peer.sin_port;
    info->SockAddrIP = peer.sin_addr.s_addr;
  });
}
