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
  bool DescriptorsDropTo(int count, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return Site.DescriptorCount() <= count; }, timeout, tPump::None);
  }
  static const std::string Big;
  const std::string Hello = FileReply("text/plain", "hello world\n");
  ServedSite Site;
};
const std::string Connections::Big = BigBody();

TEST_F(Connections, ClientsAreServedIndependently) {
  tLoopbackPeer stalled;
  ASSERT_TRUE(stalled.Connect(static_cast<uint16_t>(Site.Port)));
  ASSERT_TRUE(stalled.Send("GET /hello.txt HTTP/1.0\r\n"));
  std::vector<std::thread> clients;
  std::atomic<int> good{0};
  for (int i = 0; i < 16; ++i)
    clients.emplace_back([&] { good += Site.Exchange("GET /hello.txt HTTP/1.0\r\n\r\n") == Hello; });
  for (std::thread& client : clients)
    client.join();
  EXPECT_EQ(good, 16);
  ASSERT_TRUE(stalled.Send("\r\n"));
  EXPECT_EQ(stalled.ReadToEnd(), Hello);
}

TEST_F(Connections, SlowReaderOfALargeFileReceivesEveryByte) {
  tLoopbackPeer client;
  client.SetReceiveBuffer(16 * 1024);
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site.Port)));
  ASSERT_TRUE(client.Send("GET /big.bin HTTP/1.0\r\n\r\n"));
  // Paced so that the whole transfer outlasts the connection time-out, though no single stall does.
  std::string received;
  const auto start = tClock::now();
  for (std::string more; !(more = client.ReadSome(128 * 1024, 10s)).empty();) {
    received += more;
    if (tClock::now() - start < 3s)
      std::this_thread::sleep_for(5ms);
  }
  EXPECT_FALSE(client.Reset);
  EXPECT_GT(tClock::now() - start, std::chrono::milliseconds(kTestConnectTimeoutMs));
  ASSERT_EQ(received.size(), FileReply("binaty/data", Big).size());
  EXPECT_TRUE(received == FileReply("binaty/data", Big)) << "the reply differs";
}

// Once the request is taken only the reply's progress counts: a byte sent now and then does not keep a
// reader that takes nothing.
TEST_F(Connections, ReaderThatStopsReadingIsCutOffEvenWhileItDripsBytes) {
  for (bool drips : {false, true}) {
    tLoopbackPeer client;
    client.SetReceiveBuffer(16 * 1024);
    ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site.Port)));
    ASSERT_TRUE(client.Send("GET /big.bin HTTP/1.0\r\n\r\n"));
    ASSERT_NE(client.ReadSome(1024, 5s), "");
    const int open = Site.DescriptorCount();
    // Room for a sanitizer build, which is slow.
    EXPECT_TRUE(WaitUntil(
        [&] {
          if (drips)
            client.Send("x");
          return Site.DescriptorCount() < open;
        },
        3 * std::chrono::milliseconds(kTestConnectTimeoutMs) + 15s, tPump::None))
        << (drips ? "dripping" : "silent");
    const std::string rest = client.ReadToEnd(10s);
    EXPECT_FALSE(client.TimedOut);
    EXPECT_LT(rest.size(), Big.size());
  }
}

// The length announced is the file's size at opening, and only the file's own bytes follow it: a file
// replaced meanwhile still sends the old bytes, one that grows is cut at the length, and one that shrinks
// ends the connection early.
TEST_F(Connections, AFileChangedWhileItIsSentYieldsOnlyItsOwnBytesUpToTheAnnouncedLength) {
  const std::string path = Site.Program.Folder().PathOf("site/big.bin");
  enum tChange { Replaced, Grown, Shrunk };
  for (tChange change : {Replaced, Grown, Shrunk}) {
    Site.Program.Folder().WriteFile("site/big.bin", Big);
    tLoopbackPeer client;
    client.SetReceiveBuffer(16 * 1024);
    ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site.Port)));
    ASSERT_TRUE(client.Send("GET /big.bin HTTP/1.0\r\n\r\n"));
    std::string received = client.Read(1024 * 1024);
    if (change == Replaced) {
      Site.Program.Folder().WriteFile("site/new.bin", std::string(Big.size() * 2, 'N'));
      std::filesystem::rename(Site.Program.Folder().PathOf("site/new.bin"), path);
    } else {
      std::filesystem::resize_file(path, change == Grown ? Big.size() * 2 : Big.size() / 2);
    }
    received += client.ReadToEnd(30s);
    const std::string whole = FileReply("binaty/data", Big);
    if (change == Shrunk) {
      EXPECT_LT(received.size(), whole.size());
      EXPECT_TRUE(whole.compare(0, received.size(), received) == 0) << "bytes other than the file's";
    } else {
      EXPECT_EQ(received.size(), whole.size()) << change;
      EXPECT_TRUE(received == whole) << change;
    }
  }
}

