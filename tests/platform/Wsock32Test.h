// Helpers for the tests of the built-in "wsock32.dll": its procedures bound by name as the socket component
// binds them, loopback connections, and a window whose socket messages a test reads with a deadline.
#pragma once

#include <chrono>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rtl/WinsockProcedures.h"
#include "platform/win32.h"

namespace wstest {

constexpr UINT kSocketMessage = WM_USER + 1;
constexpr UINT kSentinelMessage = WM_USER + 60;
constexpr DWORD kPatience = 5000; // ms a test waits for something that must come

struct Api {
#define WSTEST_SLOT(name, result, parameters, arguments) wsproc::name name = nullptr;
  KWS_WINSOCK_PROCEDURES(WSTEST_SLOT)
#undef WSTEST_SLOT

  // The procedures, bound once through LoadLibraryA("wsock32.dll") and GetProcAddress.
  static const Api& Get() {
    static const Api api = Load();
    return api;
  }

private:
  template <class T> static void Bind(HMODULE module, T& slot, const char* name) {
    // Through void (*)(), the one pointer type a function pointer casts from without a warning.
    slot = reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    if (!slot)
      ADD_FAILURE() << "wsock32.dll does not export " << name;
  }

  static Api Load() {
    Api a{};
    HMODULE module = LoadLibraryA("wsock32.dll");
    if (!module) {
      ADD_FAILURE() << "wsock32.dll does not load: " << GetLastError();
      return a;
    }
#define WSTEST_BIND(name, result, parameters, arguments) Bind(module, a.name, #name);
    KWS_WINSOCK_PROCEDURES(WSTEST_BIND)
#undef WSTEST_BIND
    return a;
  }
};

// One socket notification as the window received it.
struct Note {
  SOCKET Socket = INVALID_SOCKET;
  WORD Event = 0;
  WORD Error = 0;
  bool operator==(const Note&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Note& note) {
  return out << "{socket " << note.Socket << ", event " << note.Event << ", error " << note.Error << "}";
}

inline LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A hidden window of the calling thread, as the socket component makes one per socket.
class TestWindow {
public:
  TestWindow() {
    WNDCLASSA cls{};
    cls.lpfnWndProc = PlainWindowProc;
    cls.lpszClassName = "Wsock32TestWindow";
    RegisterClassA(&cls); // a second registration fails harmlessly
    Handle = CreateWindowExA(WS_EX_TOOLWINDOW, "Wsock32TestWindow", "", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, nullptr, nullptr);
    EXPECT_NE(Handle, nullptr);
  }
  ~TestWindow() {
    if (Handle)
      DestroyWindow(Handle);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  // The window's next message, waiting at most timeoutMs.
  std::optional<MSG> NextMessage(DWORD timeoutMs = kPatience) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      MSG msg;
      if (PeekMessageA(&msg, Handle, 0, 0, PM_REMOVE))
        return msg;
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return std::nullopt;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
  }

  HWND Handle = nullptr;
};

inline Note ToNote(const MSG& msg) {
  return Note{static_cast<SOCKET>(msg.wParam), WSAGETSELECTEVENT(msg.lParam), WSAGETSELECTERROR(msg.lParam)};
}

// Sockets that a test opened, closed at its end; start-up and clean-up around every test.
class WinsockTest : public ::testing::Test {
protected:
  const Api& ws = Api::Get();

  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(ws.WSAStartup(MAKEWORD(1, 1), &data), 0);
  }

  void TearDown() override {
    for (SOCKET s : Open)
      ws.closesocket(s);
    Open.clear();
    EXPECT_EQ(ws.WSACleanup(), 0);
  }

  SOCKET Track(SOCKET s) {
    EXPECT_NE(s, INVALID_SOCKET) << "error " << ws.WSAGetLastError();
    if (s != INVALID_SOCKET)
      Open.push_back(s);
    return s;
  }

  int Close(SOCKET s) {
    int result = ws.closesocket(s);
    if (result == 0)
      std::erase(Open, s);
    return result;
  }

