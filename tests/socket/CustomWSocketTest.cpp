// The socket object over real loopback connections between socket objects on this thread's loop.
#include "socket/CustomWSocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "socket/WinsockAPI.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/LoopbackPeer.h"

namespace {

using sockettest::ConnectPair;
using sockettest::RunLoopFor;
using sockettest::RunLoopUntil;
using sockettest::TLoopbackListener;
using sockettest::TProbeSocket;

using Events = std::vector<std::string>;

// The events without the data-sent notifications, which come whenever the system finds room to send.
Events WithoutDataSent(const Events& events) {
  Events kept;
  std::copy_if(events.begin(), events.end(), std::back_inserter(kept),
               [](const std::string& event) { return event.rfind("sent ", 0) != 0; });
  return kept;
}

std::string RaisedMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const ESocketException& e) {
    return e.Message;
  }
  return "(nothing raised)";
}

TEST(SocketLifecycle, ListenAcceptAndDupChangeStatesInOrder) {
  TLoopbackListener server;
  EXPECT_EQ(server.Listener.Events, (Events{"state closed>bound", "state bound>listening"}));
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  EXPECT_EQ(WithoutDataSent(client.Events), (Events{"state closed>opened", "state opened>connecting",
                                                    "state connecting>connected", "connected 0"}));
  TProbeSocket& adopted = *server.Accepted.at(0);
  ASSERT_GE(adopted.Events.size(), 1u);
  EXPECT_EQ(adopted.Events.front(), "state closed>connected");
  EXPECT_EQ(adopted.PeerAddr(), "127.0.0.1");
  EXPECT_EQ(adopted.PeerPort(), client.BoundPort());
}

TEST(SocketLifecycle, DupOnAnOpenObjectClosesItsHandleFirst) {
  TLoopbackListener server;
  TProbeSocket first;
  ASSERT_TRUE(ConnectPair(server, first));
  TProbeSocket& adopter = *server.Accepted.at(0);
  const SOCKET firstHandle = adopter.SocketHandle();
  adopter.Events.clear();
  server.Adopter = &adopter;
  TProbeSocket second;
  second.SetAddr("127.0.0.1");
  second.SetPort(std::to_string(server.Port));
  second.Connect();
  ASSERT_TRUE(
      RunLoopUntil([&] { return adopter.SocketHandle() != firstHandle && second.State() == wsConnected; }));
  EXPECT_EQ(WithoutDataSent(adopter.Events), (Events{"state connected>closed", "state closed>connected"}));
  EXPECT_TRUE(RunLoopUntil([&] { return first.State() == wsClosed; }));
  EXPECT_EQ(first.SessionClosedCount, 1);
}

TEST(SocketData, BytesTravelBothWays) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  adopted.CollectReceived();
  client.CollectReceived();
  EXPECT_EQ(client.SendText("GET / HTTP/1.0\r\n\r\n"), 18);
  ASSERT_TRUE(RunLoopUntil([&] { return adopted.Received.size() == 18; }));
  EXPECT_EQ(adopted.Received, "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(adopted.ReadCount(), 18);
  EXPECT_EQ(adopted.SendText("HTTP/1.0 200 OK\r\n"), 17);
  ASSERT_TRUE(RunLoopUntil([&] { return client.Received.size() == 17; }));
  EXPECT_EQ(client.Received, "HTTP/1.0 200 OK\r\n");
}

TEST(SocketData, ReceiveTextTakesWhatIsReadyWithoutCountingIt) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  std::string text;
  adopted.OnDataAvailable = [&](TCustomWSocket& socket, WORD) { text += socket.ReceiveText(); };
  client.SendText("abcdef");
  ASSERT_TRUE(RunLoopUntil([&] { return text.size() == 6; }));
  EXPECT_EQ(text, "abcdef");
  EXPECT_EQ(adopted.ReadCount(), 0);
}

TEST(SocketData, WithoutADataHandlerIncomingBytesAreDiscarded) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  client.SendText(std::string(5000, 'z'));
  ASSERT_TRUE(RunLoopUntil([&] { return client.AllSent(); }));
  RunLoopFor(100);
  u_long ready = 1;
  ASSERT_EQ(wsock::ioctlsocket(adopted.SocketHandle(), FIONREAD, &ready), 0);
  EXPECT_EQ(ready, 0u);
  EXPECT_EQ(adopted.State(), wsConnected);
}

