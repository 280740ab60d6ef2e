// Answers requests of KWSP directories: every piece of the request goes to the plug-in, which completes the
// reply when it likes.
#pragma once

#include <memory>
#include <string>

#include "plugins/PluginSession.h"
#include "server/WSIOBase.h"

class tWSIO_KWSP : public tWSIOBase {
public:
  tWSIO_KWSP(tConnection& handler, const tVDirData& vdir);
  ~tWSIO_KWSP() override;

  // The first call finds and loads the plug-in; later pieces go to the same plug-in under the same handle.
  void HandleData(const std::string& text) override;
  bool UsesPlugin() const override { return true; }
  void ConnectionEnding() override;

  // The request's handle as the plug-in knows it.
  const std::shared_ptr<tPluginSession> Session;

private:
  bool Loaded = false; // touched only by the thread that runs HandleData, one call at a time
};
