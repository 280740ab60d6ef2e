// How the running program treats connections: several at once, slow and stalled readers, clients that vanish,
// and a moment without free descriptors.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/e2e/ServedSite.h"
#include "tests/support/Wait.h"

namespace kwstest {
namespace {

using tClock = std::chrono::steady_clock;
constexpr int kSmallBuffer = 16 * 1024;

std::string BigBody() {
  std::string body(32 * 1024 * 1024, '\0');
  for (size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
  return body;
}

class Connections : public testing::Test {
protected:
  void SetUp() override {
    Site.Program.Folder().WriteFile("site/big.bin", Big);
    Site.Start();
  }
  bool WaitForDescriptors(const std::function<bool(int)>& condition, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return condition(Site.DescriptorCount()); }, timeout, tPump::None);
  }
  static inline const std::string Big = BigBody();
  static inline const std::string BigReply = FileReply("binaty/data", Big);
  ServedSite Site;
};

TEST_F(Connections, ClientsAreServedIndependently) {
  auto stalled = Site.Send("GET /hello.txt HTTP/1.0\r\n");
  ASSERT_TRUE(stalled);
  std::vector<std::thread> clients;
  std::atomic<int> good{0};
  for (int i = 0; i < 16; ++i)
    clients.emplace_back([&] { good += Site.Exchange(kHelloRequest) == kHelloReply; });
  for (std::thread& client : clients)
    client.join();
  EXPECT_EQ(good, 16);
  ASSERT_TRUE(stalled->Send("\r\n"));
  EXPECT_EQ(WithDatePinned(stalled->ReadToEnd()), kHelloReply);
}

TEST_F(Connections, SlowReaderOfALargeFileReceivesEveryByte) {
  auto client = Site.Send("GET /big.bin HTTP/1.0\r\n\r\n", kSmallBuffer);
  ASSERT_TRUE(client);
  // Paced so that the whole transfer outlasts the connection time-out, though no single stall does.
  std::string received;
  const auto start = tClock::now();
  for (std::string more; !(more = client->ReadSome(128 * 1024, 10s)).empty();) {
    received += more;
    if (tClock::now() - start < 3s)
      std::this_thread::sleep_for(5ms);
  }
  EXPECT_FALSE(client->Reset);
  EXPECT_GT(tClock::now() - start, std::chrono::milliseconds(kTestConnectTimeoutMs));
  ASSERT_EQ(received.size(), BigReply.size());
  EXPECT_TRUE(WithDatePinned(received) == BigReply) << "the reply differs";
}

// Once the request is taken only the reply's progress counts: a byte sent now and then does not keep a
// reader that takes nothing.
TEST_F(Connections, ReaderThatStopsReadingIsCutOffEvenWhileItDripsBytes) {
  for (bool drips : {false, true}) {
    auto client = Site.Send("GET /big.bin HTTP/1.0\r\n\r\n", kSmallBuffer);
    ASSERT_TRUE(client);
    ASSERT_NE(client->ReadSome(1024, 5s), "");
    const int open = Site.DescriptorCount();
    // Room for a sanitizer build, which is slow.
    EXPECT_TRUE(WaitForDescriptors(
        [&](int count) {
          if (drips)
            client->Send("x");
          return count < open;
        },
        3 * std::chrono::milliseconds(kTestConnectTimeoutMs) + 15s))
        << (drips ? "dripping" : "silent");
    EXPECT_LT(client->ReadToEnd(10s).size(), Big.size());
    EXPECT_FALSE(client->TimedOut);
  }
}

// The length announced is the file's size at opening, and only the file's own bytes follow it: a file
// replaced meanwhile still sends the old bytes, one that grows is cut at the length, and one that shrinks
// ends the connection early.
TEST_F(Connections, AFileChangedWhileItIsSentYieldsOnlyItsOwnBytesUpToTheAnnouncedLength) {
  const std::string path = Site.Program.Folder().PathOf("site/big.bin");
  enum tChange { Replaced, Grown, Shrunk };
  for (tChange change : {Replaced, Grown, Shrunk}) {
    Site.WriteFile("site/big.bin", Big);
    auto client = Site.Send("GET /big.bin HTTP/1.0\r\n\r\n", kSmallBuffer);
    ASSERT_TRUE(client);
    std::string received = client->Read(1024 * 1024);
    if (change == Replaced)
      std::filesystem::rename(
          Site.Program.Folder().WriteFile("site/new.bin", std::string(Big.size() * 2, 'N')), path);
    else
      std::filesystem::resize_file(path, change == Grown ? Big.size() * 2 : Big.size() / 2);
    received += client->ReadToEnd(30s);
    if (change == Shrunk)
      EXPECT_LT(received.size(), BigReply.size());
    else
      EXPECT_EQ(received.size(), BigReply.size()) << change;
    received = WithDatePinned(received);
    EXPECT_TRUE(BigReply.compare(0, received.size(), received) == 0)
        << "bytes other than the file's: " << change;
  }
}

// The file is sparse, so nothing that large is written.
TEST_F(Connections, AFileOfMoreThan4GiBIsAnnouncedWithItsTrueLength) {
  constexpr uint64_t kSize = (uint64_t{4} << 30) + 12345;
  std::filesystem::resize_file(Site.WriteFile("site/huge.bin", ""), kSize);
  SetSiteTime(Site.Program.Folder().PathOf("site/huge.bin"));
  auto client = Site.Send("GET /huge.bin HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(client);
  std::string head;
  ASSERT_TRUE(WaitUntil([&] {
    head += client->ReadSome(4096, 0ms);
    return head.find("\r\n\r\n") != std::string::npos || client->Closed;
  }));
  const std::string expected =
      std::string("HTTP/1.0 200 OK\r\n") + kFixedHeaders +
      "Connection: Close\r\nContent-type: binaty/data\r\nContent-Length: " + std::to_string(kSize) + "\r\n" +
      kDateLine + kLastModifiedLine + "\r\n";
  EXPECT_EQ(WithDatePinned(head.substr(0, head.find("\r\n\r\n") + 4)), expected);
}

TEST_F(Connections, ClientsThatCloseAtOnceLeaveNothingBehind) {
  ASSERT_EQ(Site.Exchange(kHelloRequest), kHelloReply);
  const int descriptors = Site.DescriptorCount();
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(Site.Send(""));
  EXPECT_EQ(Site.Exchange(kHelloRequest), kHelloReply);
  EXPECT_TRUE(WaitForDescriptors([&](int count) { return count <= descriptors; }, 10s))
      << Site.DescriptorCount() << " open, " << descriptors << " before";
}

TEST_F(Connections, ListenerServesAgainAfterDescriptorsRanOut) {
#ifdef __SANITIZE_ADDRESS__
  // Its undefined-behaviour checker opens a pipe to look at memory, and without a free descriptor it reports
  // every object it checks as broken.
  GTEST_SKIP() << "not meaningful in the address and undefined-behaviour sanitizer build";
#endif
  ASSERT_EQ(Site.Exchange(kHelloRequest), kHelloReply);
  const int limit = Site.DescriptorCount() + 8;
  ASSERT_TRUE(Site.LimitDescriptors(static_cast<rlim_t>(limit)));
  // More idle connections than descriptors: the last ones cannot be accepted while the first are held.
  std::vector<std::unique_ptr<tLoopbackPeer>> idle;
  for (int i = 0; i < 24; ++i)
    ASSERT_TRUE(idle.emplace_back(Site.Send("")));
  EXPECT_TRUE(WaitForDescriptors([&](int count) { return count >= limit - 1; }, 5s));
  EXPECT_FALSE(Site.Program.WaitForExit(300ms)) << "ended while accepts failed:\n" << Site.Program.Stderr();
  idle.clear();
  std::string reply;
  EXPECT_TRUE(
      WaitUntil([&] { return (reply = Site.Exchange(kHelloRequest)) == kHelloReply; }, 10s, tPump::None))
      << reply;
}

} // namespace
} // namespace kwstest