TEST(SocketData, AHandlerThatLeavesTheBytesUnreadDoesNotHoldTheLoop) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  int calls = 0;
  adopted.OnDataAvailable = [&](TCustomWSocket&, WORD) { ++calls; };
  client.SendText("unread");
  ASSERT_TRUE(RunLoopUntil([&] { return calls > 0; }));
  RunLoopFor(50);
  EXPECT_EQ(adopted.RcvdCount(), 6);
}

TEST(SocketSend, ZeroBytesQueueNothingAndStillReportDataSentLater) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  // The fresh connection's own write notification comes first.
  ASSERT_TRUE(RunLoopUntil([&] { return client.DataSentCount == 1; }));
  client.DataSentCount = 0;
  bool inSend = true;
  bool firedInsideSend = false;
  client.OnDataSent = [&](TCustomWSocket&, WORD) {
    firedInsideSend = firedInsideSend || inSend;
    ++client.DataSentCount;
  };
  EXPECT_EQ(client.Send(nullptr, 0), 0);
  inSend = false;
  EXPECT_EQ(client.DataSentCount, 0);
  EXPECT_TRUE(client.SendQueue.empty());
  ASSERT_TRUE(RunLoopUntil([&] { return client.DataSentCount == 1; }));
  EXPECT_FALSE(firedInsideSend);
}

TEST(SocketSend, SendWhileNotConnectedRaisesError10057AndLeavesTheObjectClosed) {
  TProbeSocket socket;
  EXPECT_EQ(RaisedMessage([&] { socket.SendText("x"); }),
            "Error 10057 in function Send\r\nSocket is not connected");
  EXPECT_EQ(socket.LastError(), 10057);
  EXPECT_EQ(socket.State(), wsClosed);
  EXPECT_EQ(socket.Events, (Events{"state closed>closed"}));
}

TEST(SocketSend, SendWhileNotConnectedGoesToOnErrorWhenAssigned) {
  TProbeSocket socket;
  int errors = 0;
  socket.OnError = [&](TCustomWSocket&) { ++errors; };
  EXPECT_EQ(socket.SendText("x"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(socket.LastError(), 10057);
}

TEST(SocketSend, BytesAreCopiedIntoBlocksOf1514) {
  TProbeSocket socket;
  const std::string data(4000, 'q');
  socket.AppendToSendQueue(data.data(), 4000);
  ASSERT_EQ(socket.SendQueue.size(), 3u);
  EXPECT_EQ(socket.SendQueue[0]->Peek().Length, 1514);
  EXPECT_EQ(socket.SendQueue[1]->Peek().Length, 1514);
  EXPECT_EQ(socket.SendQueue[2]->Peek().Length, 972);
  socket.AppendToSendQueue(data.data(), 100);
  ASSERT_EQ(socket.SendQueue.size(), 3u);
  EXPECT_EQ(socket.SendQueue[2]->Peek().Length, 1072);
}

TEST(SocketClose, CloseNotifiesOnceOnBothEndsAndRestoresDefaults) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  client.Events.clear();
  client.Close();
  EXPECT_EQ(client.Events, (Events{"state connected>closed", "closed 0"}));
  EXPECT_EQ(client.SocketHandle(), INVALID_SOCKET);
  EXPECT_EQ(client.Proto(), "tcp");
  EXPECT_EQ(client.LocalPort(), "0");
  ASSERT_TRUE(RunLoopUntil([&] { return adopted.State() == wsClosed; }));
  EXPECT_EQ(adopted.SessionClosedCount, 1);
  client.Close();
  EXPECT_EQ(client.SessionClosedCount, 1);
}

TEST(SocketClose, AbortOfAListenerStopsItAtOnce) {
  TLoopbackListener server;
  server.Listener.Events.clear();
  server.Listener.Abort();
  EXPECT_EQ(server.Listener.State(), wsClosed);
  EXPECT_EQ(server.Listener.Events, (Events{"state listening>closed", "closed 0"}));
  kwstest::tLoopbackPeer peer;
  EXPECT_FALSE(peer.Connect(server.Port));
}

TEST(SocketClose, ClosingWithUnreadBytesResetsThePeerAndFreesEverything) {
  const int descriptorsBefore = sockettest::BaselineDescriptors();
  {
    TLoopbackListener server;
    kwstest::tLoopbackPeer peer;
    ASSERT_TRUE(peer.Connect(server.Port));
    ASSERT_TRUE(RunLoopUntil([&] { return server.Accepted.size() == 1; }));
    TProbeSocket& adopted = *server.Accepted.at(0);
    int calls = 0;
    adopted.OnDataAvailable = [&](TCustomWSocket&, WORD) { ++calls; }; // claims the bytes, reads none
    ASSERT_TRUE(peer.Send("request that nobody reads"));
    ASSERT_TRUE(RunLoopUntil([&] { return calls > 0; }));
    adopted.Close();
    EXPECT_EQ(adopted.State(), wsClosed);
    EXPECT_EQ(adopted.SessionClosedCount, 1);
    peer.ReadToEnd(std::chrono::seconds(5));
    EXPECT_TRUE(peer.Reset || peer.Closed);
    EXPECT_FALSE(peer.TimedOut);
  }
  EXPECT_TRUE(sockettest::DescriptorsBackTo(descriptorsBefore)) << kwstest::OpenDescriptorCount() << " open";
}

TEST(SocketClose, BytesStillHeldAreDeliveredBeforeTheSessionClosedNotification) {
  TLoopbackListener server;
  kwstest::tLoopbackPeer peer;
  ASSERT_TRUE(peer.Connect(server.Port));
  ASSERT_TRUE(RunLoopUntil([&] { return server.Accepted.size() == 1; }));
  TProbeSocket& adopted = *server.Accepted.at(0);
  adopted.OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    char chunk[3]; // small reads: several passes per notification
    const int n = socket.Receive(chunk, sizeof chunk);
    if (n > 0) {
      adopted.Received.append(chunk, static_cast<size_t>(n));
      adopted.Events.push_back("data");
    }
  };
  ASSERT_TRUE(peer.Send("half-way close"));
  peer.ShutdownSending();
  ASSERT_TRUE(RunLoopUntil([&] { return adopted.SessionClosedCount == 1 && adopted.State() == wsClosed; }));
  EXPECT_EQ(adopted.Received, "half-way close");
  const auto closed = std::find(adopted.Events.begin(), adopted.Events.end(), "closed 0");
  ASSERT_NE(closed, adopted.Events.end());
  EXPECT_EQ(std::find(closed, adopted.Events.end(), "data"), adopted.Events.end());
  EXPECT_EQ(adopted.SessionClosedCount, 1);
}

