// Real SOCKS servers from the system's packages, each started for one test on a free port of 127.0.0.1 and
// ended with it: microsocks (SOCKS 5, with or without a login) and danted (SOCKS 4; it refuses 4A).
#pragma once

#include <memory>
#include <string>

#include "tests/support/ProgramRunner.h"

namespace kwstest {

struct tSocksServer {
  // Null when the program is not installed: the caller skips.
  static std::unique_ptr<tSocksServer> Microsocks(const std::string& user = "",
                                                  const std::string& password = "");
  static std::unique_ptr<tSocksServer> Dante();

  std::string Port = std::to_string(FreeLoopbackPort());
  std::unique_ptr<ProgramRunner> Runner;
};

} // namespace kwstest
