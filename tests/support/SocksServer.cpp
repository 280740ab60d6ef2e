#include "tests/support/SocksServer.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace kwstest {

namespace {

constexpr const char* kMicrosocks = "/usr/bin/microsocks";
constexpr const char* kDante = "/usr/sbin/danted";

} // namespace

tSocksServer::tSocksServer(const std::string& program)
    : Port(FreeLoopbackPort()), Runner(std::nullopt, program) {}

std::unique_ptr<tSocksServer> tSocksServer::Microsocks(const std::string& user, const std::string& password) {
  if (!std::filesystem::exists(kMicrosocks))
    return nullptr;
  std::unique_ptr<tSocksServer> server(new tSocksServer(kMicrosocks));
  std::vector<std::string> arguments{"-i", "127.0.0.1", "-p", server->PortText()};
  if (!user.empty())
    arguments.insert(arguments.end(), {"-u", user, "-P", password});
  server->Runner.Start(arguments);
  EXPECT_TRUE(WaitForLoopbackPort(server->Port, std::chrono::seconds(10))) << server->Runner.Stderr();
  return server;
}

std::unique_ptr<tSocksServer> tSocksServer::Dante() {
  if (!std::filesystem::exists(kDante))
    return nullptr;
  std::unique_ptr<tSocksServer> server(new tSocksServer(kDante));
  server->Runner.Folder().WriteFile("danted.conf",
                                    "logoutput: stderr\ninternal: 127.0.0.1 port = " + server->PortText() +
                                        "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                                        "user.privileged: root\nuser.unprivileged: nobody\n"
                                        "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                        "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 protocol: tcp }\n");
  server->Runner.Start({"-f", server->Runner.Folder().PathOf("danted.conf"), "-N", "1", "-p",
                        server->Runner.Folder().PathOf("danted.pid")});
  EXPECT_TRUE(WaitForLoopbackPort(server->Port, std::chrono::seconds(10))) << server->Runner.Stderr();
  return server;
}

} // namespace kwstest
