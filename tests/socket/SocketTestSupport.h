// Shared pieces of the socket layer's tests: a message loop with a deadline, an event recorder, a socket
// class that opens up the protected operations, and a connected pair of socket objects.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "socket/WSocket.h"
#include "tests/support/LoopbackPeer.h"

namespace sockettest {

// Runs this thread's message loop until done() holds or the time-out passes; returns done().
inline bool RunLoopUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done()) {
      return true;
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
  }
}

// Runs the loop for a while with nothing to wait for: to show that something does not happen.
inline void RunLoopFor(int ms) {
  RunLoopUntil([] { return false; }, ms);
}

inline const char* StateName(TSocketState state) {
  static const char* const kNames[] = {"invalid",   "opened",    "bound",     "connecting",
                                       "connected", "accepting", "listening", "closed"};
  return state <= wsClosed ? kNames[state] : "?";
}

// Opens the protected operations and records every notification as a line of text.
class TProbeSocket : public TWSocket {
public:
  using TCustomWSocket::AppendToSendQueue;
  using TCustomWSocket::ChangeState;
  using TCustomWSocket::SendQueue;

  TProbeSocket() {
    OnChangeState = [this](TCustomWSocket&, TSocketState from, TSocketState to) {
      Events.push_back(std::string("state ") + StateName(from) + ">" + StateName(to));
    };
    OnSessionClosed = [this](TCustomWSocket&, WORD error) {
      ++SessionClosedCount;
      Events.push_back("closed " + std::to_string(error));
    };
    OnSessionConnected = [this](TCustomWSocket&, WORD error) {
      Events.push_back("connected " + std::to_string(error));
    };
    OnDataSent = [this](TCustomWSocket&, WORD error) {
      ++DataSentCount;
      Events.push_back("sent " + std::to_string(error));
    };
  }

  // The handlers above reach into this object, which is gone by the time the base destructor fires the
  // final state change.
  ~TProbeSocket() override {
    UnbindWindow();
    OnChangeState = nullptr;
    OnSessionClosed = nullptr;
    OnDataAvailable = nullptr;
  }

  // Keeps every byte that arrives; the data-available handler reads all that is ready.
  void CollectReceived() {
    OnDataAvailable = [this](TCustomWSocket& socket, WORD) {
      char chunk[65536];
      const int n = socket.Receive(chunk, sizeof chunk);
      if (n > 0) {
        Received.append(chunk, static_cast<size_t>(n));
      }
    };
  }

  std::vector<std::string> Events;
  std::string Received;
  int SessionClosedCount = 0;
  int DataSentCount = 0;
};

// A listening socket object on 127.0.0.1 and a free port; each accepted connection is adopted by a new
// probe socket (Dup).
class TLoopbackListener {
public:
  TLoopbackListener() {
    Listener.SetAddr("127.0.0.1");
    Listener.SetPort("0");
    Listener.OnSessionAvailable = [this](TCustomWSocket& socket, WORD) {
      const SOCKET handle = socket.Accept();
      if (Adopter != nullptr) {
        Adopter->Dup(handle);
        return;
      }
      auto adopted = std::make_unique<TProbeSocket>();
      if (BeforeDup) {
        BeforeDup(*adopted);
      }
      adopted->Dup(handle);
      Accepted.push_back(std::move(adopted));
    };
    Listener.Listen();
    Port = static_cast<uint16_t>(std::stoi(Listener.BoundPort()));
  }

  TProbeSocket Listener;
  std::vector<std::unique_ptr<TProbeSocket>> Accepted;
  std::function<void(TProbeSocket&)> BeforeDup;
  TCustomWSocket* Adopter = nullptr; // when set, adopts the next connections instead of a new probe
  uint16_t Port = 0;
};

// Descriptors open once the sockets library has run a listener: the notifier it starts on first use keeps
// its own descriptors for the life of the process.
inline int BaselineDescriptors() {
  { TLoopbackListener warmUp; }
  return kwstest::OpenDescriptorCount();
}

// Waits until the descriptors are back to a baseline: the sockets library may finish a close, or its own
// shutdown, on a thread of its own a little later.
inline bool DescriptorsBackTo(int baseline) {
  return RunLoopUntil([baseline] { return kwstest::OpenDescriptorCount() == baseline; }, 5000);
}

// Connects a client probe to the listener and runs the loop until both ends are connected.
inline bool ConnectPair(TLoopbackListener& server, TProbeSocket& client) {
  client.SetAddr("127.0.0.1");
  client.SetPort(std::to_string(server.Port));
  client.Connect();
  const size_t wanted = server.Accepted.size() + 1;
  return RunLoopUntil([&] {
    return server.Accepted.size() >= wanted && server.Accepted.back()->State() == wsConnected &&
           client.State() == wsConnected;
  });
}

} // namespace sockettest
