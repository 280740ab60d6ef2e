// Socket objects that record their notifications as lines of text, and a listener adopting each connection.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "socket/WSocket.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ThisProcess.h"
#include "tests/support/Wait.h"

namespace kwstest {

inline std::string RaisedMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const ESocketException& e) {
    return e.Message;
  }
  return "(nothing raised)";
}

inline const char* StateName(TSocketState state) {
  static const char* const kNames[] = {"invalid",   "opened",    "bound",     "connecting",
                                       "connected", "accepting", "listening", "closed"};
  return state <= wsClosed ? kNames[state] : "?";
}

class tProbeSocket : public TWSocket {
public:
  using TCustomWSocket::SendQueue;

  tProbeSocket() {
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
    OnDataSent = [this](TCustomWSocket&, WORD) { ++DataSentCount; };
  }
  // The handlers reach into this object, which is gone when the base destructor fires the last state change.
  ~tProbeSocket() override {
    UnbindWindow();
    OnChangeState = nullptr;
    OnSessionClosed = nullptr;
    OnDataAvailable = nullptr;
  }

  void CollectReceived() {
    OnDataAvailable = [this](TCustomWSocket& socket, WORD) {
      char chunk[65536];
      const int n = socket.Receive(chunk, sizeof chunk);
      if (n > 0)
        Received.append(chunk, static_cast<size_t>(n));
    };
  }

  void ConnectTo(uint16_t port) {
    SetAddr("127.0.0.1");
    SetPort(std::to_string(port));
    Connect();
  }

  std::vector<std::string> Events;
  std::string Received;
  int SessionClosedCount = 0;
  int DataSentCount = 0;
};

// Each connection is adopted (Dup) by a new probe, or by Adopter.
class tProbeListener {
public:
  tProbeListener() {
    Listener.SetAddr("127.0.0.1");
    Listener.SetPort("0");
    Listener.OnSessionAvailable = [this](TCustomWSocket& socket, WORD) {
      const SOCKET handle = socket.Accept();
      if (Adopter != nullptr)
        return Adopter->Dup(handle);
      Accepted.push_back(std::make_unique<tProbeSocket>());
      Accepted.back()->Dup(handle);
    };
    Listener.Listen();
    Port = static_cast<uint16_t>(std::stoi(Listener.BoundPort()));
  }

  tProbeSocket* Next(tLoopbackPeer& peer) {
    const size_t wanted = Accepted.size() + 1;
    if (!peer.Connect(Port) || !WaitUntil([&] { return Accepted.size() >= wanted; }))
      return nullptr;
    return Accepted.back().get();
  }

  tProbeSocket Listener;
  std::vector<std::unique_ptr<tProbeSocket>> Accepted;
  TCustomWSocket* Adopter = nullptr;
  uint16_t Port = 0;
};

inline tProbeSocket* ConnectPair(tProbeListener& server, tProbeSocket& client) {
  const size_t wanted = server.Accepted.size() + 1;
  client.ConnectTo(server.Port);
  if (!WaitUntil([&] {
        return server.Accepted.size() >= wanted && server.Accepted.back()->State() == wsConnected &&
               client.State() == wsConnected;
      }))
    return nullptr;
  return server.Accepted.back().get();
}

// Descriptors open once the sockets library has run a listener (its notifier keeps some for the process's
// life); a close may finish on the library's own thread a little later, hence the wait.
inline int BaselineDescriptors() {
  { tProbeListener warmUp; }
  return OpenDescriptorCount();
}
inline ::testing::AssertionResult DescriptorsBackTo(int baseline) {
  if (WaitUntil([baseline] { return OpenDescriptorCount() <= baseline; }, 5s))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << OpenDescriptorCount() << " descriptors open, " << baseline << " before";
}

} // namespace kwstest
