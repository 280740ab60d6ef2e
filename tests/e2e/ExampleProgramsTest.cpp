// The fetcher example against the running server, directly and through real SOCKS servers.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/e2e/ServedSite.h"
#include "tests/support/SocksServer.h"

namespace kwstest {
namespace {

struct tFetchResult {
  int Code = -1;
  std::string Out, Err;
};

tFetchResult Fetch(const std::vector<std::string>& arguments) {
  ProgramRunner fetch(std::nullopt, KWS_FETCH_PROGRAM);
  fetch.Start(arguments);
  const std::optional<ExitStatus> status = fetch.WaitForExit(std::chrono::seconds(30));
  return {status && status->Exited ? status->Code : -1, fetch.Stdout(), fetch.Stderr()};
}

TEST(ExamplePrograms, TheFetcherGetsAPageDirectlyAndThroughEachProxyAndNamesWhatFailed) {
  ServedSite site;
  site.Start();
  const std::string url = "http://127.0.0.1:" + std::to_string(site.Port) + "/hello.txt";
  EXPECT_EQ(WithDatePinned(Fetch({url}).Out), kHelloReply);
  struct Case {
    std::string Name;
    std::function<std::unique_ptr<tSocksServer>()> Start;
    std::vector<std::string> Options;
    std::string Err;
  } cases[] = {
      {"microsocks", [] { return tSocksServer::Microsocks(); }, {"5"}, ""},
      {"microsocks",
       [] { return tSocksServer::Microsocks("u", "pw"); },
       {"5", "-user", "u", "-password", "pw"},
       ""},
      {"microsocks",
       [] { return tSocksServer::Microsocks("u", "pw"); },
       {"5", "-user", "u", "-password", "no"},
       "KwsFetch: SOCKS error 20015: socks authentication failed\n"},
      {"danted", [] { return tSocksServer::Dante(); }, {"4", "-user", "u"}, ""},
      {"danted",
       [] { return tSocksServer::Dante(); },
       {"4A"},
       "KwsFetch: SOCKS error 20016: request rejected or failed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name + " " + c.Options.back());
    const std::unique_ptr<tSocksServer> server = c.Start();
    if (!server)
      GTEST_SKIP() << c.Name << " is not installed (scripts/setup.sh installs it)";
    std::vector<std::string> arguments{"-socks", c.Options[0], "127.0.0.1:" + server->Port};
    arguments.insert(arguments.end(), c.Options.begin() + 1, c.Options.end());
    arguments.push_back(url);
    const tFetchResult result = Fetch(arguments);
    EXPECT_EQ(result.Err, c.Err);
    EXPECT_EQ(result.Code, c.Err.empty() ? 0 : 1);
    EXPECT_EQ(WithDatePinned(result.Out), c.Err.empty() ? kHelloReply : "");
  }
  const int closedPort = FreeLoopbackPort();
  EXPECT_EQ(Fetch({"http://127.0.0.1:" + std::to_string(closedPort) + "/"}).Err,
            "KwsFetch: cannot connect to 127.0.0.1:" + std::to_string(closedPort) +
                ": error 10061 (Connection refused)\n");
}

} // namespace
} // namespace kwstest
