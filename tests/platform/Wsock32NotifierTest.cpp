// WSAAsyncSelect over loopback: which notifications come, when, in which order, and that none comes after a
// cancel. Each test reads its window's queue with deadlines; a barrier connection proves that the notifier
// has handled every earlier edge before the test asserts that something did not come.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/src/wsock32/Notifier.h"
#include "tests/platform/Wsock32Test.h"

using namespace wstest;

namespace {

constexpr long kAll = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
using Notes = std::vector<Note>;
using Wsock32Notifier = NotifierTest;

TEST_F(Wsock32Notifier, ReadComesOnceUntilTheNextRecv) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ | FD_CLOSE), 0);
  ASSERT_EQ(SendText(pair.Client, "abc"), 3);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0}));
  ASSERT_EQ(SendText(pair.Client, "def"), 3);
  EXPECT_EQ(Barrier(), Notes{}) << "no second read before a recv";

  EXPECT_EQ(ReceiveText(pair.Server, 2), "ab");
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0}))
      << "bytes still wait after a recv that filled its buffer";
  EXPECT_EQ(ReceiveText(pair.Server, 100), "cdef");
  EXPECT_EQ(Barrier(), Notes{}) << "nothing waits after a recv that emptied the socket";

  ASSERT_EQ(SendText(pair.Client, "g"), 1);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0})) << "the recv re-enabled read";
  EXPECT_EQ(ReceiveText(pair.Server), "g");
}

TEST_F(Wsock32Notifier, ReadMetWhileDisabledIsPostedByTheRecv) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ), 0);
  ASSERT_EQ(SendText(pair.Client, "1"), 1);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0}));
  // An edge while read is disabled, then a recv that takes only the first byte.
  ASSERT_EQ(SendText(pair.Client, "2"), 1);
  EXPECT_EQ(Barrier(), Notes{});
  EXPECT_EQ(ReceiveText(pair.Server, 1), "1");
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0}));
  EXPECT_EQ(ReceiveText(pair.Server), "2");
}

TEST_F(Wsock32Notifier, WriteComesAtRegistrationThenOnlyAfterAShortSend) {
  Pair pair = Connected();
  int small = 8192;
  ws.setsockopt(pair.Server, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&small), sizeof small);
  ws.setsockopt(pair.Client, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&small), sizeof small);
  ASSERT_EQ(Select(pair.Server, FD_WRITE | FD_CLOSE), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_WRITE, 0})) << "a connected socket with room";
  EXPECT_EQ(SendText(pair.Server, "small"), 5);
  EXPECT_EQ(Barrier(), Notes{}) << "a send that took everything asks for nothing";

  std::string big(4 << 20, 'w');
  int sent = SendText(pair.Server, big);
  ASSERT_GT(sent, 0);
  ASSERT_LT(sent, static_cast<int>(big.size())) << "the kernel took all of it; the test needs a short send";
  EXPECT_EQ(ReceiveExactly(pair.Client, 5 + static_cast<size_t>(sent)).size(), 5 + static_cast<size_t>(sent));
  EXPECT_EQ(Next(), (Note{pair.Server, FD_WRITE, 0})) << "room again after a short send";
}

TEST_F(Wsock32Notifier, WriteAfterWouldBlockComesOnceRoomReturns) {
  Pair pair = Connected();
  int small = 8192;
  ws.setsockopt(pair.Server, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&small), sizeof small);
  ws.setsockopt(pair.Client, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&small), sizeof small);
  ASSERT_EQ(Select(pair.Server, FD_WRITE), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_WRITE, 0}));
  std::string chunk(65536, 'x');
  size_t total = 0;
  for (;;) {
    int n = SendText(pair.Server, chunk);
    if (n == SOCKET_ERROR) {
      ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
      break;
    }
    total += static_cast<size_t>(n);
  }
  EXPECT_EQ(ReceiveExactly(pair.Client, total).size(), total);
  // Room may have returned between the sends already, which earns a write then too.
  EXPECT_EQ(Next(), (Note{pair.Server, FD_WRITE, 0}));
  for (const Note& note : Barrier())
    EXPECT_EQ(note, (Note{pair.Server, FD_WRITE, 0}));
  EXPECT_EQ(Barrier(), Notes{});
}

