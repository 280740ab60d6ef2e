// An AKWSP plug-in: one synchronous call per request returns status, header lines and body, and the server
// builds the whole reply from them.
#pragma once

#include <string>

#include "plugins/BaseLoadedLibrary.h"
#include "plugins/sdk/AKWSPlugin.h"

class takwspLoadedLibrary : public tBaseLoadedLibrary {
public:
  // AKWSPGInit gets the path of the request that causes the load, cut to fit its field.
  takwspLoadedLibrary(tWSIOBase& producer, const std::string& fileName);
  // AKWSPGDone(3) unless it ran already, then the unload.
  ~takwspLoadedLibrary() override;

  // One AKWSPGQuery2 call and one complete reply.
  void Run(tWSIOBase& producer, const std::string& text) override;

  // Status line and fixed headers, the plug-in's header lines trimmed, the blank line and the body.
  static std::string Reply(const tWSIOBase& producer, int32_t status, const std::string& headers,
                           const std::string& body);

  AKWSPGInitProc Init = nullptr;
  void* Query = nullptr; // only looked up
  AKWSPGQuery2Proc Query2 = nullptr;
  AKWSPGDoneProc Done = nullptr;

protected:
  void Terminate() override;
};
