// A KWSP plug-in: it receives every piece of a request's data and writes the reply through the callbacks of
// its exchange block, from any thread, until it says the reply is complete.
#pragma once

#include <string>

#include "plugins/BaseLoadedLibrary.h"
#include "plugins/sdk/KWSPlugin.h"

class tkwsLoadedLibrary : public tBaseLoadedLibrary {
public:
  tkwsLoadedLibrary(tWSIOBase& producer, const std::string& fileName);
  // kwspDone, for a plug-in that accepted the load, unless it ran already; then the unload.
  ~tkwsLoadedLibrary() override;

  // Hands the data to OnRequest under the request's handle.
  void Run(tWSIOBase& producer, const std::string& text) override;

  // The server's callbacks; a handle of an ended request changes nothing.
  static void KWSP_CALL WriteReply(KWSPRequest request, const void* data, uint32_t length);
  static void KWSP_CALL Complete(KWSPRequest request);
  static void KWSP_CALL Reallocate(void** block, uint32_t size);
  static void KWSP_CALL PeerInfo(KWSPRequest request, KWSPPeerInfo* info);

  KWSPInitProc Init = nullptr;
  KWSPDoneProc Done = nullptr;
  KWSPBlock Block{}; // written by the plug-in in kwspInit only, read afterwards

protected:
  void Terminate() override;
};