TEST_F(Wsock32Notifier, AcceptIsConfirmedAndRepeatedWhileMoreWait) {
  SOCKET listener = Listener();
  ASSERT_EQ(Select(listener, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE), 0);
  EXPECT_EQ(Barrier(), Notes{}) << "a listener gets neither read nor write";
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(ConnectTo(Tcp(), PortOf(listener)), 0);

  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Next(), (Note{listener, FD_ACCEPT, 0})) << i;
    EXPECT_EQ(Barrier(), Notes{}) << "one notification at a time " << i;
    sockaddr_in peer{};
    int length = sizeof peer;
    SOCKET accepted = ws.accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
    ASSERT_NE(accepted, INVALID_SOCKET) << "every accept notification is backed by a connection";
    Track(accepted);
    EXPECT_EQ(ws.ntohs(peer.sin_port) != 0, true);
  }
  EXPECT_EQ(Barrier(), Notes{}) << "no accept notification without a connection";
  EXPECT_EQ(ws.accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);

  ASSERT_EQ(ConnectTo(Tcp(), PortOf(listener)), 0);
  EXPECT_EQ(Next(), (Note{listener, FD_ACCEPT, 0}));
  EXPECT_NE(Track(ws.accept(listener, nullptr, nullptr)), INVALID_SOCKET);
}

TEST_F(Wsock32Notifier, AcceptedSocketTakesTheListenersModeButNotItsRegistration) {
  SOCKET listener = Listener();
  ASSERT_EQ(Select(listener, FD_ACCEPT), 0);
  SOCKET client = Tcp();
  ASSERT_EQ(ConnectTo(client, PortOf(listener)), 0);
  EXPECT_EQ(Next(), (Note{listener, FD_ACCEPT, 0}));
  SOCKET accepted = Track(ws.accept(listener, nullptr, nullptr));
  EXPECT_EQ(ReceiveText(accepted), "error 10035") << "non-blocking like its listener";
  ASSERT_EQ(SendText(client, "hi"), 2);
  EXPECT_EQ(Barrier(), Notes{});
  u_long waiting = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
  while (waiting < 2 && std::chrono::steady_clock::now() < deadline)
    ASSERT_EQ(ws.ioctlsocket(accepted, FIONREAD, &waiting), 0);
  ASSERT_EQ(waiting, 2u) << "the bytes are there before the registration";
  ASSERT_EQ(Select(accepted, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
  EXPECT_EQ(Next(), (Note{accepted, FD_READ, 0})) << "the registration posts what already holds";
  EXPECT_EQ(Next(), (Note{accepted, FD_WRITE, 0}));
  EXPECT_EQ(Barrier(), Notes{}) << "no connect for an accepted socket";
}

TEST_F(Wsock32Notifier, CloseComesAfterTheReadForUnreadBytes) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ | FD_CLOSE), 0);
  ASSERT_EQ(SendText(pair.Client, "xyz"), 3);
  ASSERT_EQ(Close(pair.Client), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0}));
  EXPECT_EQ(Next(), (Note{pair.Server, FD_CLOSE, 0}));
  EXPECT_EQ(Barrier(), Notes{}) << "close comes once";
  EXPECT_EQ(ReceiveText(pair.Server), "xyz");
  EXPECT_EQ(ReceiveText(pair.Server), "");
  EXPECT_EQ(Barrier(), Notes{});
}

TEST_F(Wsock32Notifier, RegistrationReportsDataAndCloseThatAlreadyHappened) {
  Pair pair = Connected();
  ASSERT_EQ(SendText(pair.Client, "early"), 5);
  ASSERT_EQ(Close(pair.Client), 0);
  EXPECT_EQ(ReceiveText(pair.Server, 1), "e") << "the data and the end have arrived";
  ASSERT_EQ(Select(pair.Server, kAll), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0}));
  EXPECT_EQ(Next(), (Note{pair.Server, FD_WRITE, 0}));
  EXPECT_EQ(Next(), (Note{pair.Server, FD_CLOSE, 0}));
  EXPECT_EQ(Barrier(), Notes{});
}

