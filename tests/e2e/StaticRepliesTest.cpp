// Whole replies of the running program, byte for byte, for files, errors and the ways a request is read.
#include <gtest/gtest.h>

#include "tests/e2e/ServedSite.h"

using namespace std::chrono_literals;

namespace kwstest {
namespace {

class StaticReplies : public testing::Test {
protected:
  static void SetUpTestSuite() { (Site = new ServedSite())->Start(); }
  static void TearDownTestSuite() { delete Site; }
  static inline ServedSite* Site = nullptr;
};

TEST_F(StaticReplies, EachRequestGetsItsWholeReplyByKindPathAndConnectionHeader) {
  struct Case {
    std::string request, reply;
  } cases[] = {
      {kHelloRequest, kHelloReply},
      {"GET /missing.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /empty.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /noext HTTP/1.0\r\n\r\n", FileReply("binaty/data", "raw bytes")},
      {"GET /odd.qqq HTTP/1.0\r\n\r\n", FileReply("binaty/data", "odd")},
      {"GET /HELLO.TXT HTTP/1.0\r\n\r\n", kHelloReply},
      {"GET /cgi/run HTTP/1.0\r\n\r\n", kNotDoneReply},
      {"GET no-slash HTTP/1.0\r\n\r\n", kNoHandlerReply},
      // The longest prefix wins, whatever the letter case on either side.
      {"GET /docs/deep/d.txt HTTP/1.0\r\n\r\n", FileReply("text/plain", "deep d")},
      // An absolute target chooses its directory as it stands, then the file by its path behind the host.
      {"GET http://example.org/hello.txt HTTP/1.0\r\n\r\n", kHelloReply},
      {"GET HTTP://EXAMPLE.ORG/ HTTP/1.0\r\n\r\n", FileReply("text/html", "<p>index</p>")},
      {"GET http://other.example/hello.txt HTTP/1.0\r\n\r\n", kNoHandlerReply},
      // The name of the length header elsewhere than at the start of a header line declares nothing.
      {"GET /hello.txt?content-length=7 HTTP/1.0\r\nReferer: /content-length/9\r\n\r\n", kHelloReply},
      {"POST /hello.txt HTTP/1.0\r\nContent-Length: none\r\nHost: 12\r\n\r\n123456789012",
       RefusalReply("400 Bad Request")},
      {"GET / HTTP/1.0\r\nX-Long: " + std::string(70 * 1024, 'a'),
       RefusalReply("431 Request Header Fields Too Large")},
      // Beyond the listener's MAXBODYSIZE; within it, a body of any size is read past, however large.
      {"POST / HTTP/1.0\r\nContent-Length: 4000001\r\n\r\nabc", RefusalReply("413 Request Entity Too Large")},
      {"POST /hello.txt HTTP/1.0\r\nContent-Length: 4000000\r\n\r\n" + std::string(4000000, 'x'),
       kHelloReply},
      {"POST /hello.txt HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       RefusalReply("501 Not Implemented")},
      // The default document of a folder, only where the directory names one.
      {"GET / HTTP/1.0\r\n\r\n", FileReply("text/html", "<p>index</p>")},
      {"GET /docs/ HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /hello.txt?x=1 HTTP/1.0\r\n\r\n", kHelloReply},
      // The Connection line appears unless the request says close.
      {"GET /hello.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", kHelloReply},
      {"GET /hello.txt HTTP/1.0\r\nconnection: CLOSE\r\n\r\n",
       std::string("HTTP/1.0 200 OK\r\n") + kFixedHeaders +
           "Content-type: text/plain\r\nContent-Length: 12\r\n" + kDateLine + kLastModifiedLine +
           "\r\nhello world\n"},
      // Nothing outside the base folder, nor behind a NUL.
      {"GET /../secret.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /..\\secret.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /docs/../../secret.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET http://example.org/../secret.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {"GET /docs/..\\..\\secret.txt HTTP/1.0\r\n\r\n", kNotFoundReply},
      {{"GET /hello.txt\0.htm HTTP/1.0\r\n\r\n", 32}, kNotFoundReply},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Site->Exchange(c.request), c.reply) << c.request.substr(0, 80);
}

TEST_F(StaticReplies, BytesAfterDispatchDoNotRepeatTheReply) {
  auto client = Site->Send("POST /hello.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nab");
  ASSERT_TRUE(client);
  ASSERT_EQ(WithDatePinned(client->Read(kHelloReply.size())), kHelloReply);
  client->Send("\r\n");
  EXPECT_EQ(client->ReadToEnd(), "");
  EXPECT_FALSE(client->TimedOut);
}

TEST_F(StaticReplies, ARequestFollowedAtOnceByTheClientsHalfCloseIsAnswered) {
  auto client = Site->Send(kHelloRequest);
  ASSERT_TRUE(client);
  client->ShutdownSending();
  EXPECT_EQ(WithDatePinned(client->ReadToEnd()), kHelloReply);
}

} // namespace
} // namespace kwstest
