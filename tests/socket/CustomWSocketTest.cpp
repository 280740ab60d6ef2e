#include "socket/CustomWSocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/SocketProbe.h"

using namespace kwstest;

namespace {

using Events = std::vector<std::string>;

class SocketConnection : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_NE(Server = ConnectPair(Listener, Client), nullptr); }

  tProbeListener Listener;
  tProbeSocket Client;
  tProbeSocket* Server = nullptr;
};

TEST_F(SocketConnection, StatesChangeInOrderAndACloseNotifiesOnceOnBothEnds) {
  EXPECT_EQ(Listener.Listener.Events, (Events{"state closed>bound", "state bound>listening"}));
  EXPECT_EQ(Client.Events, (Events{"state closed>opened", "state opened>connecting",
                                   "state connecting>connected", "connected 0"}));
  EXPECT_EQ(Server->Events, (Events{"state closed>connected"}));
  Client.Events.clear();
  Client.Close();
  Client.Close();
  EXPECT_EQ(Client.Events, (Events{"state connected>closed", "closed 0"}));
  ASSERT_TRUE(WaitUntil([&] { return Server->State() == wsClosed; }));
  EXPECT_EQ(Server->SessionClosedCount, 1);
}

TEST_F(SocketConnection, DupOnAnOpenObjectClosesItsHandleAndIgnoresItsStaleNotifications) {
  const SOCKET oldHandle = Server->SocketHandle();
  int calls = 0;
  Server->OnDataAvailable = [&](TCustomWSocket&, WORD) { ++calls; };
  Server->OnChangeState = [&](TCustomWSocket& socket, TSocketState from, TSocketState to) {
    Server->Events.push_back(std::string("state ") + StateName(from) + ">" + StateName(to));
    if (to == wsConnected)
      PostMessageA(socket.WindowHandle(), MsgSocketEvent, oldHandle,
                   WSAMAKESELECTREPLY(FD_READ | FD_CLOSE, 0));
  };
  Server->Events.clear();
  Listener.Adopter = Server;
  tProbeSocket second;
  second.ConnectTo(Listener.Port);
  ASSERT_TRUE(
      WaitUntil([&] { return Server->SocketHandle() != oldHandle && second.State() == wsConnected; }));
  EXPECT_EQ(Server->Events, (Events{"state connected>closed", "state closed>connected"}));
  EXPECT_TRUE(WaitUntil([&] { return Client.State() == wsClosed; }));
  EXPECT_EQ(Client.SessionClosedCount, 1);
  PumpFor(50ms);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(Server->State(), wsConnected);
  EXPECT_EQ(Server->SessionClosedCount, 0);
}

TEST_F(SocketConnection, ZeroBytesQueueNothingAndStillReportDataSentLater) {
  ASSERT_TRUE(WaitUntil([&] { return Client.DataSentCount == 1; })); // the fresh connection's own
  bool inSend = true;
  bool firedInsideSend = false;
  Client.OnDataSent = [&](TCustomWSocket&, WORD) {
    firedInsideSend = firedInsideSend || inSend;
    ++Client.DataSentCount;
  };
  EXPECT_EQ(Client.Send(nullptr, 0), 0);
  inSend = false;
  EXPECT_TRUE(Client.SendQueue.empty());
  ASSERT_TRUE(WaitUntil([&] { return Client.DataSentCount == 2; }));
  EXPECT_FALSE(firedInsideSend);
}

TEST(SocketSend, SendWhileNotConnectedRaisesError10057) {
  tProbeSocket socket;
  EXPECT_EQ(RaisedMessage([&] { socket.SendText("x"); }),
            "Error 10057 in function Send\r\nSocket is not connected");
  EXPECT_EQ(socket.Events, (Events{"state closed>closed"}));
}

TEST(SocketClose, AbortOfAListenerStopsItAtOnce) {
  tProbeListener server;
  server.Listener.Events.clear();
  server.Listener.Abort();
  EXPECT_EQ(server.Listener.Events, (Events{"state listening>closed", "closed 0"}));
  tLoopbackPeer peer;
  EXPECT_FALSE(peer.Connect(server.Port));
}