TEST_F(Wsock32Notifier, CloseWithoutDataComesAlone) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ | FD_CLOSE), 0);
  ASSERT_EQ(Close(pair.Client), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_CLOSE, 0}));
  EXPECT_EQ(Barrier(), Notes{});
}

TEST_F(Wsock32Notifier, AResetClosesWith10054) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ | FD_WRITE | FD_CLOSE), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_WRITE, 0}));
  SetLinger(pair.Client, true, 0);
  ASSERT_EQ(Close(pair.Client), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_CLOSE, WSAECONNRESET}));
  EXPECT_EQ(Barrier(), Notes{});
  EXPECT_EQ(ReceiveText(pair.Server), "error 10054") << "the reset stays the socket's answer";
}

TEST_F(Wsock32Notifier, ConnectReportsSuccessThenRoomToWrite) {
  SOCKET listener = Listener();
  SOCKET client = Tcp();
  ASSERT_EQ(Select(client, kAll), 0);
  EXPECT_EQ(Barrier(), Notes{}) << "an unconnected socket reports nothing";
  int started = ConnectTo(client, PortOf(listener));
  if (started == SOCKET_ERROR) {
    EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  }
  EXPECT_EQ(Next(), (Note{client, FD_CONNECT, 0}));
  EXPECT_EQ(Next(), (Note{client, FD_WRITE, 0}));
  EXPECT_EQ(Barrier(), Notes{});
  EXPECT_EQ(SendText(client, "after connect"), 13);
}

TEST_F(Wsock32Notifier, ConnectReportsRefusalOnceAndNothingElse) {
  u_short port = UnusedPort();
  SOCKET client = Tcp();
  ASSERT_EQ(Select(client, kAll), 0);
  int started = ConnectTo(client, port);
  ASSERT_EQ(started, SOCKET_ERROR);
  if (ws.WSAGetLastError() == WSAECONNREFUSED)
    return; // refused at once: no notification is due
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(Next(), (Note{client, FD_CONNECT, WSAECONNREFUSED}));
  EXPECT_EQ(Barrier(), Notes{});
}

TEST_F(Wsock32Notifier, ConnectEndedBeforeRegistrationIsReportedByIt) {
  SOCKET listener = Listener();
  SOCKET client = Tcp();
  SetNonBlocking(client, true);
  int started = ConnectTo(client, PortOf(listener));
  if (started == SOCKET_ERROR) {
    ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  }
  Track(ws.accept(listener, nullptr, nullptr)); // blocking: the connection is complete now
  ASSERT_EQ(Select(client, FD_CONNECT | FD_WRITE), 0);
  EXPECT_EQ(Next(), (Note{client, FD_CONNECT, 0}));
  EXPECT_EQ(Next(), (Note{client, FD_WRITE, 0}));
  EXPECT_EQ(Barrier(), Notes{});
}

TEST_F(Wsock32Notifier, ClearingNonBlockingUnderARegistrationIsRefused) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ), 0);
  u_long off = 0;
  EXPECT_EQ(ws.ioctlsocket(pair.Server, FIONBIO, &off), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(ReceiveText(pair.Server), "error 10035") << "a registration made it non-blocking";
  ASSERT_EQ(Select(pair.Server, 0), 0);
  EXPECT_EQ(ws.ioctlsocket(pair.Server, FIONBIO, &off), 0);
}

// Any notification for 'target' behind 'marker' in the queue was posted after the call that cancelled.
Notes PostedAfterMarker(TestWindow& window, UINT marker, SOCKET target) {
  Notes late;
  bool markerSeen = false;
  while (std::optional<MSG> msg = window.NextMessage(markerSeen ? 0 : kPatience)) {
    if (msg->message == marker) {
      markerSeen = true;
      continue;
    }
    if (markerSeen && msg->message == kSocketMessage && static_cast<SOCKET>(msg->wParam) == target)
      late.push_back(ToNote(*msg));
  }
  EXPECT_TRUE(markerSeen);
  return late;
}

