#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/WinsockFixture.h"

using namespace kwstest;

namespace {

constexpr long kAll = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
using Wsock32Notifier = tNotifierTest;

// Edge-triggered: "def" arrives while read is disabled, and the recv that leaves it waiting posts its read.
TEST_F(Wsock32Notifier, ReadComesOnceUntilTheNextRecvWhichPostsAReadMetMeanwhile) {
  tPair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ | FD_CLOSE), 0);
  ASSERT_EQ(SendText(pair.Client, "abc"), 3);
  EXPECT_EQ(Next(), (tNote{pair.Server, FD_READ, 0}));
  ASSERT_EQ(SendText(pair.Client, "def"), 3);
  EXPECT_EQ(Barrier(), tNotes{}) << "no second read before a recv";
  EXPECT_EQ(ReceiveText(pair.Server, 2), "ab");
  EXPECT_EQ(Next(), (tNote{pair.Server, FD_READ, 0})) << "bytes still wait";
  EXPECT_EQ(ReceiveText(pair.Server, 100), "cdef");
  EXPECT_EQ(Barrier(), tNotes{}) << "nothing waits after a recv that emptied the socket";
  ASSERT_EQ(SendText(pair.Client, "g"), 1);
  EXPECT_EQ(Next(), (tNote{pair.Server, FD_READ, 0})) << "the recv re-enabled read";
}

TEST_F(Wsock32Notifier, WriteComesAtRegistrationThenOnlyOnceRoomReturnsAfterAShortSend) {
  tPair pair = Connected();
  ShrinkBuffers(pair);
  ASSERT_EQ(Select(pair.Server, FD_WRITE | FD_CLOSE), 0);
  EXPECT_EQ(Next(), (tNote{pair.Server, FD_WRITE, 0})) << "a connected socket with room";
  EXPECT_EQ(SendText(pair.Server, "small"), 5);
  EXPECT_EQ(Barrier(), tNotes{}) << "a send that took everything asks for nothing";
  std::string big(4 << 20, 'w');
  int taken = SendText(pair.Server, big);
  ASSERT_GT(taken, 0);
  ASSERT_LT(taken, static_cast<int>(big.size())) << "the kernel took all of it; the test needs a short send";
  EXPECT_EQ(ReceiveExactly(pair.Client, 5 + static_cast<size_t>(taken)).size(),
            5 + static_cast<size_t>(taken));
  EXPECT_EQ(Next(), (tNote{pair.Server, FD_WRITE, 0})) << "room again after a short send";
  EXPECT_EQ(Barrier(), tNotes{});
}