// Sizes past 2 and 4 GiB are announced whole; the file is sparse, so nothing that large is written.
TEST_F(Connections, AFileOfMoreThan4GiBIsAnnouncedWithItsTrueLength) {
  constexpr uint64_t kSize = (uint64_t{4} << 30) + 12345;
  std::filesystem::resize_file(Site.Program.Folder().WriteFile("site/huge.bin", ""), kSize);
  tLoopbackPeer client;
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site.Port)));
  ASSERT_TRUE(client.Send("GET /huge.bin HTTP/1.0\r\n\r\n"));
  std::string head;
  ASSERT_TRUE(WaitUntil([&] {
    head += client.ReadSome(4096, 0ms);
    return head.find("\r\n\r\n") != std::string::npos || client.Closed;
  }));
  EXPECT_EQ(head.substr(0, head.find("\r\n\r\n") + 4),
            std::string("HTTP/1.0 200 OK\r\n") + kFixedHeaders +
                "Connection: Close\r\nContent-type: binaty/data\r\nContent-Length: " + std::to_string(kSize) +
                "\r\n\r\n");
}

TEST_F(Connections, ClientsThatCloseAtOnceLeaveNothingBehind) {
  ASSERT_EQ(Site.Exchange("GET /hello.txt HTTP/1.0\r\n\r\n"), Hello);
  const int descriptors = Site.DescriptorCount();
  for (int i = 0; i < 200; ++i) {
    tLoopbackPeer client;
    ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Site.Port)));
  }
  EXPECT_EQ(Site.Exchange("GET /hello.txt HTTP/1.0\r\n\r\n"), Hello);
  EXPECT_TRUE(DescriptorsDropTo(descriptors, 10s))
      << Site.DescriptorCount() << " open, " << descriptors << " before";
}

TEST_F(Connections, ListenerServesAgainAfterDescriptorsRanOut) {
#ifdef __SANITIZE_ADDRESS__
  // The undefined-behaviour checker built in with it opens a pipe to look at memory, and without a free
  // descriptor it reports every object it checks as broken.
  GTEST_SKIP() << "not meaningful in the address and undefined-behaviour sanitizer build";
#endif
  ASSERT_EQ(Site.Exchange("GET /hello.txt HTTP/1.0\r\n\r\n"), Hello);
  const int limit = Site.DescriptorCount() + 8;
  ASSERT_TRUE(Site.LimitDescriptors(static_cast<rlim_t>(limit)));
  // More idle connections than descriptors: the last ones cannot be accepted while the first are held.
  std::vector<std::unique_ptr<tLoopbackPeer>> idle;
  for (int i = 0; i < 24; ++i) {
    idle.push_back(std::make_unique<tLoopbackPeer>());
    ASSERT_TRUE(idle.back()->Connect(static_cast<uint16_t>(Site.Port)));
  }
  EXPECT_TRUE(WaitUntil([&] { return Site.DescriptorCount() >= limit - 1; }, 5s, tPump::None));
  EXPECT_FALSE(Site.Program.WaitForExit(300ms)) << "ended while accepts failed:\n" << Site.Program.Stderr();
  idle.clear();
  std::string reply;
  EXPECT_TRUE(WaitUntil([&] { return (reply = Site.Exchange("GET /hello.txt HTTP/1.0\r\n\r\n")) == Hello; },
                        10s, tPump::None))
      << reply;
}

} // namespace
} // namespace kwstest