  SOCKET Tcp() { return Track(ws.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

  sockaddr_in Loopback(u_short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ws.htons(port);
    address.sin_addr.s_addr = static_cast<uint32_t>(ws.htonl(INADDR_LOOPBACK));
    return address;
  }

  static const sockaddr* Raw(const sockaddr_in& address) {
    return reinterpret_cast<const sockaddr*>(&address);
  }

  u_short PortOf(SOCKET s) {
    sockaddr_in address{};
    int length = sizeof address;
    EXPECT_EQ(ws.getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
    return ws.ntohs(address.sin_port);
  }

  // A listening socket on 127.0.0.1 and a port the system chose.
  SOCKET Listener() {
    SOCKET s = Tcp();
    sockaddr_in address = Loopback(0);
    EXPECT_EQ(ws.bind(s, Raw(address), sizeof address), 0);
    EXPECT_EQ(ws.listen(s, SOMAXCONN), 0);
    return s;
  }

  // A port nothing listens on: bound once, then released.
  u_short UnusedPort() {
    SOCKET s = Tcp();
    sockaddr_in address = Loopback(0);
    EXPECT_EQ(ws.bind(s, Raw(address), sizeof address), 0);
    u_short port = PortOf(s);
    Close(s);
    return port;
  }

  int ConnectTo(SOCKET s, u_short port) {
    sockaddr_in address = Loopback(port);
    return ws.connect(s, Raw(address), sizeof address);
  }

  struct Pair {
    SOCKET Client = INVALID_SOCKET;
    SOCKET Server = INVALID_SOCKET;
  };

  // A blocking connection over loopback: the client's end and the accepted end.
  Pair Connected() {
    SOCKET listener = Listener();
    Pair pair;
    pair.Client = Tcp();
    EXPECT_EQ(ConnectTo(pair.Client, PortOf(listener)), 0) << ws.WSAGetLastError();
    pair.Server = Track(ws.accept(listener, nullptr, nullptr));
    Close(listener);
    return pair;
  }

  int SendText(SOCKET s, const std::string& text) {
    return ws.send(s, text.data(), static_cast<int>(text.size()), 0);
  }

  // Up to 'size' bytes from one recv; an error gives "error N".
  std::string ReceiveText(SOCKET s, int size = 4096) {
    std::string buffer(static_cast<size_t>(size), '\0');
    int got = ws.recv(s, buffer.data(), size, 0);
    if (got < 0)
      return "error " + std::to_string(ws.WSAGetLastError());
    buffer.resize(static_cast<size_t>(got));
    return buffer;
  }

  // Reads a blocking socket until 'count' bytes came or the stream ended.
  std::string ReceiveExactly(SOCKET s, size_t count) {
    std::string out;
    while (out.size() < count) {
      std::string part = ReceiveText(s, static_cast<int>(std::min<size_t>(count - out.size(), 65536)));
      if (part.empty() || part.rfind("error ", 0) == 0)
        break;
      out += part;
    }
    return out;
  }

  void SetLinger(SOCKET s, bool on, u_short seconds) {
    LINGER linger{static_cast<uint16_t>(on ? 1 : 0), seconds};
    ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger), sizeof linger),
              0);
  }

  void SetNonBlocking(SOCKET s, bool on) {
    u_long value = on ? 1 : 0;
    ASSERT_EQ(ws.ioctlsocket(s, FIONBIO, &value), 0);
  }

  std::vector<SOCKET> Open;
};

// Adds a window and a barrier: a second connection whose read notification, asked for after some event,
// arrives only after the notifier has handled every edge that came before it.
class NotifierTest : public WinsockTest {
protected:
  void SetUp() override {
    WinsockTest::SetUp();
    Sentinel = Connected();
    ASSERT_EQ(ws.WSAAsyncSelect(Sentinel.Server, Window.Handle, kSentinelMessage, FD_READ), 0);
  }

  // The next socket notification, or nullopt after the time-out.
  std::optional<Note> Next(DWORD timeoutMs = kPatience) {
    std::optional<MSG> msg = Window.NextMessage(timeoutMs);
    if (!msg)
      return std::nullopt;
    EXPECT_EQ(msg->message, kSocketMessage) << "unexpected message " << msg->message;
    return ToNote(*msg);
  }

  // Every notification posted before the barrier, in order.
  std::vector<Note> Barrier() {
    std::vector<Note> seen;
    EXPECT_EQ(SendText(Sentinel.Client, "!"), 1);
    for (;;) {
      std::optional<MSG> msg = Window.NextMessage();
      if (!msg) {
        ADD_FAILURE() << "the barrier's notification never came";
        return seen;
      }
      if (msg->message == kSentinelMessage) {
        EXPECT_EQ(ReceiveText(Sentinel.Server, 16), "!");
        return seen;
      }
      seen.push_back(ToNote(*msg));
    }
  }

  int Select(SOCKET s, long mask) { return ws.WSAAsyncSelect(s, Window.Handle, kSocketMessage, mask); }

  TestWindow Window;
  Pair Sentinel;
};

} // namespace wstest
