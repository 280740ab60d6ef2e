// The socket object over real loopback connections between socket objects on this thread's loop.
#include "socket/CustomWSocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "socket/WinsockAPI.h"
#include "tests/support/SocketProbe.h"

using namespace kwstest;

namespace {

using Events = std::vector<std::string>;

// A listener, a client probe connected to it, and the listener's end of that connection.
class SocketConnection : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_NE(Server = ConnectPair(Listener, Client), nullptr); }

  tProbeListener Listener;
  tProbeSocket Client;
  tProbeSocket* Server = nullptr;
};

TEST(SocketLifecycle, ListenAcceptAndDupChangeStatesInOrder) {
  tProbeListener listener;
  EXPECT_EQ(listener.Listener.Events, (Events{"state closed>bound", "state bound>listening"}));
  tProbeSocket client;
  tProbeSocket* server = ConnectPair(listener, client);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(client.Events, (Events{"state closed>opened", "state opened>connecting",
                                   "state connecting>connected", "connected 0"}));
  EXPECT_EQ(server->Events, (Events{"state closed>connected"}));
  EXPECT_EQ(server->PeerAddr(), "127.0.0.1");
  EXPECT_EQ(server->PeerPort(), client.BoundPort());
}

// Dup onto an object still connected: the old connection is closed first, and a notification still queued
// for its handle is ignored.
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