TEST_F(Wsock32Notifier, MaskZeroCancelsAtOnce) {
  constexpr UINT kMarker = WM_USER + 70;
  for (int round = 0; round < 50; ++round) {
    Pair pair = Connected();
    ASSERT_EQ(Select(pair.Server, FD_READ | FD_WRITE | FD_CLOSE), 0);
    SetNonBlocking(pair.Client, true); // a full path must not stop the traffic thread
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
      while (!stop.load())
        SendText(pair.Client, "z");
    });
    ReceiveText(pair.Server); // keeps read notifications coming
    ASSERT_EQ(Select(pair.Server, 0), 0);
    PostMessageA(Window.Handle, kMarker, 0, 0);
    stop.store(true);
    traffic.join();
    Close(pair.Client);
    EXPECT_EQ(PostedAfterMarker(Window, kMarker, pair.Server), Notes{}) << round;
    Close(pair.Server);
  }
}

TEST_F(Wsock32Notifier, ClosesocketCancelsAtOnceFromAnotherThread) {
  constexpr UINT kMarker = WM_USER + 71;
  for (int round = 0; round < 50; ++round) {
    Pair pair = Connected();
    ASSERT_EQ(Select(pair.Server, FD_READ | FD_WRITE | FD_CLOSE), 0);
    SetNonBlocking(pair.Client, true); // a full path must not stop the traffic thread
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
      while (!stop.load())
        SendText(pair.Client, "z");
    });
    // The window belongs to this thread; the socket is closed on another, as a worker closes its handler's.
    std::thread closer([&] {
      EXPECT_EQ(ws.closesocket(pair.Server), 0);
      PostMessageA(Window.Handle, kMarker, 0, 0);
    });
    closer.join();
    std::erase(Open, pair.Server);
    stop.store(true);
    traffic.join();
    EXPECT_EQ(PostedAfterMarker(Window, kMarker, pair.Server), Notes{}) << round;
  }
}

TEST_F(Wsock32Notifier, QueuedNotificationsKeepTheClosedSocketsHandle) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ), 0);
  ASSERT_EQ(SendText(pair.Client, "old"), 3);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0}));
  ASSERT_EQ(SendText(pair.Client, "more"), 3 + 1);
  ASSERT_EQ(ReceiveText(pair.Server, 3), "old"); // posts read again: "more" waits
  SOCKET old = pair.Server;
  ASSERT_EQ(Close(old), 0);

  Pair fresh = Connected();
  EXPECT_NE(fresh.Server, old);
  EXPECT_NE(fresh.Client, old);
  ASSERT_EQ(Select(fresh.Server, FD_READ), 0);
  ASSERT_EQ(SendText(fresh.Client, "new"), 3);
  EXPECT_EQ(Next(), (Note{old, FD_READ, 0})) << "the queued message names the old socket";
  EXPECT_EQ(Next(), (Note{fresh.Server, FD_READ, 0}));
}

TEST_F(Wsock32Notifier, AVanishedWindowDropsTheNotification) {
  Pair pair = Connected();
  auto other = std::make_unique<TestWindow>();
  ASSERT_EQ(ws.WSAAsyncSelect(pair.Server, other->Handle, kSocketMessage, FD_READ), 0);
  other.reset();
  ASSERT_EQ(SendText(pair.Client, "nobody"), 6);
  EXPECT_EQ(Barrier(), Notes{});
  ASSERT_EQ(Select(pair.Server, FD_READ), 0);
  EXPECT_EQ(Next(), (Note{pair.Server, FD_READ, 0})) << "a new registration finds the bytes";
}

