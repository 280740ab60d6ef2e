// KwsLineEcho: a line-mode echo server to drive by hand, for instance with `nc 127.0.0.1 2323`. Each line
// typed comes back as "echo: " and the line; backspace and tab are edited as a terminal would; "quit" ends
// the connection. It serves any number of connections on 127.0.0.1 until it is interrupted.
//
// Usage: KwsLineEcho [PORT]   (default 2323; 0 takes a free port; the port is printed at start)
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "socket/WSocket.h"

namespace {

constexpr int32_t kLineLimit = 1024;

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.pop_back();
  }
  return line;
}

void Answer(TCustomWSocket& session, const std::string& line) {
  if (line == "quit") {
    session.SendText("bye\r\n");
    session.Close(); // graceful: the session lingers off, so "bye" still goes out
    return;
  }
  session.SendText("echo: " + line + "\r\n");
}

std::unique_ptr<TWSocket> NewSession(SOCKET handle) {
  auto session = std::make_unique<TWSocket>();
  session->LingerOnOff = wsLingerOff;
  session->LineEnd = "\n";
  session->LineEdit = true;
  session->LineLimit = kLineLimit;
  session->SetLineMode(true);
  session->OnDataAvailable = [](TCustomWSocket& socket, WORD) {
    Answer(socket, WithoutLineEnd(socket.ReceiveText()));
  };
  session->OnLineTooLong = [](TCustomWSocket& socket) {
    socket.SendText("(line longer than " + std::to_string(kLineLimit) + " bytes, taken as it stands)\r\n");
  };
  session->OnSessionClosed = [](TCustomWSocket&, WORD error) {
    std::printf("connection closed (%u)\n", static_cast<unsigned>(error));
    std::fflush(stdout);
  };
  session->Dup(handle);
  session->SendText("line echo: type a line, \"quit\" to leave\r\n");
  return session;
}

} // namespace

int main(int argc, char** argv) {
  TWSocket listener;
  std::vector<std::unique_ptr<TWSocket>> sessions;
  try {
    listener.SetAddr("127.0.0.1");
    listener.SetPort(argc > 1 ? argv[1] : "2323");
    listener.OnSessionAvailable = [&sessions](TCustomWSocket& socket, WORD) {
      // Sessions that ended are freed here, outside their own notifications.
      std::erase_if(sessions, [](const auto& session) { return session->State() == wsClosed; });
      const SOCKET handle = socket.Accept();
      if (handle != INVALID_SOCKET) {
        sessions.push_back(NewSession(handle));
        std::printf("connection from %s\n", sessions.back()->PeerAddr().c_str());
        std::fflush(stdout);
      }
    };
    listener.Listen();
  } catch (const ESocketException& e) {
    std::fprintf(stderr, "KwsLineEcho: %s\n", e.Message.c_str());
    return 1;
  }
  std::printf("listening on 127.0.0.1:%s\n", listener.BoundPort().c_str());
  std::fflush(stdout);
  listener.MessageLoop();
  return 0;
}