// The accepted socket takes the listener's mode but not its registration.
TEST_F(Wsock32Notifier, AcceptIsConfirmedAndRepeatedWhileMoreWaitAndTheAcceptedSocketStartsUnregistered) {
  SOCKET listener = Listener();
  ASSERT_EQ(Select(listener, kAll), 0);
  EXPECT_EQ(Barrier(), tNotes{}) << "a listener gets neither read nor write";
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(ConnectTo(Tcp(), PortOf(listener)), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Next(), (tNote{listener, FD_ACCEPT, 0})) << i;
    EXPECT_EQ(Barrier(), tNotes{}) << "one notification at a time " << i;
    EXPECT_NE(Track(ws.accept(listener, nullptr, nullptr)), INVALID_SOCKET) << "backed by a connection";
  }
  EXPECT_EQ(Barrier(), tNotes{}) << "no accept notification without a connection";
  EXPECT_EQ(ws.accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  SOCKET client = Tcp();
  ASSERT_EQ(ConnectTo(client, PortOf(listener)), 0);
  EXPECT_EQ(Next(), (tNote{listener, FD_ACCEPT, 0}));
  SOCKET accepted = Track(ws.accept(listener, nullptr, nullptr));
  EXPECT_EQ(ReceiveText(accepted), "error 10035") << "non-blocking like its listener";
  ASSERT_EQ(SendText(client, "hi"), 2);
  EXPECT_EQ(Barrier(), tNotes{});
  u_long waiting = 0;
  ASSERT_TRUE(WaitUntil([&] { return ws.ioctlsocket(accepted, FIONREAD, &waiting) == 0 && waiting == 2; }, 5s,
                        tPump::None));
  ASSERT_EQ(Select(accepted, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
  EXPECT_EQ(Next(), (tNote{accepted, FD_READ, 0})) << "the registration posts what already holds";
  EXPECT_EQ(Next(), (tNote{accepted, FD_WRITE, 0}));
  EXPECT_EQ(Barrier(), tNotes{}) << "no connect for an accepted socket";
}

TEST_F(Wsock32Notifier, CloseComesOnceAfterAReadOnlyForUnreadBytes) {
  struct Case {
    std::string Data;
    bool Reset, RegisterLate;
    std::vector<std::pair<WORD, WORD>> Expected; // event, error
    std::string Then;                            // what recv gives after them
  };
  const Case cases[] = {
      {"xyz", false, false, {{FD_READ, 0}, {FD_CLOSE, 0}}, "xyz"},
      {"", false, false, {{FD_CLOSE, 0}}, ""},
      {"", true, false, {{FD_CLOSE, WSAECONNRESET}}, "error 10054"},
      {"early", false, true, {{FD_READ, 0}, {FD_WRITE, 0}, {FD_CLOSE, 0}}, "arly"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Data);
    tPair pair = Connected();
    if (c.Reset) {
      ASSERT_EQ(Select(pair.Server, FD_READ | FD_WRITE | FD_CLOSE), 0);
      EXPECT_EQ(Next(), (tNote{pair.Server, FD_WRITE, 0}));
      SetLinger(pair.Client, true, 0);
    } else if (!c.RegisterLate) {
      ASSERT_EQ(Select(pair.Server, FD_READ | FD_CLOSE), 0);
    }
    ASSERT_EQ(SendText(pair.Client, c.Data), static_cast<int>(c.Data.size()));
    ASSERT_EQ(Close(pair.Client), 0);
    if (c.RegisterLate) {
      EXPECT_EQ(ReceiveText(pair.Server, 1), "e") << "the data and the end have arrived";
      ASSERT_EQ(Select(pair.Server, kAll), 0);
    }
    for (auto [event, error] : c.Expected)
      EXPECT_EQ(Next(), (tNote{pair.Server, event, error}));
    EXPECT_EQ(Barrier(), tNotes{}) << "close comes once";
    EXPECT_EQ(ReceiveText(pair.Server), c.Then);
    EXPECT_EQ(ReceiveText(pair.Server), c.Reset ? "error 10054" : "");
    EXPECT_EQ(Barrier(), tNotes{});
  }
}

TEST_F(Wsock32Notifier, ConnectReportsSuccessThenRoomToWriteEvenWhenItEndedBeforeTheRegistration) {
  for (bool registerFirst : {true, false}) {
    SOCKET listener = Listener();
    SOCKET client = Tcp();
    if (registerFirst) {
      ASSERT_EQ(Select(client, kAll), 0);
      EXPECT_EQ(Barrier(), tNotes{}) << "an unconnected socket reports nothing";
    } else {
      SetNonBlocking(client, true);
    }
    if (ConnectTo(client, PortOf(listener)) == SOCKET_ERROR) {
      EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    }
    if (!registerFirst) {
      Track(ws.accept(listener, nullptr, nullptr)); // blocking: the connection is complete now
      ASSERT_EQ(Select(client, FD_CONNECT | FD_WRITE), 0);
    }
    EXPECT_EQ(Next(), (tNote{client, FD_CONNECT, 0}));
    EXPECT_EQ(Next(), (tNote{client, FD_WRITE, 0}));
    EXPECT_EQ(Barrier(), tNotes{});
  }
}

// A mask of zero on this thread, or closesocket on another as a worker closes its handler's socket, while
// traffic flows: no notification for the socket may follow a marker posted right after the call.
TEST_F(Wsock32Notifier, MaskZeroAndClosesocketFromAnotherThreadCancelAtOnce) {
  constexpr UINT kMarker = WM_USER + 70;
  for (bool closeElsewhere : {false, true}) {
    for (int round = 0; round < 50; ++round) {
      tPair pair = Connected();
      ASSERT_EQ(Select(pair.Server, FD_READ | FD_WRITE | FD_CLOSE), 0);
      SetNonBlocking(pair.Client, true); // a full path must not stop the traffic thread
      std::atomic<bool> stop{false};
      std::thread traffic([&] {
        while (!stop)
          SendText(pair.Client, "z");
      });
      if (closeElsewhere) {
        std::thread([&] { EXPECT_EQ(Close(pair.Server), 0); }).join();
      } else {
        ReceiveText(pair.Server); // keeps read notifications coming
        ASSERT_EQ(Select(pair.Server, 0), 0);
      }
      PostMessageA(Window, kMarker, 0, 0);
      stop = true;
      traffic.join();
      bool markerSeen = false;
      while (std::optional<MSG> msg = NextMessage(markerSeen ? 0s : 5s)) {
        markerSeen = markerSeen || msg->message == kMarker;
        EXPECT_FALSE(markerSeen && msg->message == kSocketMessage && ToNote(*msg).Socket == pair.Server)
            << ToNote(*msg) << " after the cancel, round " << round;
      }
      EXPECT_TRUE(markerSeen);
      Close(pair.Client);
      Close(pair.Server); // refused, and harmless, when it is closed already
    }
  }
}

TEST_F(Wsock32Notifier, QueuedNotificationsKeepTheClosedSocketsHandleWhichIsNeverReused) {
  tPair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ), 0);
  ASSERT_EQ(SendText(pair.Client, "old"), 3);
  EXPECT_EQ(Next(), (tNote{pair.Server, FD_READ, 0}));
  ASSERT_EQ(SendText(pair.Client, "more"), 4);
  ASSERT_EQ(ReceiveText(pair.Server, 3), "old"); // posts read again: "more" waits
  ASSERT_EQ(Close(pair.Server), 0);
  tPair fresh = Connected(); // never the old handle: see Wsock32Handles
  ASSERT_EQ(Select(fresh.Server, FD_READ), 0);
  ASSERT_EQ(SendText(fresh.Client, "new"), 3);
  EXPECT_EQ(Next(), (tNote{pair.Server, FD_READ, 0})) << "the queued message names the old socket";
  EXPECT_EQ(Next(), (tNote{fresh.Server, FD_READ, 0}));
}

