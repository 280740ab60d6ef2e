// Large transfers through the send queue, and peers that misbehave half-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "tests/socket/SocketTestSupport.h"
#include "tests/support/LoopbackPeer.h"

namespace {

using sockettest::ConnectPair;
using sockettest::RunLoopFor;
using sockettest::RunLoopUntil;
using sockettest::TLoopbackListener;
using sockettest::TProbeSocket;

// A period that shares no factor with the block size, so a block sent twice, lost or out of order shows.
char PatternByte(size_t offset) {
  return static_cast<char>(offset % 251);
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = PatternByte(i);
  }
  return bytes;
}

TEST(SocketTransfer, SixtyFourMebibytesArriveCompleteAndInOrder) {
  constexpr size_t kTotal = 64u << 20;
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& receiver = *server.Accepted.at(0);
  size_t received = 0;
  size_t firstMismatch = SIZE_MAX;
  receiver.OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    char chunk[65536];
    const int n = socket.Receive(chunk, sizeof chunk);
    for (int i = 0; i < n; ++i, ++received) {
      if (chunk[i] != PatternByte(received) && firstMismatch == SIZE_MAX) {
        firstMismatch = received;
      }
    }
  };
  int dataSent = 0;
  bool inSend = false;
  bool firedInsideSend = false;
  int partialSends = 0;
  client.OnDataSent = [&](TCustomWSocket&, WORD error) {
    EXPECT_EQ(error, 0);
    firedInsideSend = firedInsideSend || inSend;
    ++dataSent;
  };
  client.OnSendData = [&](TCustomWSocket&, int32_t count) { partialSends += count < 1514 ? 1 : 0; };
  const std::string data = Pattern(kTotal);
  inSend = true;
  EXPECT_EQ(client.SendText(data), static_cast<int>(kTotal));
  inSend = false;
  EXPECT_FALSE(client.AllSent()); // far more than the system takes at once: the rest waits in the queue
  ASSERT_TRUE(RunLoopUntil([&] { return received == kTotal && dataSent == 1; }, 120000))
      << "received " << received << " of " << kTotal;
  EXPECT_EQ(firstMismatch, SIZE_MAX);
  EXPECT_FALSE(firedInsideSend);
  EXPECT_TRUE(client.AllSent());
  EXPECT_EQ(client.SendQueue.size(), 1u); // the drained last block stays for reuse
  EXPECT_EQ(receiver.ReadCount(), static_cast<int32_t>(kTotal));
  RecordProperty("PartialSends", partialSends);
}

TEST(SocketTransfer, APeerThatResetsMidTransferEndsTheSessionOnce) {
  TLoopbackListener server;
  kwstest::tLoopbackPeer peer;
  peer.SetReceiveBuffer(16384);
  ASSERT_TRUE(peer.Connect(server.Port));
  ASSERT_TRUE(RunLoopUntil([&] { return server.Accepted.size() == 1; }));
  TProbeSocket& sender = *server.Accepted.at(0);
  ASSERT_TRUE(RunLoopUntil([&] { return sender.DataSentCount == 1; })); // the fresh connection's
  sender.SendText(Pattern(16u << 20));
  EXPECT_FALSE(sender.AllSent());
  EXPECT_EQ(peer.Read(65536).size(), 65536u);
  RunLoopFor(20);
  peer.ResetConnection();
  ASSERT_TRUE(RunLoopUntil([&] { return sender.State() == wsClosed; }));
  RunLoopFor(50);
  EXPECT_EQ(sender.SessionClosedCount, 1);
  ASSERT_FALSE(sender.Events.empty());
  EXPECT_EQ(std::count(sender.Events.begin(), sender.Events.end(), "closed 10054"), 1)
      << sender.Events.back();
  EXPECT_EQ(sender.DataSentCount, 1); // only the fresh connection's, never for the lost data
}

TEST(SocketTransfer, APeerThatNeverReadsLeavesTheDataQueuedUntilClose) {
  const int descriptorsBefore = sockettest::BaselineDescriptors();
  {
    TLoopbackListener server;
    kwstest::tLoopbackPeer peer;
    peer.SetReceiveBuffer(4096);
    ASSERT_TRUE(peer.Connect(server.Port));
    ASSERT_TRUE(RunLoopUntil([&] { return server.Accepted.size() == 1; }));
    TProbeSocket& sender = *server.Accepted.at(0);
    ASSERT_TRUE(RunLoopUntil([&] { return sender.DataSentCount == 1; })); // the fresh connection's
    const int dataSentBefore = sender.DataSentCount;
    sender.SendText(Pattern(8u << 20));
    RunLoopFor(200);
    EXPECT_FALSE(sender.AllSent());
    EXPECT_EQ(sender.State(), wsConnected);
    EXPECT_EQ(sender.DataSentCount, dataSentBefore);
    sender.Abort();
    EXPECT_EQ(sender.State(), wsClosed);
    EXPECT_TRUE(sender.SendQueue.empty());
    EXPECT_EQ(sender.SessionClosedCount, 1);
  }
  EXPECT_TRUE(sockettest::DescriptorsBackTo(descriptorsBefore)) << kwstest::OpenDescriptorCount() << " open";
}

TEST(SocketTransfer, APeerThatClosesWhileDataIsQueuedEndsTheSessionWithoutAnError) {
  TLoopbackListener server;
  kwstest::tLoopbackPeer peer;
  peer.SetReceiveBuffer(4096);
  ASSERT_TRUE(peer.Connect(server.Port));
  ASSERT_TRUE(RunLoopUntil([&] { return server.Accepted.size() == 1; }));
  TProbeSocket& sender = *server.Accepted.at(0);
  int errors = 0;
  sender.OnError = [&](TCustomWSocket&) { ++errors; };
  sender.SendText(Pattern(4u << 20));
  peer.Close(); // unread bytes in its buffer: the system resets the connection
  ASSERT_TRUE(RunLoopUntil([&] { return sender.State() == wsClosed; }));
  EXPECT_EQ(sender.SessionClosedCount, 1);
  EXPECT_EQ(errors, 0);
}

} // namespace
