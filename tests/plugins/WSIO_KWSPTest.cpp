#include <gtest/gtest.h>

#include "plugins/WSIO_KWSP.h"
#include "plugins/kwsLoadedLibrary.h"
#include "tests/support/PluginRequest.h"

using namespace kwstest;

namespace {

using tExchange = tPluginExchange<tWSIO_KWSP>;

const tVDirData kKwspDir = PluginDirectory(vkKWSP, "KWSPPath", kTestPluginsDir);

std::string Get(const std::string& plugin, const std::string& path = "") {
  return "GET /p/" + plugin + path + " HTTP/1.0\r\n\r\n";
}

} // namespace

TEST(WSIO_KWSP, EveryPieceOfTheRequestReachesThePluginUnderOneHandleUntilItCompletes) {
  const std::string request = Get("TestKwsp");
  tExchange exchange(request, kKwspDir, std::make_shared<tLibraryCache>());
  EXPECT_FALSE(exchange.Connection->Complete);
  exchange.Producer->HandleData("xEND");
  EXPECT_EQ(exchange.Connection->Out, "[" + request + "][xEND]");
  EXPECT_TRUE(exchange.Connection->Complete);
}

// The server writes only into a block it can measure; a null or short block still gets the data through.
TEST(WSIO_KWSP, TheDataGoesIntoThePluginsBlockOnlyWhenItsSizeIsKnown) {
  struct Case {
    std::string Plugin;
    int InBlock;
  } cases[] = {
      {"TestKwsp", 0}, {"TestKwspNullAlloc", 0}, {"TestKwspShortAlloc", 0}, {"TestKwspServerAlloc", -1}};
  for (const Case& c : cases) {
    auto inBlock =
        TestPluginEntry<int (*)()>(kTestPluginsDir + "\\" + c.Plugin + kPluginSuffix, "TestKwspInBlock");
    const std::string request = Get(c.Plugin, "?END");
    tExchange exchange(request, kKwspDir, std::make_shared<tLibraryCache>());
    EXPECT_EQ(exchange.Connection->Out, "[" + request + "]") << c.Plugin;
    if (c.InBlock >= 0) { // the server's own blocks cannot be told apart from its copy here
      EXPECT_EQ(inBlock(), c.InBlock) << c.Plugin;
    }
  }
}

TEST(WSIO_KWSP, AnEmptyWriteSendsNothingAndCompletesNothingAndPeerInfoDescribesTheClient) {
  tExchange zero(Get("TestKwsp", "?zero"), kKwspDir, std::make_shared<tLibraryCache>());
  EXPECT_EQ(zero.Connection->Pieces, 0);
  EXPECT_FALSE(zero.Connection->Complete);
  tExchange peer(Get("TestKwsp", "?peer"), kKwspDir, std::make_shared<tLibraryCache>());
  EXPECT_EQ(peer.Connection->Out, "0a010203 2 13330");
}

TEST(WSIO_KWSP, CallsWithTheHandleOfAnEndedRequestTouchNothing) {
  auto callKept =
      TestPluginEntry<void (*)()>(kTestPluginsDir + "\\TestKwsp" + kPluginSuffix, "TestKwspCallKept");
  tExchange exchange(Get("TestKwsp", "?keep"), kKwspDir, std::make_shared<tLibraryCache>());
  auto* connection = exchange.Connection.get();
  exchange.End();
  callKept();
  EXPECT_EQ(connection->Pieces, 0);
  EXPECT_FALSE(connection->Complete);
}

TEST(WSIO_KWSP, TheServersReallocateZeroFillsNewBlocksResizesAndFrees) {
  void* block = nullptr;
  tkwsLoadedLibrary::Reallocate(&block, 16);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(static_cast<char*>(block), 16), std::string(16, '\0'));
  static_cast<char*>(block)[0] = 'k';
  tkwsLoadedLibrary::Reallocate(&block, 4096);
  EXPECT_EQ(static_cast<char*>(block)[0], 'k');
  tkwsLoadedLibrary::Reallocate(&block, 0);
  EXPECT_EQ(block, nullptr);
}
