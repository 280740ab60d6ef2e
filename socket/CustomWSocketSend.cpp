// TCustomWSocket: the send path. Send copies into the queue of blocks and writes what the system takes; the
// rest goes out on write notifications, and the data-sent notification always comes from the loop.
#include "socket/CustomWSocket.h"

#include <algorithm>
#include <chrono>

#include "socket/WinsockAPI.h"

int TCustomWSocket::Send(const void* data, int length) {
  if (!CheckConnectedForSend()) {
    return -1;
  }
  FAllSent.store(false, std::memory_order_release);
  if (length > 0) {
    AppendToSendQueue(data, length);
  }
  SendQueued();
  return std::max(length, 0);
}

bool TCustomWSocket::CheckConnectedForSend() {
  if (State() == wsConnected) {
    return true;
  }
  wsock::WSASetLastError(WSAENOTCONN);
  ReportSocketError("Send");
  return false;
}

void TCustomWSocket::SendQueued() {
  TryToSend();
  if (AllSent()) {
    // Never from inside Send: the caller may not expect its handler to run before Send returns.
    PostMessageA(FWindowHandle, MsgSocketEvent, SocketHandle(), WSAMAKESELECTREPLY(FD_WRITE, 0));
  }
}

int TCustomWSocket::SendText(const std::string& text) {
  return Send(text.data(), static_cast<int>(text.size()));
}

void TCustomWSocket::SendFileSegment(HANDLE file, uint64_t offset, uint64_t length) {
  auto block = std::make_unique<TBuffer>(file, offset, length); // closes the file whatever happens next
  if (!CheckConnectedForSend()) {
    return;
  }
  FAllSent.store(false, std::memory_order_release);
  if (length > 0) {
    SendQueue.push_back(std::move(block));
  }
  SendQueued();
}

void TCustomWSocket::AppendToSendQueue(const void* data, int length) {
  if (length <= 0) {
    return;
  }
  if (SendQueue.empty() || SendQueue.back()->HasFile()) {
    SendQueue.push_back(std::make_unique<TBuffer>(SendBlockSize));
  }
  const char* bytes = static_cast<const char*>(data);
  int written = SendQueue.back()->Write(bytes, length);
  while (written < length) {
    SendQueue.push_back(std::make_unique<TBuffer>(SendBlockSize));
    written += SendQueue.back()->Write(bytes + written, length - written);
  }
}

void TCustomWSocket::FreeSendQueue() {
  SendQueue.clear();
  FAllSent.store(true, std::memory_order_release);
}

void TCustomWSocket::TryToSend() {
  if (SocketHandle() == INVALID_SOCKET) {
    return;
  }
  // An empty queue holds nothing unsent: without this, a Send of 0 bytes on a fresh connection would leave
  // AllSent false for ever, and no data-sent notification would ever come.
  if (SendQueue.empty()) {
    FAllSent.store(true, std::memory_order_release);
    return;
  }
  for (;;) {
    TBuffer* block = SendQueue.front().get();
    if (block->HasFile() && block->Peek().Length == 0 && block->FileLeft() > 0) {
      const TFileStep step = SendFromFile(*block);
      if (step == fsWait) {
        return;
      }
      if (step == fsSent) {
        continue;
      }
    }
    const TBuffer::TUnread unread = block->Peek();
    if (unread.Length == 0) {
      // A drained file block is never reused: its storage is large.
      if (SendQueue.size() > 1 || block->HasFile()) {
        SendQueue.pop_front();
        if (SendQueue.empty()) {
          FAllSent.store(true, std::memory_order_release);
          return;
        }
        continue;
      }
      FAllSent.store(true, std::memory_order_release); // the drained block stays for reuse
      return;
    }
    const int sent = RawSend(unread.Data, unread.Length);
    if (sent == 0) {
      return;
    }
    if (sent < 0) {
      SendFailed(wsock::WSAGetLastError());
      return;
    }
    // The send-data handler may have closed the socket, and with it freed the queue.
    if (SendQueue.empty() || SendQueue.front().get() != block) {
      return;
    }
    // A short count is no sign of a full buffer: Winsock posts the next write notification only after a
    // send that would block, so go on until one does.
    block->Remove(sent);
  }
}

// Straight from the file where the sockets library can, else through the block's storage.
TCustomWSocket::TFileStep TCustomWSocket::SendFromFile(TBuffer& block) {
  if (!wsock::CanSendFile()) {
    if (block.ReadMore()) {
      return fsRead;
    }
    EndShort();
    return fsWait;
  }
  constexpr uint64_t kMostPerCall = 0x7ffff000;
  const int asked = static_cast<int>(std::min(block.FileLeft(), kMostPerCall));
  const uint64_t offset = block.FileOffset();
  const int sent = wsock::KwsSendFile(SocketHandle(), block.FileHandle(), static_cast<DWORD>(offset),
                                      static_cast<DWORD>(offset >> 32), asked);
  if (sent == 0) {
    EndShort();
    return fsWait;
  }
  if (sent < 0) {
    SendFailed(wsock::WSAGetLastError());
    return fsWait;
  }
  block.FileSent(static_cast<uint64_t>(sent));
  FireSendData(sent);
  // The send-data handler may have closed the socket, and with it freed the queue. A short count is no sign
  // of a full socket (the file may have ended): only a call that would block waits for the write
  // notification.
  if (SendQueue.empty() || SendQueue.front().get() != &block) {
    return fsWait;
  }
  return fsSent;
}

// The file ended before the length announced for it: the connection ends here, short, so the peer sees it
// end early instead of receiving invented bytes.
void TCustomWSocket::EndShort() {
  FreeSendQueue();
  Close();
}

void TCustomWSocket::SendFailed(int code) {
  switch (code) {
  case WSAECONNRESET:
  case WSAENOTSOCK:
  case WSAENOTCONN:
  case WSAEINVAL:
  case WSAECONNABORTED:
    // The connection is gone: that is a close, not an error.
    CloseNotified = true;
    Close();
    FireSessionClosed(static_cast<WORD>(code));
    return;
  case WSAEWOULDBLOCK:
    return; // the next write notification goes on
  default:
    ReportSocketError("TryToSend failed");
    return;
  }
}

int TCustomWSocket::RawSend(const void* data, int length) {
  const char* bytes = static_cast<const char*>(data);
  const int sent = SocketType == SOCK_DGRAM
                       ? wsock::sendto(SocketHandle(), bytes, length, FSendFlags,
                                       reinterpret_cast<const sockaddr*>(&SockAddr), sizeof(SockAddr))
                       : wsock::send(SocketHandle(), bytes, length, FSendFlags);
  if (sent > 0) {
    FireSendData(sent);
  }
  return sent;
}

int TCustomWSocket::SendTo(const sockaddr* destination, int destinationLength, const void* data, int length) {
  const int sent = wsock::sendto(SocketHandle(), static_cast<const char*>(data), length, FSendFlags,
                                 destination, destinationLength);
  if (sent > 0) {
    FireSendData(sent);
  }
  return sent;
}

// Waits on the message queue instead of spinning, and gives up after FlushTimeout seconds (a peer that
// never reads would otherwise hold the thread for ever).
void TCustomWSocket::Flush() {
  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  const auto limit = std::chrono::seconds(FlushTimeout);
  constexpr DWORD kWaitSliceMs = 10;
  while (SocketHandle() != INVALID_SOCKET && !AllSent()) {
    TryToSend();
    PumpMessages();
    if (AllSent() || (FlushTimeout > 0 && Clock::now() - started >= limit)) {
      return;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kWaitSliceMs, QS_ALLINPUT);
  }
}
