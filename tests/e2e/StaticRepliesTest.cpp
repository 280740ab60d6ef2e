// Whole replies of the running program, byte for byte, for files, errors and the ways a request is read.
#include <gtest/gtest.h>

#include "tests/e2e/ServedSite.h"

using namespace std::chrono_literals;

namespace kwstest {
namespace {

class StaticReplies : public testing::Test {
protected:
  static void SetUpTestSuite() {
    Site = new ServedSite();
    Site->Start();
  }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }
  static ServedSite* Site;
};
ServedSite* StaticReplies::Site = nullptr;

TEST_F(StaticReplies, RequestsAreAnsweredByKindPathAndConnectionHeader) {
  struct Case {
    std::string request, reply;
  } cases[] = {
      {"GET /hello.txt HTTP/1.0\r\n\r\n", FileReply("text/plain", "hello world\n")},
      {"GET /missing.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /empty.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /noext HTTP/1.0\r\n\r\n", FileReply("binaty/data", "raw bytes")},
      {"GET /odd.qqq HTTP/1.0\r\n\r\n", FileReply("binaty/data", "odd")},
      {"GET /HELLO.TXT HTTP/1.0\r\n\r\n", FileReply("text/plain", "hello world\n")},
      {"GET /cgi/run HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\nKWS Error: NOT DONE YET :("},
      {"GET no-slash HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\nKWS Error: NO HANDLER FOUND :("},
      {"GET\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\nKWS Error: NO HANDLER FOUND :("},
      // The longest prefix wins, whatever the letter case on either side.
      {"GET /docs/deep/d.txt HTTP/1.0\r\n\r\n", FileReply("text/plain", "deep d")},
      // An absolute target chooses its directory as it stands, then the file by its path behind the host.
      {"GET http://example.org/hello.txt HTTP/1.0\r\n\r\n", FileReply("text/plain", "hello world\n")},
      {"GET HTTP://EXAMPLE.ORG/ HTTP/1.0\r\n\r\n", FileReply("text/html", "<p>index</p>")},
      {"GET http://other.example/hello.txt HTTP/1.0\r\n\r\n",
       "HTTP/1.0 200 OK\r\n\r\nKWS Error: NO HANDLER FOUND :("},
      // The name of the length header elsewhere than at the start of a header line declares nothing.
      {"GET /hello.txt?content-length=7 HTTP/1.0\r\nReferer: /content-length/9\r\n\r\n",
       FileReply("text/plain", "hello world\n")},
      {"POST /hello.txt HTTP/1.0\r\nContent-Length: none\r\nHost: 12\r\n\r\n123456789012",
       RefusalReply("400 Bad Request")},
      // The default document of a folder, only where the directory names one.
      {"GET / HTTP/1.0\r\n\r\n", FileReply("text/html", "<p>index</p>")},
      {"GET /docs/ HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /docs HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /hello.txt?x=1 HTTP/1.0\r\n\r\n", FileReply("text/plain", "hello world\n")},
      // The Connection line appears unless the request says close.
      {"GET /hello.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", FileReply("text/plain", "hello world\n")},
      {"GET /hello.txt HTTP/1.0\r\nconnection: CLOSE\r\n\r\n",
       std::string("HTTP/1.0 200 OK\r\n") + kFixedHeaders +
           "Content-type: text/plain\r\nContent-Length: 12\r\n\r\nhello world\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Site->Exchange(c.request), c.reply) << c.request;
}

TEST_F(StaticReplies, PathsClimbingOutOfTheBaseFolderAreNotFound) {
  const std::string nul("GET /hello.txt\0.htm HTTP/1.0\r\n\r\n", 33);
  for (const std::string& request : {std::string("GET /../secret.txt HTTP/1.0\r\n\r\n"),
                                     std::string("GET /..\\secret.txt HTTP/1.0\r\n\r\n"),
                                     std::string("GET /docs/../../secret.txt HTTP/1.0\r\n\r\n"),
                                     std::string("GET http://example.org/../secret.txt HTTP/1.0\r\n\r\n"),
                                     std::string("GET /docs/..\\..\\secret.txt HTTP/1.0\r\n\r\n"), nul})
    EXPECT_EQ(Site->Exchange(request), kNotFoundReply) << request;
}

TEST_F(StaticReplies, HeaderArrivingInPiecesIsAnsweredOnceComplete) {
  tLoopbackPeer client;
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site->Port)));
  for (const char* piece : {"GET /hel", "lo.txt HTT", "P/1.0\r\n", "Host: x\r\n"}) {
    ASSERT_TRUE(client.Send(piece));
    EXPECT_EQ(client.ReadSome(1, 50ms), "") << "answered before the blank line";
  }
  ASSERT_TRUE(client.Send("\r\n"));
  EXPECT_EQ(client.ReadToEnd(), FileReply("text/plain", "hello world\n"));
}

TEST_F(StaticReplies, BodyIsAwaitedUntilItsContentLengthArrived) {
  tLoopbackPeer client;
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site->Port)));
  ASSERT_TRUE(client.Send("POST /hello.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nab"));
  EXPECT_EQ(client.ReadSome(1, 100ms), "") << "answered before the body was complete";
  ASSERT_TRUE(client.Send("cde"));
  EXPECT_EQ(client.ReadToEnd(), FileReply("text/plain", "hello world\n"));
}

TEST_F(StaticReplies, BytesAfterDispatchDoNotRepeatTheReply) {
  const std::string reply = FileReply("text/plain", "hello world\n");
  tLoopbackPeer client;
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site->Port)));
  ASSERT_TRUE(client.Send("POST /hello.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nab"));
  ASSERT_EQ(client.Read(reply.size()), reply);
  client.Send("\r\n");
  EXPECT_EQ(client.ReadToEnd(), "");
  EXPECT_FALSE(client.TimedOut);
}

TEST_F(StaticReplies, OversizedHeaderOrBodyIsRefusedAndClosed) {
  const std::string longHeader = "GET / HTTP/1.0\r\nX-Long: " + std::string(70 * 1024, 'a');
  EXPECT_EQ(Site->Exchange(longHeader), RefusalReply("431 Request Header Fields Too Large"));
  EXPECT_EQ(Site->Exchange("POST / HTTP/1.0\r\nContent-Length: 5000000\r\n\r\nabc"),
            RefusalReply("413 Request Entity Too Large"));
}

// A client that half-closes right after its request still gets the whole reply.
TEST_F(StaticReplies, ARequestFollowedAtOnceByTheClientsCloseIsAnswered) {
  tLoopbackPeer client;
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site->Port)));
  ASSERT_TRUE(client.Send("GET /hello.txt HTTP/1.0\r\n\r\n"));
  client.ShutdownSending();
  EXPECT_EQ(client.ReadToEnd(), FileReply("text/plain", "hello world\n"));
}

} // namespace
} // namespace kwstest