TEST_F(Wsock32Notifier, RegistrationWithoutAWindowIsRefused) {
  Pair pair = Connected();
  EXPECT_EQ(ws.WSAAsyncSelect(pair.Server, nullptr, kSocketMessage, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);
}

TEST_F(Wsock32Notifier, ManyConnectionsClosedOnWorkerThreadsWhileTrafficFlows) {
  SOCKET listener = Listener();
  ASSERT_EQ(Select(listener, FD_ACCEPT), 0);
  constexpr int kConnections = 40;
  std::vector<SOCKET> clients;
  for (int i = 0; i < kConnections; ++i) {
    clients.push_back(Tcp());
    ASSERT_EQ(ConnectTo(clients.back(), PortOf(listener)), 0);
  }
  std::vector<SOCKET> servers;
  while (servers.size() < kConnections) {
    std::optional<Note> note = Next();
    ASSERT_TRUE(note);
    if (note->Socket == listener) {
      SOCKET accepted = ws.accept(listener, nullptr, nullptr);
      ASSERT_NE(accepted, INVALID_SOCKET);
      servers.push_back(accepted);
      ASSERT_EQ(Select(accepted, FD_READ | FD_WRITE | FD_CLOSE), 0);
    }
  }
  std::vector<std::thread> workers;
  for (int i = 0; i < kConnections; ++i) {
    workers.emplace_back([&, i] {
      for (int k = 0; k < 20; ++k)
        SendText(clients[static_cast<size_t>(i)], "data");
      SendText(servers[static_cast<size_t>(i)], "reply");
      EXPECT_EQ(ws.closesocket(servers[static_cast<size_t>(i)]), 0);
    });
  }
  // Meanwhile this thread takes the notifications and reads, as the main thread of the server does.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::atomic<int> done{0};
  std::thread joiner([&] {
    for (std::thread& worker : workers)
      worker.join();
    done.store(1);
  });
  while (done.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::optional<Note> note = Next(50);
    if (note && note->Event == FD_READ)
      ReceiveText(note->Socket); // may answer 10038 once its worker closed it
  }
  joiner.join();
  for (SOCKET client : clients)
    ReceiveText(client);
  EXPECT_EQ(done.load(), 1);
}

TEST_F(Wsock32Notifier, CostsAboutOneSystemCallPerNotification) {
  Pair pair = Connected();
  ASSERT_EQ(Select(pair.Server, FD_READ), 0);
  kwsplat::NotifierCounts before = kwsplat::NotifierStats();
  constexpr int kRounds = 200;
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_EQ(SendText(pair.Client, "q"), 1);
    ASSERT_EQ(Next(), (Note{pair.Server, FD_READ, 0}));
    ASSERT_EQ(ReceiveText(pair.Server), "q");
  }
  kwsplat::NotifierCounts after = kwsplat::NotifierStats();
  uint64_t notes = after.Notifications - before.Notifications;
  uint64_t calls = after.SystemCalls - before.SystemCalls;
  EXPECT_GE(notes, static_cast<uint64_t>(kRounds));
  EXPECT_LE(calls, notes + notes / 5) << "re-enabling by recv must not cost epoll changes";
}

} // namespace

namespace {

constexpr UINT kLookupMessage = WM_USER + 2;
using Wsock32Lookup = NotifierTest;

// The next look-up reply: task handle, length and error.
struct Reply {
  WPARAM Task = 0;
  WORD Length = 0;
  WORD Error = 0;
};

std::optional<Reply> NextReply(TestWindow& window, DWORD timeoutMs = kPatience) {
  std::optional<MSG> msg = window.NextMessage(timeoutMs);
  if (!msg)
    return std::nullopt;
  EXPECT_EQ(msg->message, kLookupMessage);
  return Reply{msg->wParam, WSAGETASYNCBUFLEN(msg->lParam), WSAGETASYNCERROR(msg->lParam)};
}

TEST_F(Wsock32Lookup, ByNameLaysTheEntryOutInTheCallersBuffer) {
  std::vector<char> buffer(MAXGETHOSTSTRUCT + 1);
  HANDLE task = ws.WSAAsyncGetHostByName(Window.Handle, kLookupMessage, "localhost", buffer.data(),
                                         static_cast<int>(buffer.size()));
  ASSERT_NE(task, nullptr);
  std::optional<Reply> reply = NextReply(Window);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Task, reinterpret_cast<WPARAM>(task));
  EXPECT_EQ(reply->Error, 0);
  EXPECT_GT(reply->Length, sizeof(hostent));
  EXPECT_LE(reply->Length, buffer.size());
  hostent host;
  std::memcpy(&host, buffer.data(), sizeof host);
  EXPECT_EQ(host.h_addrtype, AF_INET);
  EXPECT_EQ(host.h_length, 4);
  EXPECT_STREQ(host.h_name, "localhost");
  ASSERT_NE(host.h_addr_list[0], nullptr);
  EXPECT_EQ(static_cast<uint8_t>(host.h_addr_list[0][0]), 127);
  for (char** p = host.h_addr_list; *p; ++p) {
    EXPECT_GE(*p, buffer.data());
    EXPECT_LT(*p, buffer.data() + reply->Length);
  }
  EXPECT_EQ(ws.WSACancelAsyncRequest(task), SOCKET_ERROR) << "a finished look-up cannot be cancelled";
  EXPECT_EQ(ws.WSAGetLastError(), WSAEALREADY);
}

