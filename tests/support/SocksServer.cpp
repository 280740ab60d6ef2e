#include "tests/support/SocksServer.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace kwstest {

namespace {

std::unique_ptr<tSocksServer> Start(const std::string& program, const std::vector<std::string>& arguments,
                                    const std::string& settings = "") {
  if (!std::filesystem::exists(program))
    return nullptr;
  auto server = std::make_unique<tSocksServer>();
  server->Runner = std::make_unique<ProgramRunner>(std::nullopt, program);
  std::vector<std::string> withPort;
  for (const std::string& argument : arguments)
    withPort.push_back(argument == "PORT"      ? server->Port
                       : argument == "PIDFILE" ? server->Runner->Folder().PathOf("pid")
                                               : argument);
  if (!settings.empty()) {
    server->Runner->Folder().WriteFile("danted.conf",
                                       "internal: 127.0.0.1 port = " + server->Port + settings);
    withPort.push_back(server->Runner->Folder().PathOf("danted.conf"));
  }
  server->Runner->Start(withPort);
  EXPECT_TRUE(WaitForLoopbackPort(std::stoi(server->Port), std::chrono::seconds(10)))
      << server->Runner->Stderr();
  return server;
}

} // namespace

std::unique_ptr<tSocksServer> tSocksServer::Microsocks(const std::string& user, const std::string& password) {
  if (user.empty())
    return Start("/usr/bin/microsocks", {"-i", "127.0.0.1", "-p", "PORT"});
  return Start("/usr/bin/microsocks", {"-i", "127.0.0.1", "-p", "PORT", "-u", user, "-P", password});
}

std::unique_ptr<tSocksServer> tSocksServer::Dante() {
  return Start("/usr/sbin/danted", {"-N", "1", "-p", "PIDFILE", "-f"},
               "\nexternal: 127.0.0.1\nlogoutput: stderr\nclientmethod: none\nsocksmethod: none\n"
               "user.privileged: root\nuser.unprivileged: nobody\n"
               "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
               "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 protocol: tcp }\n");
}

} // namespace kwstest
