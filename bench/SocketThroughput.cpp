// Loopback throughput of the socket component's sending side: one socket object, on this thread's message
// loop, sends 256 MiB to a plain blocking receiver thread; the reference is a plain blocking sender to the
// same receiver. Both at 1514-byte and 64 KiB send blocks. Also prints the notifier's system calls per
// notification. Not part of the test command.
//
// Usage: SocketThroughput [MiB] [objects]   (default 256; each transfer runs five times and the median is
// printed; "objects" runs only the socket object's 1514-byte transfer once, for a profiler)
#include <algorithm>
#include <atomic>
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

uint16_t SwapBytes16(uint16_t value) {
  return static_cast<uint16_t>((value >> 8) | (value << 8));
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::exit(1);
}

// A plain blocking receiver on its own thread: listens on 127.0.0.1, takes one connection, reads
// kReceiveBuffer bytes at a time until the total arrived, then closes.
class PlainReceiver {
public:
  explicit PlainReceiver(size_t total) : Total(total) {
    ListenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = 0x0100007F; // 127.0.0.1 in network order on this little-endian machine
    unsigned length = sizeof address;
    if (bind(ListenFd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(ListenFd, 1) != 0 ||
        getsockname(ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      Fail("plain listen failed");
    Address = address;
    Port = SwapBytes16(address.sin_port);
    Thread = std::thread([this] { Run(); });
  }
  ~PlainReceiver() {
    Thread.join();
    close(ListenFd);
    if (Received != Total)
      Fail("transfer ended early");
  }

  sockaddr_in Address{};
  uint16_t Port = 0;
  std::atomic<bool> Done{false};

private:
  void Run() {
    const int fd = accept(ListenFd, nullptr, nullptr);
    static char buffer[kReceiveBuffer];
    while (Received < Total) {
      const long n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0)
        break;
      Received += static_cast<size_t>(n);
    }
    Done = true;
    close(fd); // the sending object hears of the end through its close notification
  }

  const size_t Total;
  int ListenFd = -1;
  size_t Received = 0; // the receiver thread's until it is joined
  std::thread Thread;
};

// A sending socket with blocks of another size than the standard 1514 bytes.
class TBlockSocket : public TWSocket {
public:
  explicit TBlockSocket(int32_t blockSize) { SendBlockSize = blockSize; }
};

// The socket object sends through its queue, handed kObjectChunk bytes whenever the queue has drained.
ObjectResult ObjectTransfer(size_t total, int32_t blockSize) {
  PlainReceiver receiver(total);
  TBlockSocket client(blockSize);
  client.SetAddr("127.0.0.1");
  client.SetPort(std::to_string(receiver.Port));
  client.Connect();
  if (!client.PumpMessagesUntil([&] { return client.State() == wsConnected; }, 10000))
    Fail("connection failed");
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
  if (!client.PumpMessagesUntil([&] { return receiver.Done.load(); }, 600000))
    Fail("transfer stalled");
  ObjectResult result;
  result.Seconds = Seconds(Clock::now() - started);
  const kwsplat::NotifierCounts after = kwsplat::NotifierStats();
  result.SystemCalls = after.SystemCalls - before.SystemCalls;
  result.Notifications = after.Notifications - before.Notifications;
  client.Abort();
  return result;
}

// The reference: this thread sends in blocks of sendBlock bytes with plain blocking calls.
double PlainTransfer(size_t total, size_t sendBlock) {
  PlainReceiver receiver(total);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&receiver.Address), sizeof receiver.Address) != 0)
    Fail("plain connect failed");
  const std::string block(sendBlock, 'x');
  const auto started = Clock::now();
  size_t sent = 0;
  while (sent < total) {
    const long n = send(fd, block.data(), std::min(sendBlock, total - sent), kPosixMsgNoSignal);
    if (n <= 0)
      Fail("plain send failed");
    sent += static_cast<size_t>(n);
  }
  while (!receiver.Done)
    std::this_thread::yield();
  const double seconds = Seconds(Clock::now() - started);
  close(fd);
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
    std::printf("socket object, 1514-byte send blocks: %8.1f MiB/s\n", MiBPerSecond(total, only.Seconds));
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
  const double largeRate = MiBPerSecond(total, Median(largeSeconds));
  const double plainLargeRate = MiBPerSecond(total, Median(plainLargeSeconds));
  const double callsPerNotification = notifications ? static_cast<double>(systemCalls) / notifications : 0.0;
  std::printf(
      "transfer: %zu MiB over 127.0.0.1 to a plain blocking receiver thread reading %zu KiB at a time,\n"
      "median of %d rounds; the sending object is handed %zu KiB whenever its queue has drained\n\n",
      mebibytes, kReceiveBuffer >> 10, kRounds, kObjectChunk >> 10);
  std::printf("1514-byte send blocks: socket object %8.1f MiB/s, plain blocking sender %8.1f MiB/s\n",
              objectRate, plainRate);
  std::printf("  ratio %.2f (target at least 0.80): %s\n", objectRate / plainRate,
              Verdict(objectRate / plainRate >= 0.80));
  std::printf("64 KiB send blocks:    socket object %8.1f MiB/s, plain blocking sender %8.1f MiB/s\n",
              largeRate, plainLargeRate);
  std::printf("  ratio %.2f (target at least 0.80): %s\n", largeRate / plainLargeRate,
              Verdict(largeRate / plainLargeRate >= 0.80));
  std::printf(
      "notifier over the 1514-byte rounds: %llu notifications, %llu system calls, %.3f per notification\n",
      static_cast<unsigned long long>(notifications), static_cast<unsigned long long>(systemCalls),
      callsPerNotification);
  return 0;
}
