// The built-in "wsock32.dll" bound by name as its callers bind it, and fixtures for its tests.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rtl/WinsockProcedures.h"
#include "platform/win32.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/TestWindow.h"
#include "tests/support/Wait.h"

namespace kwstest {

struct tWinsock {
#define KWSTEST_SLOT(name, result, parameters, arguments) wsproc::name name = nullptr;
  KWS_WINSOCK_PROCEDURES(KWSTEST_SLOT)
#undef KWSTEST_SLOT

  static const tWinsock& Get() {
    static const tWinsock bound = [] {
      tWinsock ws;
      HMODULE module = LoadLibraryA("wsock32.dll");
#define KWSTEST_BIND(name, result, parameters, arguments)                                                    \
  ws.name = reinterpret_cast<wsproc::name>(reinterpret_cast<void (*)()>(GetProcAddress(module, #name)));
      KWS_WINSOCK_PROCEDURES(KWSTEST_BIND)
#undef KWSTEST_BIND
      return ws;
    }();
    return bound;
  }
};

struct tNote {
  SOCKET Socket = INVALID_SOCKET;
  WORD Event = 0;
  WORD Error = 0;
  bool operator==(const tNote&) const = default;
};
using tNotes = std::vector<tNote>;

inline std::ostream& operator<<(std::ostream& out, const tNote& note) {
  return out << "{socket " << note.Socket << ", event " << note.Event << ", error " << note.Error << "}";
}

inline tNote ToNote(const MSG& msg) {
  return {static_cast<SOCKET>(msg.wParam), WSAGETSELECTEVENT(msg.lParam), WSAGETSELECTERROR(msg.lParam)};
}

class tWinsockTest : public ::testing::Test {
protected:
  const tWinsock& ws = tWinsock::Get();
  std::vector<SOCKET> Open;
  struct tPair {
    SOCKET Client = INVALID_SOCKET;
    SOCKET Server = INVALID_SOCKET;
  };

  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(ws.WSAStartup(MAKEWORD(1, 1), &data), 0);
  }
  void TearDown() override {
    for (SOCKET s : Open)
      ws.closesocket(s);
    EXPECT_EQ(ws.WSACleanup(), 0);
  }

  SOCKET Track(SOCKET s) {
    EXPECT_NE(s, INVALID_SOCKET) << "error " << ws.WSAGetLastError();
    Open.push_back(s);
    return s;
  }
  SOCKET Tcp() { return Track(ws.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }
  int Close(SOCKET s) {
    int result = ws.closesocket(s);
    if (result == 0)
      std::erase(Open, s);
    return result;
  }
  sockaddr_in Loopback(u_short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ws.htons(port);
    address.sin_addr.s_addr = static_cast<uint32_t>(ws.htonl(INADDR_LOOPBACK));
    return address;
  }
  static const sockaddr* Raw(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }
  int BindTo(SOCKET s, u_short port) { return ws.bind(s, Raw(Loopback(port)), sizeof(sockaddr_in)); }
  int ConnectTo(SOCKET s, u_short port) { return ws.connect(s, Raw(Loopback(port)), sizeof(sockaddr_in)); }
  u_short PortOf(SOCKET s) {
    sockaddr_in address{};
    int length = sizeof address;
    EXPECT_EQ(ws.getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
    return ws.ntohs(address.sin_port);
  }
  SOCKET Listener() {
    SOCKET s = Tcp();
    EXPECT_EQ(BindTo(s, 0), 0);
    EXPECT_EQ(ws.listen(s, SOMAXCONN), 0);
    return s;
  }
  tPair Connected() {
    SOCKET listener = Listener();
    tPair pair{Tcp(), INVALID_SOCKET};
    EXPECT_EQ(ConnectTo(pair.Client, PortOf(listener)), 0) << ws.WSAGetLastError();
    pair.Server = Track(ws.accept(listener, nullptr, nullptr));
    Close(listener);
    return pair;
  }

  int SendText(SOCKET s, const std::string& text) {
    return ws.send(s, text.data(), static_cast<int>(text.size()), 0);
  }
  // What one recv gives; an error gives "error N".
  std::string ReceiveText(SOCKET s, int size = 4096) {
    std::string buffer(static_cast<size_t>(size), '\0');
    int got = ws.recv(s, buffer.data(), size, 0);
    if (got < 0)
      return "error " + std::to_string(ws.WSAGetLastError());
    buffer.resize(static_cast<size_t>(got));
    return buffer;
  }
  std::string ReceiveExactly(SOCKET s, size_t count) {
    std::string out, part;
    while (out.size() < count &&
           !(part = ReceiveText(s, static_cast<int>(std::min<size_t>(count - out.size(), 65536)))).empty() &&
           !part.starts_with("error "))
      out += part;
    return out;
  }

  template <typename T> void SetOption(SOCKET s, int name, const T& value) {
    ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value), 0);
  }
  void SetLinger(SOCKET s, bool on, u_short seconds) { SetOption(s, SO_LINGER, LINGER{on, seconds}); }
  void SetNonBlocking(SOCKET s, bool on) {
    u_long value = on ? 1 : 0;
    ASSERT_EQ(ws.ioctlsocket(s, FIONBIO, &value), 0);
  }
  void ShrinkBuffers(const tPair& pair) {
    SetOption(pair.Server, SO_SNDBUF, 8192);
    SetOption(pair.Client, SO_RCVBUF, 8192);
  }
  // Sends from a non-blocking socket until the path to a peer that does not read is full; what was sent.
  std::string FillUntilBlocked(SOCKET s) {
    std::string sent, chunk(65536, '\0');
    for (int round = 0; round < 10000; ++round) {
      for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>('A' + (sent.size() + i) % 23);
      int n = SendText(s, chunk);
      if (n == SOCKET_ERROR) {
        EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
        return sent;
      }
      sent.append(chunk, 0, static_cast<size_t>(n));
    }
    ADD_FAILURE() << "the send buffer never filled";
    return sent;
  }
};

// Adds a window and a barrier: a second connection whose read notification, asked for after some event,
// arrives only after the notifier has handled every edge that came before it.
class tNotifierTest : public tWinsockTest {
protected:
  static constexpr UINT kSocketMessage = WM_USER + 1;
  static constexpr UINT kSentinelMessage = WM_USER + 60;
  tRecorder Unheard; // nobody dispatches the window's messages: the test takes them in order
  HWND Window = CreateRecordingWindow(Unheard);
  tPair Sentinel;

  ~tNotifierTest() override { DestroyWindow(Window); }

  void SetUp() override {
    tWinsockTest::SetUp();
    Sentinel = Connected();
    ASSERT_EQ(ws.WSAAsyncSelect(Sentinel.Server, Window, kSentinelMessage, FD_READ), 0);
  }
  int Select(SOCKET s, long mask) { return ws.WSAAsyncSelect(s, Window, kSocketMessage, mask); }
  std::optional<MSG> NextMessage(std::chrono::milliseconds timeout = 5s) {
    MSG msg;
    if (!WaitUntil([&] { return PeekMessageA(&msg, Window, 0, 0, PM_REMOVE) != FALSE; }, timeout,
                   tPump::None))
      return std::nullopt;
    return msg;
  }
  std::optional<tNote> Next(std::chrono::milliseconds timeout = 5s) {
    std::optional<MSG> msg = NextMessage(timeout);
    EXPECT_TRUE(!msg || msg->message == kSocketMessage);
    return msg ? std::optional(ToNote(*msg)) : std::nullopt;
  }
  // Every notification posted before the barrier, in order.
  tNotes Barrier() {
    tNotes seen;
    EXPECT_EQ(SendText(Sentinel.Client, "!"), 1);
    while (std::optional<MSG> msg = NextMessage()) {
      if (msg->message == kSentinelMessage) {
        EXPECT_EQ(ReceiveText(Sentinel.Server, 16), "!");
        return seen;
      }
      seen.push_back(ToNote(*msg));
    }
    ADD_FAILURE() << "the barrier's notification never came";
    return seen;
  }
};

} // namespace kwstest
