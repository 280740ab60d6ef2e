#include "server/WSHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/rtl/thread.h"
#include "server/ProducerTable.h"
#include "server/WSIOBase.h"
#include "server/WSIO_STD.h"
#include "server/WSListener.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ReplyDates.h"
#include "tests/support/SocketProbe.h"
#include "tests/support/TempFolder.h"
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

// The handler alone on this thread, without a worker: the bytes go in, in pieces, and what comes out is read.
class WSHandlerServing : public ::testing::Test {
protected:
  WSHandlerServing() {
    kwstest::SetSiteTime(Site.WriteFile("hello.txt", "hello"));
    const auto settings = std::make_unique<tListenerData>();
    settings->VDirs[settings->VDirCount++] = {"VD1", Site.Path(), "/", vkStatic, "", ""};
    Listener.Configure(*settings);
    Probe.Listener.OnSessionAvailable = [this](TCustomWSocket& socket, WORD) {
      Handler = tWSHandler::Create<tWSHandler>();
      Handler->TakeSocket(socket.Accept(), Listener);
    };
  }

  // After each piece but the last the handler has read it and still reads; then it answers, shuts its
  // sending side and, once the client closed, is closed too.
  std::string Exchange(const std::vector<std::string>& pieces) {
    Handler.reset();
    kwstest::tLoopbackPeer client;
    if (!client.Connect(Probe.Port) || !kwstest::WaitUntil([&] { return Handler != nullptr; }))
      return "(not adopted)";
    size_t sent = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
      client.Send(pieces[i]);
      sent += pieces[i].size();
      if (!kwstest::WaitUntil([&] { return Handler->ReceivedCount() == sent; }))
        return "(not read)";
      if (i + 1 < pieces.size() && Handler->Phase != phReading)
        return "(answered after " + std::to_string(sent) + " bytes)";
    }
    if (!kwstest::WaitUntil([&] { return Handler->IsDone(); }))
      return "(not answered)";
    const std::string reply = client.ReadToEnd();
    client.Close();
    if (!kwstest::WaitUntil([&] { return Handler->Phase == phClosed; }))
      return "(not closed)";
    return kwstest::WithDatePinned(reply);
  }

  kwstest::TempFolder Site;
  tWSListener Listener;
  kwstest::tProbeListener Probe;
  std::unique_ptr<tWSHandler> Handler;
};

TEST_F(WSHandlerServing, AnswersOnceTheHeaderAndTheDeclaredBodyAreCompleteHoweverTheBytesAreSplit) {
  const std::string reply = "HTTP/1.0 200 OK\r\nServer: Kestrune Web Server 0.1.2.7\r\nAccept-ranges: "
                            "bytes\r\nConnection: Close\r\n" +
                            tWSIO_STD::ContentTypeHeader(".TXT") + "Content-Length: 5\r\n" +
                            kwstest::kDateLine + kwstest::kLastModifiedLine + "\r\nhello";
  for (const std::string request : {"GET /hello.txt HTTP/1.0\r\nHost: x\r\n\r\n",
                                    "POST /hello.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nabcde"})
    for (size_t split = 1; split < request.size(); ++split)
      ASSERT_EQ(Exchange({request.substr(0, split), request.substr(split)}), reply)
          << split << " " << request;
}

std::atomic<size_t> BytesTaken{0};
const std::string kBody(4 * 1024 * 1024, 'b');
const std::string kRequest =
    "POST / HTTP/1.0\r\nContent-Length: " + std::to_string(kBody.size()) + "\r\n\r\n" + kBody;

class tCountingProducer : public tWSIOBase {
public:
  using tWSIOBase::tWSIOBase;
  void HandleData(const std::string& text) override {
    if ((BytesTaken += text.size()) == kRequest.size())
      Finish();
  }
};

// The body's bytes, however many, and not one byte past it.
TEST(WSHandler, HandsTheProducerEveryByteOfTheDeclaredBodyAndNothingAfterIt) {
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
  // This thread runs the server's loop meanwhile.
  std::thread sender([&] {
    client.Send(kRequest + "GET / HTTP/1.0\r\n\r\n" + std::string(100000, 'j'));
    client.ShutdownSending();
  });
  std::string reply = "(none)";
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    reply = client.ReadToEnd(std::chrono::seconds(30));
    ended = true;
  });
  EXPECT_TRUE(kwstest::WaitUntil([&] { return ended.load(); }, std::chrono::seconds(30)));
  sender.join();
  reader.join();
  EXPECT_EQ(reply, "");
  EXPECT_EQ(BytesTaken, kRequest.size());
  SetProducerClass(vkKWSP, nullptr);
}

} // namespace
