// A plug-in producer answering one request on a scripted connection, with a library cache of its own, for
// the plug-in hosts' tests; and the test plug-ins the suite builds.
#pragma once

#include <memory>
#include <string>
#include <tuple>

#include "platform/win32.h"
#include "server/HTTPTools.h"
#include "server/LibraryCache.h"
#include "settings/CoreAPITools.h"
#include "tests/support/ScriptedConnection.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ThisProcess.h"

namespace kwstest {

// The test plug-ins lie beside the test program; ".so" or ".dll", as the system's modules are named.
inline const std::string kTestPluginsDir = FolderOf(ProgramPath()) + "testplugins";
inline const std::string kPluginSuffix = KWS_TEST_PLUGIN_SUFFIX;
// The fixed headers a scripted request gets (it did not say close).
inline std::string ScriptedStatus(const std::string& statusLine) {
  return "HTTP/1.0 " + statusLine + "\r\nServer: Kestrune Web Server 0.1.2.7\r\nAccept-ranges: bytes\r\n" +
         "Connection: Close\r\n";
}

// A directory at /p/ whose plug-ins lie in the folder, tried with the system's extension.
inline tVDirData PluginDirectory(tVDirKind kind, const std::string& folderOption, const std::string& folder) {
  tVDirData vdir;
  vdir.Kind = kind;
  vdir.VirtualPath = "/p/";
  vdir.OtherText = folderOption + "=" + folder + "\r\nDefExt=" + kPluginSuffix.substr(1);
  return vdir;
}

// What a scripted exchange runs on: the listener's settings, and the body that follows the raw request.
struct tExchangeSetup {
  int32_t ConnectTimeout = 10000;
  std::shared_ptr<tListenerData> Settings; // none: a listener without directories
  std::string Later;                       // the rest of a body the raw request declares but does not hold
};

// The producer has been given the raw request; it lets go of its plug-in before it goes, as its worker would.
template <class tProducer> class tPluginExchange {
public:
  tPluginExchange(const std::string& raw, const tVDirData& vdir, const std::shared_ptr<tLibraryCache>& cache,
                  const tExchangeSetup& setup = {})
      : Connection(std::make_unique<tScriptedConnection>(ParseRequestLine(raw).Path, raw)) {
    const tRequestLine line = ParseRequestLine(raw);
    tRequest& request = Connection->Req;
    std::tie(request.Method, request.URL, request.Query, request.Version) =
        std::tie(line.Method, line.URL, line.Query, line.Version);
    // As the handler dispatches it: the body as far as it is declared, or its first part.
    request.HeaderLength = raw.find("\r\n\r\n") + 4;
    const tDeclaredLength declared = DeclaredLength(raw.substr(0, request.HeaderLength));
    request.BodyLength = declared.Present ? static_cast<uint32_t>(declared.Value) : 0;
    request.Received = raw.substr(0, request.HeaderLength + request.BodyLength);
    Connection->Later = setup.Later;
    Connection->BodyOpen =
        request.Received.size() + setup.Later.size() < request.HeaderLength + request.BodyLength;
    request.RemoteAddr = "10.1.2.3";
    request.PeerSockAddr.sin_family = AF_INET;
    request.PeerSockAddr.sin_port = 0x3412;
    request.PeerSockAddr.sin_addr.s_addr = 0x0302010A; // 10.1.2.3
    auto settings = setup.Settings ? setup.Settings : std::make_shared<tListenerData>();
    settings->PortText = "8080";
    settings->ConnectTimeout = setup.ConnectTimeout;
    request.Settings = settings;
    request.Libraries = cache;
    Producer = std::make_unique<tProducer>(*Connection, vdir);
    Producer->HandleData(request.Received);
  }
  ~tPluginExchange() { End(); }
  tPluginExchange(const tPluginExchange&) = delete;
  tPluginExchange& operator=(const tPluginExchange&) = delete;

  // The connection ends: the producer lets go of its plug-in and goes.
  void End() {
    if (Producer)
      Producer->ConnectionEnding();
    Producer.reset();
  }

  std::unique_ptr<tScriptedConnection> Connection;
  std::unique_ptr<tProducer> Producer;
};

// An export of a test plug-in, reached through a handle of the test's own (loading again only counts up).
template <class tProc> tProc TestPluginEntry(const std::string& file, const char* name) {
  HMODULE module = LoadLibraryA(file.c_str());
  return reinterpret_cast<tProc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// While it lives, the test plug-ins note their termination entries in its file.
class tPluginMarker {
public:
  tPluginMarker() { SetEnvironmentValue("KWS_TEST_MARKER", Path); }
  ~tPluginMarker() { RemoveEnvironmentValue("KWS_TEST_MARKER"); }
  std::string Text() const { return ReadWholeFile(Path); }

private:
  TempFolder Folder;
  const std::string Path = Folder.PathOf("marker");
};

} // namespace kwstest
