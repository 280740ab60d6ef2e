#include "server/WSListener.h"

#include <atomic>

#include <gtest/gtest.h>

#include "socket/SocketException.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ReplyDates.h"
#include "tests/support/Wait.h"

namespace {

std::atomic<int> HandlersGone{0}; // on the main thread, which owns every socket
const DWORD MainThreadId = GetCurrentThreadId();

class tFailingCloseHandler : public tWSHandler {
public:
  using tWSHandler::tWSHandler;
  ~tFailingCloseHandler() override { HandlersGone += GetCurrentThreadId() == MainThreadId; }
  void Close() override {
    tWSHandler::Close();
    throw ESocketException("close failed");
  }
};

TEST(WSListener, AConnectionWhoseCloseFailsIsStillFreedOnTheMainThread) {
  tListenerData settings;
  const int port = kwstest::FreeLoopbackPort();
  settings.PortText = std::to_string(port);
  tWSListener listener;
  listener.Configure(settings, &tWSHandler::Create<tFailingCloseHandler>);
  listener.SetActive(true);
  for (int served = 1; served <= 2; ++served) {
    kwstest::tLoopbackPeer client;
    ASSERT_TRUE(client.Connect(static_cast<uint16_t>(port)) && client.Send("GET / HTTP/1.0\r\n\r\n"));
    std::string reply;
    ASSERT_TRUE(kwstest::WaitUntil([&] {
      reply += client.ReadSome(4096, std::chrono::milliseconds(0));
      return client.Closed || client.Reset;
    }));
    EXPECT_EQ(kwstest::WithDatePinned(reply),
              "HTTP/1.0 200 OK\r\n" + kwstest::kDateLine + "\r\nKWS Error: NO HANDLER FOUND :(");
    EXPECT_TRUE(kwstest::WaitUntil([&] { return HandlersGone == served; })) << "connection " << served;
  }
}

} // namespace
