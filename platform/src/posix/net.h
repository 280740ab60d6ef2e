// IPv4 sockets and epoll behind plain C++ functions, for the built-in sockets module. Failures come back as
// Winsock error numbers already (net.cpp knows the errno values); 0 means success.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kwsplat::net {

// A call's value (a count, a descriptor, an option value) or its Winsock error number.
struct Result {
  long Value = 0;
  int Error = 0;
  bool Ok() const { return Error == 0; }
};

// An IPv4 address and port, both in network byte order.
struct Inet4 {
  uint32_t Address = 0;
  uint16_t Port = 0;
};

struct AddressResult {
  Inet4 Address;
  int Error = 0;
};

struct AcceptResult {
  int Fd = -1;
  Inet4 Peer;
  int Error = 0;
};

// Flags of send and recv, numbered as Winsock numbers them.
constexpr int kMsgOob = 0x1;
constexpr int kMsgPeek = 0x2;
constexpr int kMsgDontRoute = 0x4;

enum class Option {
  KeepAlive,
  Broadcast,
  DontRoute,
  OobInline,
  SendBuffer,
  ReceiveBuffer,
  Error,
  Type,
  NoDelay
};

// The Winsock number for an errno value (EAGAIN 10035, EBADF 10038, ENOMEM 10055, no twin 10022).
int WinsockError(int errnoValue);

Result OpenSocket(int type, int protocol);
Result SetNonBlocking(int fd, bool on);
Result SetReuseAddress(int fd);
Result Bind(int fd, Inet4 address);
// A negative backlog asks for the system's maximum.
Result Listen(int fd, int backlog);
AcceptResult Accept(int fd, bool nonBlocking);
// Starts or makes a connection; a started non-blocking connect answers 10035.
Result Connect(int fd, Inet4 address);
// Waits for a blocking connect interrupted by a signal, then answers as a connect would.
Result FinishConnect(int fd);
Result Send(int fd, const void* data, size_t length, int flags);
// Up to length bytes of the file fileFd from offset, straight from the file: 0 once the file has no byte
// there.
Result SendFile(int fd, int fileFd, uint64_t offset, size_t length);
Result SendTo(int fd, const void* data, size_t length, int flags, Inet4 to);
Result Receive(int fd, void* buffer, size_t length, int flags);
Result ReceiveFrom(int fd, void* buffer, size_t length, int flags, Inet4* from);
Result Shutdown(int fd, int how);
Result GetOption(int fd, Option option);
Result SetOption(int fd, Option option, int value);
AddressResult LocalAddress(int fd);
AddressResult PeerAddress(int fd);

// Bytes waiting to be read (FIONREAD).
Result BytesReadable(int fd);
// Bytes sent or queued that the peer has not acknowledged yet.
Result BytesUnacknowledged(int fd);
// 1 when no out-of-band byte waits, as Winsock's SIOCATMARK answers.
Result AtOobMark(int fd);
// The pending socket error, cleared by the reading (SO_ERROR), as a Winsock number.
int TakeSocketError(int fd);
// True once the peer's side of a TCP connection has closed (its FIN or reset has arrived).
bool PeerHasClosed(int fd);

// Readiness now, without waiting: bits of kReady*.
constexpr uint32_t kReadyIn = 0x1;
constexpr uint32_t kReadyOut = 0x2;
constexpr uint32_t kReadyError = 0x4;
constexpr uint32_t kReadyHangUp = 0x8;
constexpr uint32_t kReadyPeerClosed = 0x10;
uint32_t PollNow(int fd);

// Closing. An abortive close resets the connection and drops unsent bytes.
void MakeAbortive(int fd);
void Close(int fd);
// Waits until the peer has acknowledged every byte or the time runs out; true when all were taken.
bool WaitUnacknowledged(int fd, uint32_t milliseconds);

// Milliseconds of a monotonic clock.
uint64_t MonotonicMilliseconds();

// Edge-triggered epoll for the notifier: each descriptor is watched for input, output, the peer's close and
// errors, its events carrying the key given here.
struct Event {
  uint64_t Key = 0;
  uint32_t Ready = 0; // kReady* bits
};
int EpollCreate();
Result EpollAdd(int epoll, int fd, uint64_t key);
Result EpollRearm(int epoll, int fd, uint64_t key);
// Waits without a time limit; returns the number of events (0 after an interruption).
int EpollWait(int epoll, Event* events, int capacity);

} // namespace kwsplat::net
