#include "server/WSHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "server/ProducerTable.h"
#include "server/WSIOBase.h"
#include "server/WSListener.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Wait.h"

namespace {

// An absolute target is matched as it stands, scheme and host included.
TEST(WSHandler, ChoosesTheDirectoryByTheTrimmedVirtualPathOfTheTargetAsItStandsIgnoringCase) {
  const auto settings = std::make_unique<tListenerData>(); // too large for the stack
  for (const char* path : {"/", " /cgi/ ", "", "/Docs", "http://Host/"})
    settings->VDirs[settings->VDirCount++].VirtualPath = path;
  struct Case {
    std::string path;
    int32_t index;
  } cases[] = {{"/cgi/x.dll", 1},        {"/CGI/X.DLL", 1},      {"/docsfoo/a", 3},
               {"/index.html", 0},       {"relative", -1},       {"", -1},
               {"HTTP://HOST/cgi/a", 4}, {"http://other/a", -1}, {"http://host", -1},
               {"ftp://host/cgi/", -1}};
  for (const Case& c : cases)
    EXPECT_EQ(tWSHandler::ChooseVDir(*settings, c.path), c.index) << c.path;
}

std::atomic<size_t> BytesTaken{0};
const std::string kRequest = "POST / HTTP/1.0\r\n\r\n" + std::string(4 * 1024 * 1024, 'b');

class tCountingProducer : public tWSIOBase {
public:
  using tWSIOBase::tWSIOBase;
  void HandleData(const std::string& text) override {
    if ((BytesTaken += text.size()) == kRequest.size())
      Finish();
  }
};

TEST(WSHandler, HandsEveryByteAfterDispatchToTheProducerHoweverManyArrive) {
  SetProducerClass(vkKWSP, &tWSIOBase::Create<tCountingProducer>);
  tListenerData settings;
  const int port = kwstest::FreeLoopbackPort();
  settings.PortText = std::to_string(port);
  settings.VDirs[settings.VDirCount++] = {"VD1", "", "/", vkKWSP, "", ""};
  tWSListener listener;
  listener.Configure(settings);
  listener.SetActive(true);
  kwstest::tLoopbackPeer client;
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(port)));
  std::thread sender([&] { client.Send(kRequest); }); // this thread runs the server's loop meanwhile
  EXPECT_TRUE(kwstest::WaitUntil([] { return BytesTaken == kRequest.size(); }, std::chrono::seconds(30)))
      << BytesTaken;
  sender.join();
  SetProducerClass(vkKWSP, nullptr);
}

} // namespace