TEST(SocketClose, BytesStillHeldAreDeliveredBeforeTheSessionClosedNotification) {
  tProbeListener server;
  tLoopbackPeer peer;
  tProbeSocket* adopted = server.Next(peer);
  ASSERT_NE(adopted, nullptr);
  adopted->OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    char chunk[3]; // small reads: several passes per notification
    const int n = socket.Receive(chunk, sizeof chunk);
    if (n > 0) {
      adopted->Received.append(chunk, static_cast<size_t>(n));
      adopted->Events.push_back("data");
    }
  };
  ASSERT_TRUE(peer.Send("half-way close"));
  peer.ShutdownSending();
  ASSERT_TRUE(WaitUntil([&] { return adopted->State() == wsClosed; }));
  EXPECT_EQ(adopted->Received, "half-way close");
  EXPECT_EQ(adopted->SessionClosedCount, 1);
  const auto closed = std::find(adopted->Events.begin(), adopted->Events.end(), "closed 0");
  EXPECT_EQ(std::find(closed, adopted->Events.end(), "data"), adopted->Events.end());
}

TEST(SocketProperties, AFailedListenRaisesItsExactMessageAndLeavesNoDescriptor) {
  tProbeListener server;
  const int descriptorsBefore = BaselineDescriptors();
  tProbeSocket used;
  used.SetAddr("127.0.0.1");
  used.SetPort(std::to_string(server.Port));
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { server.Listener.SetPort("81"); }, "Cannot change Port if not closed"},
      {[&] { used.Listen(); }, "Error 10048 in function Bind\r\nAddress already in use"},
      {[&] { used.SetPort("no-such-service"), used.Listen(); },
       "listen: WSocketResolvePort: Cannot convert port 'no-such-service'"},
  };
  for (const auto& [action, message] : cases)
    EXPECT_EQ(RaisedMessage(action), message);
  EXPECT_EQ(used.State(), wsClosed);
  EXPECT_TRUE(DescriptorsBackTo(descriptorsBefore));
}

TEST(SocketMessages, AQuitMessageIsTakenByThePumpAndNotDispatched) {
  tProbeSocket socket;
  PostMessageA(socket.WindowHandle(), MsgCloseDelayed, 0, 0);
  PostQuitMessage(0);
  socket.PumpMessages();
  EXPECT_TRUE(socket.QuitSeen);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(SocketConnection, AnExceptionInADataHandlerEndsOnlyThatDelivery) {
  std::string received;
  Server->OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    received += socket.ReceiveText();
    throw ESocketException("handler failed");
  };
  Client.SendText("one");
  ASSERT_TRUE(WaitUntil([&] { return received == "one"; }));
  Client.SendText("two");
  EXPECT_TRUE(WaitUntil([&] { return received == "onetwo"; }));
  EXPECT_EQ(Server->State(), wsConnected);
  EXPECT_EQ(Server->ReadCount(), 0) << "ReceiveText does not count";
}

TEST(SocketConnect, ARefusedConnectReportsItsErrorThenClosesWithNone) {
  tProbeSocket client;
  client.ConnectTo(static_cast<uint16_t>(FreeLoopbackPort()));
  ASSERT_TRUE(WaitUntil([&] { return client.SessionClosedCount == 1; }));
  EXPECT_EQ(client.Events,
            (Events{"state closed>opened", "state opened>connecting", "state connecting>connected",
                    "connected 10061", "state connected>closed", "closed 0"}));
}

TEST(SocketLookups, DottedNamesAnswerAtOnceOthersFromTheLoopAndCancelOrDestroyEndThemQuietly) {
  tProbeSocket socket;
  std::vector<std::string> done;
  socket.OnDnsLookupDone = [&](TCustomWSocket& s, WORD error) {
    done.push_back(std::to_string(error) + " " + s.DnsResult() + " " +
                   std::to_string(s.DnsResultList().size()));
  };
  socket.DnsLookup("10.1.2.3");
  EXPECT_EQ(done, (Events{"0 10.1.2.3 0"}));
  socket.DnsLookup("localhost");
  EXPECT_EQ(done.size(), 1u);
  ASSERT_TRUE(WaitUntil([&] { return done.size() == 2; }));
  EXPECT_TRUE(done[1].starts_with("0 127.0.0.1 ")) << done[1];
  socket.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(WaitUntil([&] { return done.size() == 3; }));
  EXPECT_EQ(done[2], "0 localhost 1");
  socket.DnsLookup("localhost");
  socket.CancelDnsLookup();
  EXPECT_EQ(done.back(), "10004  0");
  EXPECT_EQ(RaisedMessage([&] { socket.ReverseDnsLookup(""); }), "DNS lookup: invalid host name.");
  int errors = 0;
  socket.OnError = [&](TCustomWSocket&) { ++errors; };
  socket.DnsLookup("");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(done.back(), "10022  0");
  const size_t count = done.size();
  auto pending = std::make_unique<tProbeSocket>();
  pending->OnDnsLookupDone = socket.OnDnsLookupDone;
  pending->DnsLookup("localhost");
  pending.reset();
  PumpFor(100ms);
  EXPECT_EQ(done.size(), count);
}

} // namespace
