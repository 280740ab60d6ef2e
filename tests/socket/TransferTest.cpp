#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "tests/support/SocketProbe.h"
#include "tests/support/TempFolder.h"

using namespace kwstest;

namespace {

// A period that shares no factor with the block size, so a block sent twice, lost or out of order shows.
char PatternByte(size_t offset) {
  return static_cast<char>(offset % 251);
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = PatternByte(i);
  return bytes;
}

TEST(SocketTransfer, SixtyFourMebibytesArriveCompleteAndInOrder) {
  constexpr size_t kTotal = 64u << 20;
  tProbeListener server;
  tProbeSocket client;
  tProbeSocket* receiver = ConnectPair(server, client);
  ASSERT_NE(receiver, nullptr);
  size_t received = 0;
  size_t firstMismatch = SIZE_MAX;
  receiver->OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    char chunk[65536];
    const int n = socket.Receive(chunk, sizeof chunk);
    for (int i = 0; i < n; ++i, ++received)
      if (chunk[i] != PatternByte(received) && firstMismatch == SIZE_MAX)
        firstMismatch = received;
  };
  ASSERT_TRUE(WaitUntil([&] { return client.DataSentCount == 1; })); // the fresh connection's
  EXPECT_EQ(client.SendText(Pattern(kTotal)), static_cast<int>(kTotal));
  EXPECT_FALSE(client.AllSent()) << "far more than the system takes at once: the rest waits in the queue";
  ASSERT_TRUE(WaitUntil([&] { return received == kTotal && client.DataSentCount == 2; }, 120s))
      << "received " << received << " of " << kTotal;
  EXPECT_EQ(firstMismatch, SIZE_MAX);
  EXPECT_TRUE(client.AllSent());
  EXPECT_EQ(receiver->ReadCount(), static_cast<int32_t>(kTotal));
}

// The session ends once, with the reset's error, and data-sent never comes for lost data.
TEST(SocketTransfer, APeerThatStopsReadingMidTransferEndsTheSessionOnce) {
  enum tEnd { Resets, Closes, Waits };
  struct Case {
    tEnd End;
    size_t ReadFirst;
    const char* Closed;
  };
  for (Case c : {Case{Resets, 65536, "closed 10054"}, Case{Closes, 0, nullptr}, Case{Waits, 0, "closed 0"}}) {
    const int descriptorsBefore = BaselineDescriptors();
    {
      tProbeListener server;
      tLoopbackPeer peer;
      peer.SetReceiveBuffer(16384);
      tProbeSocket* sender = server.Next(peer);
      ASSERT_NE(sender, nullptr);
      ASSERT_TRUE(WaitUntil([&] { return sender->DataSentCount == 1; })); // the fresh connection's
      int errors = 0;
      sender->OnError = [&](TCustomWSocket&) { ++errors; };
      sender->SendText(Pattern(16u << 20));
      EXPECT_EQ(peer.Read(c.ReadFirst).size(), c.ReadFirst);
      PumpFor(50ms);
      EXPECT_FALSE(sender->AllSent());
      EXPECT_EQ(sender->State(), wsConnected);
      if (c.End == Resets)
        peer.ResetConnection();
      if (c.End == Closes)
        peer.Close(); // unread bytes in its buffer: the system resets the connection
      if (c.End == Waits)
        sender->Abort();
      ASSERT_TRUE(WaitUntil([&] { return sender->State() == wsClosed; }));
      PumpFor(50ms);
      EXPECT_EQ(sender->SessionClosedCount, 1);
      if (c.Closed) {
        EXPECT_EQ(std::count(sender->Events.begin(), sender->Events.end(), c.Closed), 1);
      }
      EXPECT_TRUE(c.End != Waits || sender->SendQueue.empty()) << "an abort drops the queue";
      EXPECT_EQ(sender->DataSentCount, 1);
      EXPECT_EQ(errors, 0);
    }
    EXPECT_TRUE(DescriptorsBackTo(descriptorsBefore));
  }
}

TEST(SocketTransfer, AFileSegmentSendsExactlyItsBytesAndAShortFileEndsTheConnection) {
  constexpr size_t kFileBytes = (1u << 20) + 17;
  const std::string content = Pattern(kFileBytes);
  TempFolder folder;
  const std::string path = folder.WriteFile("segment.bin", content);
  struct Case {
    uint64_t Offset, Length;
    size_t Expected; // bytes the peer receives
    bool EndsShort;
  } cases[] = {{0, kFileBytes, kFileBytes, false},
               {1000, 5000, 5000, false},
               {0, kFileBytes - 999, kFileBytes - 999, false},
               {100, kFileBytes, kFileBytes - 100, true},
               {kFileBytes, 10, 0, true}};
  for (const Case& c : cases) {
    tProbeListener server;
    tProbeSocket client;
    client.LingerOnOff = wsLingerOff; // a short file's close must not reset what is on its way
    tProbeSocket* receiver = ConnectPair(server, client);
    ASSERT_NE(receiver, nullptr);
    receiver->CollectReceived();
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    client.SendText("head:");
    client.SendFileSegment(file, c.Offset, c.Length);
    const std::string expected = "head:" + content.substr(c.Offset, c.Expected);
    ASSERT_TRUE(WaitUntil([&] { return receiver->Received.size() >= expected.size(); }))
        << c.Offset << "+" << c.Length << ": " << receiver->Received.size() << " bytes";
    EXPECT_TRUE(receiver->Received == expected) << c.Offset << "+" << c.Length;
    if (c.EndsShort) {
      EXPECT_TRUE(WaitUntil([&] { return receiver->SessionClosedCount == 1; }));
    } else {
      EXPECT_TRUE(WaitUntil([&] { return client.AllSent(); }));
      PumpFor(20ms);
      EXPECT_EQ(receiver->SessionClosedCount, 0);
    }
    EXPECT_EQ(receiver->Received.size(), expected.size());
  }
}

} // namespace