TEST_F(Wsock32Lookup, ByAddressFindsTheName) {
  std::vector<char> buffer(MAXGETHOSTSTRUCT + 1);
  uint32_t loopback = static_cast<uint32_t>(ws.inet_addr("127.0.0.1"));
  HANDLE task =
      ws.WSAAsyncGetHostByAddr(Window.Handle, kLookupMessage, reinterpret_cast<const char*>(&loopback), 4,
                               AF_INET, buffer.data(), static_cast<int>(buffer.size()));
  ASSERT_NE(task, nullptr);
  std::optional<Reply> reply = NextReply(Window);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Error, 0);
  hostent host;
  std::memcpy(&host, buffer.data(), sizeof host);
  EXPECT_GT(std::strlen(host.h_name), 0u);
}

TEST_F(Wsock32Lookup, AShortBufferIsLeftAloneAndTheReplySaysWhatWasNeeded) {
  std::vector<char> buffer(24, '\x5A');
  HANDLE task = ws.WSAAsyncGetHostByName(Window.Handle, kLookupMessage, "localhost", buffer.data(),
                                         static_cast<int>(buffer.size()));
  ASSERT_NE(task, nullptr);
  std::optional<Reply> reply = NextReply(Window);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Error, WSAENOBUFS);
  EXPECT_GT(reply->Length, buffer.size());
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), '\x5A'), 24);
}

TEST_F(Wsock32Lookup, ACancelledLookUpNeverWritesNorPosts) {
  constexpr int kTasks = 40;
  std::vector<std::vector<char>> buffers(kTasks, std::vector<char>(MAXGETHOSTSTRUCT, '\x5A'));
  std::vector<WPARAM> cancelled, finished;
  std::vector<bool> wasCancelled;
  for (auto& buffer : buffers) {
    HANDLE task = ws.WSAAsyncGetHostByName(Window.Handle, kLookupMessage, "localhost", buffer.data(),
                                           static_cast<int>(buffer.size()));
    ASSERT_NE(task, nullptr);
    wasCancelled.push_back(ws.WSACancelAsyncRequest(task) == 0);
    if (wasCancelled.back()) {
      cancelled.push_back(reinterpret_cast<WPARAM>(task));
      EXPECT_EQ(std::count(buffer.begin(), buffer.end(), '\x5A'), MAXGETHOSTSTRUCT);
    } else {
      EXPECT_EQ(ws.WSAGetLastError(), WSAEALREADY) << "only a finished look-up refuses";
      finished.push_back(reinterpret_cast<WPARAM>(task));
    }
  }
  if (!cancelled.empty()) {
    EXPECT_EQ(ws.WSACancelAsyncRequest(reinterpret_cast<HANDLE>(cancelled.front())), SOCKET_ERROR);
    EXPECT_EQ(ws.WSAGetLastError(), WSAEALREADY);
  }
  EXPECT_EQ(ws.WSACancelAsyncRequest(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(7))), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEINVAL);

  // Finished look-ups posted before their cancel failed; a later look-up's reply comes after all of them.
  std::vector<char> last(MAXGETHOSTSTRUCT);
  HANDLE final = ws.WSAAsyncGetHostByName(Window.Handle, kLookupMessage, "localhost", last.data(),
                                          static_cast<int>(last.size()));
  std::vector<WPARAM> replied;
  for (;;) {
    std::optional<Reply> reply = NextReply(Window);
    ASSERT_TRUE(reply);
    if (reply->Task == reinterpret_cast<WPARAM>(final))
      break;
    replied.push_back(reply->Task);
  }
  EXPECT_EQ(replied, finished);
  for (size_t i = 0; i < buffers.size(); ++i) {
    if (wasCancelled[i]) {
      EXPECT_EQ(std::count(buffers[i].begin(), buffers[i].end(), '\x5A'), MAXGETHOSTSTRUCT) << i;
    }
  }
}

} // namespace