TEST_F(SocketConnection, WithoutADataHandlerIncomingBytesAreDiscarded) {
  Client.SendText(std::string(5000, 'z'));
  ASSERT_TRUE(WaitUntil([&] { return Client.AllSent(); }));
  PumpFor(100ms);
  u_long ready = 1;
  ASSERT_EQ(wsock::ioctlsocket(Server->SocketHandle(), FIONREAD, &ready), 0);
  EXPECT_EQ(ready, 0u);
  EXPECT_EQ(Server->State(), wsConnected);
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

TEST(SocketSend, SendWhileNotConnectedRaisesError10057OrGoesToOnError) {
  tProbeSocket socket;
  EXPECT_EQ(RaisedMessage([&] { socket.SendText("x"); }),
            "Error 10057 in function Send\r\nSocket is not connected");
  EXPECT_EQ(socket.State(), wsClosed);
  EXPECT_EQ(socket.Events, (Events{"state closed>closed"}));
  int errors = 0;
  socket.OnError = [&](TCustomWSocket&) { ++errors; };
  EXPECT_EQ(socket.SendText("x"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(socket.LastError(), 10057);
}

TEST(SocketSend, BytesAreCopiedIntoBlocksOf1514) {
  tProbeSocket socket;
  const std::string data(4000, 'q');
  socket.AppendToSendQueue(data.data(), 4000);
  socket.AppendToSendQueue(data.data(), 100);
  std::vector<int> lengths;
  for (const auto& block : socket.SendQueue)
    lengths.push_back(block->Peek().Length);
  EXPECT_EQ(lengths, (std::vector<int>{1514, 1514, 1072}));
}

TEST_F(SocketConnection, CloseNotifiesOnceOnBothEndsAndRestoresDefaults) {
  Client.Events.clear();
  Client.Close();
  EXPECT_EQ(Client.Events, (Events{"state connected>closed", "closed 0"}));
  EXPECT_EQ(Client.SocketHandle(), INVALID_SOCKET);
  EXPECT_EQ(Client.LocalPort(), "0");
  ASSERT_TRUE(WaitUntil([&] { return Server->State() == wsClosed; }));
  EXPECT_EQ(Server->SessionClosedCount, 1);
  Client.Close();
  EXPECT_EQ(Client.SessionClosedCount, 1);
}

TEST(SocketClose, AbortOfAListenerStopsItAtOnce) {
  tProbeListener server;
  server.Listener.Events.clear();
  server.Listener.Abort();
  EXPECT_EQ(server.Listener.Events, (Events{"state listening>closed", "closed 0"}));
  tLoopbackPeer peer;
  EXPECT_FALSE(peer.Connect(server.Port));
}

TEST(SocketClose, ClosingWithUnreadBytesResetsThePeerAndFreesEverything) {
  const int descriptorsBefore = BaselineDescriptors();
  {
    tProbeListener server;
    tLoopbackPeer peer;
    tProbeSocket* adopted = server.Next(peer);
    ASSERT_NE(adopted, nullptr);
    int calls = 0;
    adopted->OnDataAvailable = [&](TCustomWSocket&, WORD) { ++calls; }; // claims the bytes, reads none
    ASSERT_TRUE(peer.Send("request that nobody reads"));
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
    adopted->Close();
    EXPECT_EQ(adopted->SessionClosedCount, 1);
    peer.ReadToEnd(5s);
    EXPECT_TRUE(peer.Reset || peer.Closed);
  }
  EXPECT_TRUE(DescriptorsBackTo(descriptorsBefore));
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

TEST(SocketClose, DestroyingFiresTheFinalStateChangeButNoSessionClosed) {
  tProbeListener server;
  auto adopted = std::make_unique<TWSocket>();
  server.Adopter = adopted.get();
  tProbeSocket client;
  client.ConnectTo(server.Port);
  ASSERT_TRUE(WaitUntil([&] { return adopted->State() == wsConnected && client.State() == wsConnected; }));
  Events events;
  adopted->OnChangeState = [&](TCustomWSocket&, TSocketState, TSocketState to) {
    events.push_back(StateName(to));
  };
  adopted->OnSessionClosed = [&](TCustomWSocket&, WORD) { events.push_back("session closed"); };
  adopted.reset();
  EXPECT_EQ(events, (Events{"closed"}));
  EXPECT_TRUE(WaitUntil([&] { return client.State() == wsClosed; }));
}

TEST(SocketProperties, SettersAndListenRaiseTheirExactMessages) {
  tProbeListener server;
  tProbeSocket& open = server.Listener;
  open.SetPort("0"); // the same text: nothing happens, even while open
  tProbeSocket closed;
  tProbeSocket used;
  used.SetAddr("127.0.0.1");
  used.SetPort(std::to_string(server.Port));
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { open.SetPort("81"); }, "Cannot change Port if not closed"},
      {[&] { open.SetAddr("127.0.0.2"); }, "Cannot change Addr if not closed"},
      {[&] { open.SetProto("udp"); }, "Cannot change Proto if not closed"},
      {[&] { open.SetLocalPort("1"); }, "Cannot change LocalPort if not closed"},
      {[&] { open.SetLocalAddr("1.2.3.4"); }, "Cannot change LocalAddr if not closed"},
      {[&] { closed.SetLocalAddr("not an address"); }, "SetLocalAddr(): Invalid IP address"},
      {[&] { closed.SetSendFlags(static_cast<TSocketSendFlags>(7)); }, "Invalid SendFlags"},
      {[&] { used.Listen(); }, "Error 10048 in function Bind\r\nAddress already in use"},
      {[&] { used.SetPort("no-such-service"), used.Listen(); },
       "listen: WSocketResolvePort: Cannot convert port 'no-such-service'"},
      {[&] { open.Close(), open.Listen(); },
       "Error 10022 in function listen: port not assigned\r\nInvalid argument"},
  };
  for (const auto& [action, message] : cases)
    EXPECT_EQ(RaisedMessage(action), message);
}

TEST(SocketProperties, AFailedListenLeavesNoDescriptor) {
  tProbeListener first;
  const int descriptorsBefore = BaselineDescriptors();
  tProbeSocket second;
  second.SetAddr("127.0.0.1");
  second.SetPort(std::to_string(first.Port));
  EXPECT_NE(RaisedMessage([&] { second.Listen(); }), "(nothing raised)");
  EXPECT_EQ(second.State(), wsClosed);
  EXPECT_EQ(second.SocketHandle(), INVALID_SOCKET);
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

TEST_F(SocketConnection, APostedCloseClosesFromTheLoop) {
  Client.PostClose();
  EXPECT_EQ(Client.State(), wsConnected);
  EXPECT_TRUE(WaitUntil([&] { return Client.State() == wsClosed; }));
  EXPECT_EQ(Client.SessionClosedCount, 1);
}

TEST_F(SocketConnection, ABackgroundExceptionAbortsTheSocketUnlessVetoed) {
  std::string seen;
  Client.OnBgException = [&](TCustomWSocket&, Exception& e, bool& canClose) {
    seen = e.Message;
    canClose = false;
  };
  PostMessageA(Client.WindowHandle(), MsgTestException, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "Test exception in WSocket");
  EXPECT_EQ(Client.State(), wsConnected);
  Client.OnBgException = nullptr;
  PostMessageA(Client.WindowHandle(), MsgTestException, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return Client.State() == wsClosed; }));
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

TEST_F(SocketConnection, PauseHoldsNotificationsUntilResume) {
  Server->CollectReceived();
  ASSERT_TRUE(Server->Pause());
  Client.SendText("held");
  PumpFor(100ms);
  EXPECT_EQ(Server->Received, "");
  ASSERT_TRUE(Server->Resume());
  EXPECT_TRUE(WaitUntil([&] { return Server->Received == "held"; }));
  ASSERT_TRUE(Listener.Listener.Pause());
  ASSERT_TRUE(Listener.Listener.Resume());
  tLoopbackPeer peer;
  EXPECT_NE(Listener.Next(peer), nullptr) << "a resumed listener hears of connections again";
}

TEST(SocketConnect, ARefusedConnectReportsItsErrorThenClosesWithNone) {
  tProbeSocket client;
  client.ConnectTo(static_cast<uint16_t>(FreeLoopbackPort()));
  ASSERT_TRUE(WaitUntil([&] { return client.SessionClosedCount == 1; }));
  EXPECT_EQ(client.Events,
            (Events{"state closed>opened", "state opened>connecting", "state connecting>connected",
                    "connected 10061", "state connected>closed", "closed 0"}));
}

TEST(SocketConnect, ConnectRefusesMissingSettingsAndASocketInUse) {
  tProbeSocket socket;
  tProbeListener server;
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { socket.Connect(); }, "Connect: No Port Specified"},
      {[&] { socket.SetPort("80"), socket.Connect(); }, "Connect: No IP Address Specified"},
      {[&] { socket.SetAddr("127.0.0.1"), socket.SetProto(""), socket.Connect(); },
       "Connect: No Protocol Specified"},
      {[&] { socket.SetProto("no-such-protocol"), socket.Connect(); },
       "connect: WSocketResolveProto: Cannot convert protocol 'no-such-protocol'"},
      {[&] { server.Listener.Connect(); }, "Connect: Socket already in use"},
  };
  for (const auto& [action, message] : cases)
    EXPECT_EQ(RaisedMessage(action), message);
}

TEST(SocketDatagram, ADatagramListenerIsConnectedAtOnceAndReceivesWhatIsSentToIt) {
  tProbeSocket receiver;
  receiver.SetProto("udp");
  receiver.SetAddr("127.0.0.1");
  receiver.SetPort("0");
  receiver.CollectReceived();
  receiver.Listen();
  EXPECT_EQ(receiver.Events, (Events{"state closed>bound", "state bound>listening",
                                     "state listening>connected", "connected 0"}));
  tProbeSocket sender;
  sender.ConnectTo(static_cast<uint16_t>(std::stoi(receiver.BoundPort())), "udp");
  EXPECT_EQ(sender.State(), wsConnected);
  EXPECT_EQ(sender.SendText("datagram"), 8);
  EXPECT_TRUE(WaitUntil([&] { return receiver.Received == "datagram"; }));
  EXPECT_EQ(receiver.ReadCount(), 8);
}

} // namespace
