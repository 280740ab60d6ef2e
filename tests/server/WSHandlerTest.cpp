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

// Which prefix is longest is FindLongestPrefix's business; here: what the handler makes of paths first. An
// absolute target is matched as it stands, scheme and host included.
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

std::atomic<size_t> BytesTaken{0}; // by the producer below, on whichever thread hands them on
constexpr size_t kBodyBytes = 4 * 1024 * 1024;
const std::string kRequest = "POST / HTTP/1.0\r\n\r\n";

// Takes every byte it is handed and answers with their count once the whole body is there.
class tCountingProducer : public tWSIOBase {
public:
  using tWSIOBase::tWSIOBase;
  void HandleData(const std::string& text) override {
    BytesTaken += text.size();
    if (BytesTaken == kRequest.size() + kBodyBytes) {
      SendReply("HTTP/1.0 200 OK\r\n\r\n" + std::to_string(BytesTaken.load()));
      Finish();
    }
  }
};

TEST(WSHandler, HandsEveryByteAfterDispatchToTheProducerHoweverManyArrive) {
  SetProducerClass(vkKWSP, &tWSIOBase::Create<tCountingProducer>);
  tListenerData settings;
  settings.PortText = std::to_string(kwstest::FreeLoopbackPort());
  settings.VDirCount = 1;
  settings.VDirs[0].VirtualPath = "/";
  settings.VDirs[0].Kind = vkKWSP;
  tWSListener listener;
  listener.Configure(settings);
  listener.SetActive(true);

  kwstest::tLoopbackPeer client;
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(std::stoi(settings.PortText))));
  // From another thread: this one runs the server's loop meanwhile.
  std::thread sender([&] { client.Send(kRequest + std::string(kBodyBytes, 'b')); });
  EXPECT_TRUE(
      kwstest::WaitUntil([] { return BytesTaken == kRequest.size() + kBodyBytes; }, std::chrono::seconds(30)))
      << BytesTaken << " bytes taken";
  sender.join();
  SetProducerClass(vkKWSP, nullptr);
}

} // namespace