TEST(SocketClose, DestroyingFiresTheFinalStateChangeButNoSessionClosed) {
  TLoopbackListener server;
  auto adopted = std::make_unique<TWSocket>();
  server.Adopter = adopted.get();
  TProbeSocket client;
  client.SetAddr("127.0.0.1");
  client.SetPort(std::to_string(server.Port));
  client.Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return adopted->State() == wsConnected && client.State() == wsConnected; }));
  Events events;
  adopted->OnChangeState = [&](TCustomWSocket&, TSocketState, TSocketState to) {
    events.push_back(sockettest::StateName(to));
  };
  adopted->OnSessionClosed = [&](TCustomWSocket&, WORD) { events.push_back("session closed"); };
  adopted.reset();
  EXPECT_EQ(events, (Events{"closed"}));
  EXPECT_TRUE(RunLoopUntil([&] { return client.State() == wsClosed; }));
}

TEST(SocketProperties, SettersRefuseChangesWhileOpen) {
  TLoopbackListener server;
  TProbeSocket& listener = server.Listener;
  listener.SetPort("0"); // the same text: nothing happens, even while open
  EXPECT_EQ(RaisedMessage([&] { listener.SetPort("81"); }), "Cannot change Port if not closed");
  EXPECT_EQ(RaisedMessage([&] { listener.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(RaisedMessage([&] { listener.SetProto("udp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(RaisedMessage([&] { listener.SetLocalPort("1"); }), "Cannot change LocalPort if not closed");
  EXPECT_EQ(RaisedMessage([&] { listener.SetLocalAddr("1.2.3.4"); }),
            "Cannot change LocalAddr if not closed");
}

TEST(SocketProperties, AfterACloseThePortMustBeSetAgainBeforeListen) {
  TLoopbackListener server;
  server.Listener.Close();
  EXPECT_EQ(server.Listener.Port(), "0");
  EXPECT_EQ(RaisedMessage([&] { server.Listener.Listen(); }),
            "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  EXPECT_EQ(server.Listener.LastError(), 10022);
}

TEST(SocketProperties, LocalAddrAndSendFlagsConvert) {
  TProbeSocket socket;
  socket.SetLocalAddr("");
  EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
  socket.SetLocalAddr("10.1.2.3");
  EXPECT_EQ(socket.LocalAddr(), "10.1.2.3");
  EXPECT_EQ(RaisedMessage([&] { socket.SetLocalAddr("not an address"); }),
            "SetLocalAddr(): Invalid IP address");
  socket.SetSendFlags(wsSendUrgent);
  EXPECT_EQ(socket.SendFlags(), wsSendUrgent);
  EXPECT_EQ(RaisedMessage([&] { socket.SetSendFlags(static_cast<TSocketSendFlags>(7)); }),
            "Invalid SendFlags");
}

TEST(SocketProperties, ListenFailuresReportAndLeaveNoDescriptor) {
  TLoopbackListener first;
  const int descriptorsBefore = sockettest::BaselineDescriptors();
  TProbeSocket second;
  second.SetAddr("127.0.0.1");
  second.SetPort(std::to_string(first.Port));
  EXPECT_EQ(RaisedMessage([&] { second.Listen(); }),
            "Error 10048 in function Bind\r\nAddress already in use");
  EXPECT_EQ(second.State(), wsClosed);
  EXPECT_EQ(second.SocketHandle(), INVALID_SOCKET);
  EXPECT_TRUE(sockettest::DescriptorsBackTo(descriptorsBefore)) << kwstest::OpenDescriptorCount() << " open";
  second.SetPort("no-such-service");
  EXPECT_EQ(RaisedMessage([&] { second.Listen(); }),
            "listen: WSocketResolvePort: Cannot convert port 'no-such-service'");
}

TEST(SocketMessages, AQuitMessageIsTakenByThePumpAndNotDispatched) {
  TProbeSocket socket;
  PostMessageA(socket.WindowHandle(), MsgCloseDelayed, 0, 0);
  PostQuitMessage(0);
  socket.PumpMessages();
  EXPECT_TRUE(socket.QuitSeen);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(SocketMessages, ANotificationForAnotherHandleIsIgnored) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  int calls = 0;
  adopted.OnDataAvailable = [&](TCustomWSocket&, WORD) { ++calls; };
  const SOCKET current = adopted.SocketHandle();
  PostMessageA(adopted.WindowHandle(), MsgSocketEvent, current + 4, WSAMAKESELECTREPLY(FD_READ, 0));
  RunLoopFor(50);
  EXPECT_EQ(calls, 0);
  PostMessageA(adopted.WindowHandle(), MsgSocketEvent, current, WSAMAKESELECTREPLY(FD_READ, 0));
  EXPECT_TRUE(RunLoopUntil([&] { return calls == 1; }));
}

TEST(SocketMessages, AStaleNotificationAfterDupIsIgnored) {
  TLoopbackListener server;
  TProbeSocket first;
  ASSERT_TRUE(ConnectPair(server, first));
  TProbeSocket& adopter = *server.Accepted.at(0);
  const SOCKET oldHandle = adopter.SocketHandle();
  int calls = 0;
  adopter.OnDataAvailable = [&](TCustomWSocket&, WORD) { ++calls; };
  // Queued for the old handle right after the object adopted a new one.
  adopter.OnChangeState = [&](TCustomWSocket& socket, TSocketState, TSocketState to) {
    if (to == wsConnected) {
      PostMessageA(socket.WindowHandle(), MsgSocketEvent, oldHandle,
                   WSAMAKESELECTREPLY(FD_READ | FD_CLOSE, 0));
    }
  };
  server.Adopter = &adopter;
  TProbeSocket second;
  second.SetAddr("127.0.0.1");
  second.SetPort(std::to_string(server.Port));
  second.Connect();
  ASSERT_TRUE(
      RunLoopUntil([&] { return adopter.SocketHandle() != oldHandle && second.State() == wsConnected; }));
  RunLoopFor(50);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(adopter.State(), wsConnected);
  EXPECT_EQ(adopter.SessionClosedCount, 0);
}

TEST(SocketMessages, APostedCloseClosesFromTheLoop) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  client.PostClose();
  EXPECT_EQ(client.State(), wsConnected);
  EXPECT_TRUE(RunLoopUntil([&] { return client.State() == wsClosed; }));
  EXPECT_EQ(client.SessionClosedCount, 1);
}

TEST(SocketMessages, ABackgroundExceptionAbortsTheSocketUnlessVetoed) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  std::string seen;
  client.OnBgException = [&](TCustomWSocket&, Exception& e, bool& canClose) {
    seen = e.Message;
    canClose = false;
  };
  PostMessageA(client.WindowHandle(), MsgTestException, 0, 0);
  ASSERT_TRUE(RunLoopUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "Test exception in WSocket");
  EXPECT_EQ(client.State(), wsConnected);
  client.OnBgException = nullptr;
  PostMessageA(client.WindowHandle(), MsgTestException, 0, 0);
  EXPECT_TRUE(RunLoopUntil([&] { return client.State() == wsClosed; }));
}

TEST(SocketMessages, AnExceptionInADataHandlerEndsOnlyThatDelivery) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  std::string received;
  adopted.OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    received += socket.ReceiveText();
    throw ESocketException("handler failed");
  };
  client.SendText("one");
  ASSERT_TRUE(RunLoopUntil([&] { return received == "one"; }));
  client.SendText("two");
  EXPECT_TRUE(RunLoopUntil([&] { return received == "onetwo"; }));
  EXPECT_EQ(adopted.State(), wsConnected);
}

TEST(SocketMessages, PauseHoldsNotificationsUntilResume) {
  TLoopbackListener server;
  TProbeSocket client;
  ASSERT_TRUE(ConnectPair(server, client));
  TProbeSocket& adopted = *server.Accepted.at(0);
  adopted.CollectReceived();
  ASSERT_TRUE(adopted.Pause());
  client.SendText("held");
  RunLoopFor(100);
  EXPECT_EQ(adopted.Received, "");
  ASSERT_TRUE(adopted.Resume());
  EXPECT_TRUE(RunLoopUntil([&] { return adopted.Received == "held"; }));
}

TEST(SocketMessages, APausedListenerHearsOfConnectionsAgainAfterResume) {
  TLoopbackListener server;
  ASSERT_TRUE(server.Listener.Pause());
  ASSERT_TRUE(server.Listener.Resume());
  kwstest::tLoopbackPeer peer;
  ASSERT_TRUE(peer.Connect(server.Port));
  EXPECT_TRUE(RunLoopUntil([&] { return server.Accepted.size() == 1; }));
}

TEST(SocketConnect, ARefusedConnectReportsItsErrorThenClosesWithNone) {
  uint16_t closedPort = 0;
  {
    kwstest::tLoopbackPeer probe;
    closedPort = probe.Listen(); // free now that the probe is gone
  }
  TProbeSocket client;
  client.SetAddr("127.0.0.1");
  client.SetPort(std::to_string(closedPort));
  client.Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return client.SessionClosedCount == 1; }));
  EXPECT_EQ(WithoutDataSent(client.Events),
            (Events{"state closed>opened", "state opened>connecting", "state connecting>connected",
                    "connected 10061", "state connected>closed", "closed 0"}));
}

TEST(SocketConnect, ConnectRefusesMissingSettingsAndASocketInUse) {
  TProbeSocket socket;
  EXPECT_EQ(RaisedMessage([&] { socket.Connect(); }), "Connect: No Port Specified");
  socket.SetPort("80");
  EXPECT_EQ(RaisedMessage([&] { socket.Connect(); }), "Connect: No IP Address Specified");
  socket.SetAddr("127.0.0.1");
  socket.SetProto("");
  EXPECT_EQ(RaisedMessage([&] { socket.Connect(); }), "Connect: No Protocol Specified");
  socket.SetProto("no-such-protocol");
  EXPECT_EQ(RaisedMessage([&] { socket.Connect(); }),
            "connect: WSocketResolveProto: Cannot convert protocol 'no-such-protocol'");
  TLoopbackListener server;
  EXPECT_EQ(RaisedMessage([&] { server.Listener.Connect(); }), "Connect: Socket already in use");
}

TEST(SocketDatagram, ADatagramListenerIsConnectedAtOnceAndReceivesWhatIsSentToIt) {
  TProbeSocket receiver;
  receiver.SetProto("udp");
  receiver.SetAddr("127.0.0.1");
  receiver.SetPort("0");
  std::string got;
  receiver.OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    char datagram[64];
    sockaddr_in from{};
    int fromLength = sizeof(from);
    const int n =
        socket.ReceiveFrom(datagram, sizeof datagram, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n > 0) {
      got.assign(datagram, static_cast<size_t>(n));
    }
  };
  receiver.Listen();
  EXPECT_EQ(WithoutDataSent(receiver.Events), (Events{"state closed>bound", "state bound>listening",
                                                      "state listening>connected", "connected 0"}));
  TProbeSocket sender;
  sender.SetProto("udp");
  sender.SetAddr("127.0.0.1");
  sender.SetPort(receiver.BoundPort());
  sender.Connect();
  EXPECT_EQ(sender.State(), wsConnected);
  EXPECT_EQ(sender.SendText("datagram"), 8);
  EXPECT_TRUE(RunLoopUntil([&] { return got == "datagram"; }));
  EXPECT_EQ(receiver.ReadCount(), 8);
}

} // namespace
