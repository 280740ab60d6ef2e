// Plays a SOCKS proxy that answers with arbitrary bytes, over loopback, to a client socket in line mode: the
// negotiation of every level and the lines after it meet whatever the proxy sends, in up to eight pieces.
// The client must end closed, never receive more bytes than were sent, and never crash.
//
// Input: byte 0 picks the level (bits 0-1: 4, 4A, 5, 5 with a login) and the line settings (bit 2 editing,
// bit 3 echo, bit 4 line end LF instead of CR LF, bit 5 line mode off, bit 6 switch line mode off after the
// first line); byte 1 the size of the pieces; the rest is what the proxy sends.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "socket/WSocket.h"

namespace {

constexpr DWORD kStepMs = 3000;
constexpr int kMaxPieces = 8;

struct tProxyEnd {
  tProxyEnd() {
    Listener.SetAddr("127.0.0.1");
    Listener.SetPort("0");
    Listener.OnSessionAvailable = [this](TCustomWSocket& socket, WORD) {
      const SOCKET handle = socket.Accept();
      if (Peer != nullptr && handle != INVALID_SOCKET)
        Peer->Dup(handle);
    };
    Listener.Listen();
    Port = Listener.BoundPort();
  }
  TWSocket Listener;
  std::string Port;
  TWSocket* Peer = nullptr;
};

void Configure(TWSocket& client, uint8_t settings, const std::string& port) {
  static const char* const kLevels[] = {"4", "4A", "5", "5"};
  const int level = settings & 3;
  client.SetAddr(level == 0 ? "127.0.0.1" : "example.org"); // level 4 resolves locally
  client.SetPort("80");
  client.SetSocksLevel(kLevels[level]);
  client.SetSocksServer("127.0.0.1");
  client.SetSocksPort(port);
  client.SocksTimeout = kStepMs;
  client.SocksUsercode = "user";
  client.SocksPassword = "password";
  client.SocksAuthentication = level == 3 ? socksAuthenticateUsercode : socksNoAuthentication;
  client.LineEdit = (settings & 4) != 0;
  client.LineEcho = (settings & 8) != 0;
  client.LineEnd = (settings & 16) != 0 ? "\n" : "\r\n";
  client.LineLimit = 64;
  client.SetLineMode((settings & 32) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  static tProxyEnd* const proxyEnd = new tProxyEnd; // lives as long as the process, as its port does
  const uint8_t settings = data[0];
  const size_t piece = data[1] % 64 + 1;
  const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  TWSocket proxy;
  proxy.LingerOnOff = wsLingerOff;
  proxy.OnDataAvailable = [](TCustomWSocket& socket, WORD) { socket.ReceiveText(); };
  proxyEnd->Peer = &proxy;

  TWSocket client;
  size_t received = 0;
  client.OnDataAvailable = [&](TCustomWSocket& socket, WORD) {
    received += socket.ReceiveText().size();
    if ((settings & 64) != 0)
      static_cast<TWSocket&>(socket).SetLineMode(false);
  };
  client.OnLineTooLong = [](TCustomWSocket& socket) { socket.RcvdCount(); };
  Configure(client, settings, proxyEnd->Port);
  client.Connect();
  if (client.PumpMessagesUntil([&] { return proxy.State() == wsConnected; }, kStepMs)) {
    size_t sent = 0;
    for (int pieces = 0; sent < bytes.size() && pieces < kMaxPieces && proxy.State() == wsConnected;
         ++pieces) {
      const size_t length =
          pieces + 1 == kMaxPieces ? bytes.size() - sent : std::min(piece, bytes.size() - sent);
      proxy.SendText(bytes.substr(sent, length));
      sent += length;
      client.PumpMessagesUntil([] { return false; }, 1);
    }
    client.PumpMessagesUntil([&] { return proxy.AllSent(); }, kStepMs);
    proxy.Shutdown(1); // the client closes once it has read everything
    client.PumpMessagesUntil([&] { return client.State() == wsClosed; }, kStepMs);
  }
  proxyEnd->Peer = nullptr;
  if (received > bytes.size())
    __builtin_trap();
  return 0;
}
