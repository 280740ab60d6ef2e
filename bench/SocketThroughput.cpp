// Loopback throughput of the socket component: 256 MiB from one socket object to another, both on this
// thread's message loop, against the same transfer with plain blocking sockets on two threads. Also prints
// the notifier's system calls per notification. Not part of the test command.
//
// Usage: SocketThroughput [MiB] [objects]   (default 256; each transfer runs five times and the median is
// printed; "objects" runs only the socket objects' 1514-byte transfer once, for a profiler)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/src/wsock32/Notifier.h"
#include "socket/WSocket.h"

// Plain sockets of the C library, declared by hand: the Win32 declarations above use the same structure
// names, so the system headers cannot be included beside them. The structures have the same layout.
extern "C" {
int socket(int domain, int type, int protocol) noexcept;
int bind(int fd, const sockaddr* address, unsigned length) noexcept;
int listen(int fd, int backlog) noexcept;
int accept(int fd, sockaddr* address, unsigned* length);
int connect(int fd, const sockaddr* address, unsigned length);
int getsockname(int fd, sockaddr* address, unsigned* length) noexcept;
long send(int fd, const void* data, size_t length, int flags);
long recv(int fd, void* data, size_t length, int flags);
int close(int fd);
}

namespace {

using Clock = std::chrono::steady_clock;

// Handed to Send each time the queue has drained: enough to keep the connection busy, small enough for the
// queue's blocks to stay in the cache, as a streaming sender would feed it.
constexpr size_t kObjectChunk = 256u << 10;
constexpr size_t kReceiveBuffer = 64u << 10; // both receivers read this much at a time
constexpr size_t kLargePiece = 64u << 10;    // the comparison's send size
constexpr int kPosixMsgNoSignal = 0x4000;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double MiBPerSecond(size_t bytes, double seconds) {
  return static_cast<double>(bytes) / (1u << 20) / seconds;
}

struct ObjectResult {
  double Seconds = 0;
  uint64_t SystemCalls = 0;
  uint64_t Notifications = 0;
};

// A sending socket with blocks of another size than the standard 1514 bytes.
class TBlockSocket : public TWSocket {
public:
  explicit TBlockSocket(int32_t blockSize) { SendBlockSize = blockSize; }
};

// Object to object: the client sends through its queue, the adopted server socket reads kReceiveBuffer bytes
// at a time.
ObjectResult ObjectTransfer(size_t total, int32_t blockSize) {
  TWSocket listener;
  std::unique_ptr<TWSocket> server;
  size_t received = 0;
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.OnSessionAvailable = [&](TCustomWSocket& socket, WORD) {
    const SOCKET handle = socket.Accept();
    server = std::make_unique<TWSocket>();
    server->OnDataAvailable = [&](TCustomWSocket& s, WORD) {
      static char chunk[kReceiveBuffer];
      const int n = s.Receive(chunk, sizeof chunk);
      if (n > 0) {
        received += static_cast<size_t>(n);
      }
    };
    server->Dup(handle);
  };
  listener.Listen();

  TBlockSocket client(blockSize);
  client.SetAddr("127.0.0.1");
  client.SetPort(listener.BoundPort());
  client.Connect();
  if (!client.PumpMessagesUntil([&] { return server && client.State() == wsConnected; }, 10000)) {
    std::fprintf(stderr, "connection failed\n");
    std::exit(1);
  }
  client.PumpMessagesUntil([] { return false; }, 50); // let the fresh connection's notifications pass

  const std::string chunk(kObjectChunk, 'x');
  size_t queued = 0;
  auto sendMore = [&] {
    if (queued < total) {
      const size_t n = std::min(kObjectChunk, total - queued);
      queued += n;
      client.Send(chunk.data(), static_cast<int>(n));
    }
  };
  client.OnDataSent = [&](TCustomWSocket&, WORD) { sendMore(); };

  const kwsplat::NotifierCounts before = kwsplat::NotifierStats();
  const auto started = Clock::now();
  sendMore();
  if (!client.PumpMessagesUntil([&] { return received == total; }, 600000)) {
    std::fprintf(stderr, "transfer stalled at %zu of %zu bytes\n", received, total);
    std::exit(1);
  }
  ObjectResult result;
  result.Seconds = Seconds(Clock::now() - started);
  const kwsplat::NotifierCounts after = kwsplat::NotifierStats();
  result.SystemCalls = after.SystemCalls - before.SystemCalls;
  result.Notifications = after.Notifications - before.Notifications;
  return result;
}

uint16_t SwapBytes16(uint16_t value) {
  return static_cast<uint16_t>((value >> 8) | (value << 8));
}

// Plain blocking sockets: one thread sends in blocks of sendBlock bytes, this one receives kReceiveBuffer
// bytes at a time.
double PlainTransfer(size_t total, size_t sendBlock) {
  const int listenFd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = 0x0100007F; // 127.0.0.1 in network order on this little-endian machine
  unsigned length = sizeof address;
  if (bind(listenFd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(listenFd, 1) != 0 ||
      getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::fprintf(stderr, "plain listen failed\n");
    std::exit(1);
  }
  const uint16_t port = SwapBytes16(address.sin_port);
  std::thread sender([&] {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in target = address;
    target.sin_port = SwapBytes16(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
      std::fprintf(stderr, "plain connect failed\n");
      std::exit(1);
    }
    const std::string block(sendBlock, 'x');
    size_t sent = 0;
    while (sent < total) {
      const long n = send(fd, block.data(), std::min(sendBlock, total - sent), kPosixMsgNoSignal);
      if (n <= 0) {
        std::fprintf(stderr, "plain send failed\n");
        std::exit(1);
      }
      sent += static_cast<size_t>(n);
    }
    close(fd);
  });
  const int fd = accept(listenFd, nullptr, nullptr);
  static char buffer[kReceiveBuffer];
  size_t received = 0;
  const auto started = Clock::now();
  while (received < total) {
    const long n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      break;
    }
    received += static_cast<size_t>(n);
  }
  const double seconds = Seconds(Clock::now() - started);
  sender.join();
  close(fd);
  close(listenFd);
  if (received != total) {
    std::fprintf(stderr, "plain transfer ended early\n");
    std::exit(1);
  }
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

const char* Verdict(bool met) {
  return met ? "met" : "missed";
}

} // namespace

int main(int argc, char** argv) {
  const size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const size_t total = mebibytes << 20;
  if (argc > 2 && std::strcmp(argv[2], "objects") == 0) {
    const ObjectResult only = ObjectTransfer(total, TCustomWSocket::kSendBlockSize);
    std::printf("socket objects, 1514-byte send blocks: %8.1f MiB/s\n", MiBPerSecond(total, only.Seconds));
    return 0;
  }

  // Taken in turns, and each figure is the median of its rounds: the machine is shared, and the two-thread
  // transfer's best round depends on scheduling far more than the one-thread transfer's.
  constexpr int kRounds = 5;
  std::vector<double> objectSeconds, largeSeconds, plainSeconds, plainLargeSeconds;
  uint64_t systemCalls = 0;
  uint64_t notifications = 0;
  for (int round = 0; round < kRounds; ++round) {
    const ObjectResult standard = ObjectTransfer(total, TCustomWSocket::kSendBlockSize);
    objectSeconds.push_back(standard.Seconds);
    systemCalls += standard.SystemCalls;
    notifications += standard.Notifications;
    largeSeconds.push_back(ObjectTransfer(total, kLargePiece).Seconds);
    plainSeconds.push_back(PlainTransfer(total, TCustomWSocket::kSendBlockSize));
    plainLargeSeconds.push_back(PlainTransfer(total, kLargePiece));
  }

  const double objectRate = MiBPerSecond(total, Median(objectSeconds));
  const double plainRate = MiBPerSecond(total, Median(plainSeconds));
  const double ratio = objectRate / plainRate;
  const double callsPerNotification = notifications ? static_cast<double>(systemCalls) / notifications : 0.0;
  std::printf("transfer: %zu MiB over 127.0.0.1, median of %d rounds; the sending object is handed %zu KiB\n"
              "whenever its queue has drained; both receivers read %zu KiB at a time\n\n",
              mebibytes, kRounds, kObjectChunk >> 10, kReceiveBuffer >> 10);
  std::printf("socket objects, one message loop, 1514-byte send blocks:        %8.1f MiB/s\n", objectRate);
  std::printf("plain blocking send/recv, two threads, 1514-byte sends:          %8.1f MiB/s\n", plainRate);
  std::printf("ratio %.2f (target at least 0.70): %s\n", ratio, Verdict(ratio >= 0.70));
  std::printf("notifier over all rounds: %llu notifications, %llu system calls\n",
              static_cast<unsigned long long>(notifications), static_cast<unsigned long long>(systemCalls));
  std::printf("system calls per notification %.3f (target at most 1): %s\n\n", callsPerNotification,
              Verdict(callsPerNotification <= 1.0));
  std::printf("for comparison, 64 KiB pieces:\n");
  std::printf("socket objects, one message loop, 64 KiB send blocks:          %8.1f MiB/s\n",
              MiBPerSecond(total, Median(largeSeconds)));
  std::printf("plain blocking send/recv, two threads, 64 KiB sends:           %8.1f MiB/s\n",
              MiBPerSecond(total, Median(plainLargeSeconds)));
  return 0;
}