TEST_F(Wsock32Notifier, ManyConnectionsClosedOnWorkerThreadsWhileTrafficFlows) {
  constexpr size_t kConnections = 40;
  SOCKET listener = Listener();
  std::vector<SOCKET> clients, servers;
  for (size_t i = 0; i < kConnections; ++i) {
    ASSERT_EQ(ConnectTo(clients.emplace_back(Tcp()), PortOf(listener)), 0);
    ASSERT_EQ(
        Select(servers.emplace_back(ws.accept(listener, nullptr, nullptr)), FD_READ | FD_WRITE | FD_CLOSE),
        0);
  }
  std::atomic<size_t> done{0};
  std::vector<std::thread> workers;
  for (size_t i = 0; i < kConnections; ++i) {
    workers.emplace_back([&, i] {
      for (int k = 0; k < 20; ++k)
        SendText(clients[i], "data");
      SendText(servers[i], "reply");
      EXPECT_EQ(ws.closesocket(servers[i]), 0);
      ++done;
    });
  }
  // Meanwhile this thread takes the notifications and reads, as the server's main thread does; a read may
  // answer 10038 once its worker closed the socket.
  EXPECT_TRUE(WaitUntil(
      [&] {
        while (std::optional<tNote> note = Next(0s))
          if (note->Event == FD_READ)
            ReceiveText(note->Socket);
        return done == kConnections;
      },
      10s, tPump::None));
  for (std::thread& worker : workers)
    worker.join();
}

// A cancel that succeeds guarantees the caller's buffer is never written and nothing is posted, so the
// caller may free both at once.
TEST_F(Wsock32Notifier, ACancelledLookUpNeverWritesNorPosts) {
  constexpr UINT kLookupMessage = WM_USER + 2;
  const std::vector<char> untouched(MAXGETHOSTSTRUCT, '\x5A');
  std::vector<std::vector<char>> buffers(40, untouched);
  std::vector<WPARAM> finished;
  std::vector<size_t> cancelled;
  auto lookUp = [&](std::vector<char>& buffer) {
    return ws.WSAAsyncGetHostByName(Window, kLookupMessage, "localhost", buffer.data(), MAXGETHOSTSTRUCT);
  };
  for (size_t i = 0; i < buffers.size(); ++i) {
    HANDLE task = lookUp(buffers[i]);
    ASSERT_NE(task, nullptr);
    if (ws.WSACancelAsyncRequest(task) == 0) {
      cancelled.push_back(i);
      EXPECT_EQ(ws.WSACancelAsyncRequest(task), SOCKET_ERROR) << "cancelled twice";
    } else {
      finished.push_back(reinterpret_cast<WPARAM>(task));
    }
    EXPECT_EQ(ws.WSAGetLastError(), WSAEALREADY);
  }
  EXPECT_EQ(ws.WSACancelAsyncRequest(reinterpret_cast<HANDLE>(uintptr_t{7})), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
  // Finished look-ups posted before their cancel failed; a later look-up's reply comes after all of them.
  std::vector<char> last(MAXGETHOSTSTRUCT);
  WPARAM final = reinterpret_cast<WPARAM>(lookUp(last));
  std::vector<WPARAM> replied;
  for (std::optional<MSG> msg; (msg = NextMessage()) && msg->wParam != final;) {
    EXPECT_EQ(msg->message, kLookupMessage);
    replied.push_back(msg->wParam);
  }
  EXPECT_EQ(replied, finished);
  for (size_t i : cancelled)
    EXPECT_EQ(buffers[i], untouched) << i;
}

} // namespace
