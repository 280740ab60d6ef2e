// KwsFetch: fetches one URL with an HTTP/1.0 GET, directly or through a SOCKS 4, 4A or 5 proxy, and writes
// the reply, headers included, to standard output as it arrives. Errors go to standard error, exit code 1.
//
// Usage: KwsFetch [-socks LEVEL HOST:PORT] [-user NAME] [-password WORD] [-timeout SECONDS]
// http://HOST[:PORT]/PATH
//   LEVEL is 4, 4A or 5; with 4A and 5 the proxy resolves HOST, with 4 this program does. A user name is the
//   SOCKS 4 user id, or with a password the SOCKS 5 login. The whole fetch ends after SECONDS (default 30).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "socket/DelayedCall.h"
#include "socket/WSocket.h"
#include "socket/WinsockAPI.h"

namespace {

constexpr const char* kUsage = "usage: KwsFetch [-socks 4|4A|5 HOST:PORT] [-user NAME] [-password WORD] "
                               "[-timeout SECONDS] http://HOST[:PORT]/PATH\n";

struct tOptions {
  std::string Host, Port = "80", Path = "/";
  std::string SocksLevel, SocksHost, SocksPort, User, Password;
  bool HasPassword = false;
  DWORD TimeoutMs = 30000;
};

// HOST[:PORT] into its parts; false without a host or with an empty port.
bool SplitHostPort(const std::string& text, std::string& host, std::string& port) {
  const size_t colon = text.rfind(':');
  host = text.substr(0, colon);
  if (colon != std::string::npos) {
    port = text.substr(colon + 1);
  }
  return !host.empty() && !port.empty();
}

bool ParseUrl(const std::string& url, tOptions& options) {
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0) {
    return false;
  }
  const std::string rest = url.substr(scheme.size());
  const size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    options.Path = rest.substr(slash);
  }
  return SplitHostPort(rest.substr(0, slash), options.Host, options.Port);
}

std::optional<tOptions> ParseArguments(const std::vector<std::string>& args) {
  tOptions options;
  bool haveUrl = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "-socks" && i + 2 < args.size()) {
      options.SocksLevel = args[++i];
      if (!SplitHostPort(args[++i], options.SocksHost, options.SocksPort)) {
        return std::nullopt;
      }
    } else if (arg == "-user" && hasValue) {
      options.User = args[++i];
    } else if (arg == "-password" && hasValue) {
      options.Password = args[++i];
      options.HasPassword = true;
    } else if (arg == "-timeout" && hasValue) {
      options.TimeoutMs = static_cast<DWORD>(ParseDecimal(args[++i])) * 1000;
    } else if (!haveUrl && ParseUrl(arg, options)) {
      haveUrl = true;
    } else {
      return std::nullopt;
    }
  }
  return haveUrl ? std::optional(options) : std::nullopt;
}

std::string SystemError(WORD error) {
  return "error " + std::to_string(error) + " (" + SocketErrorText(error) + ")";
}

// The fetch on one socket: what failed, if anything, and whether the session ended.
class tFetch {
public:
  explicit tFetch(const tOptions& options) : Options(options) {
    Socket.OnSocksError = [this](TCustomWSocket&, int error, const std::string& msg) {
      Failure = "SOCKS error " + std::to_string(error) + ": " + msg;
    };
    Socket.OnSessionConnected = [this](TCustomWSocket& socket, WORD error) {
      if (error != 0) {
        Fail("cannot connect to " + Target() + ": " + SystemError(error));
        return;
      }
      socket.SendText("GET " + Options.Path + " HTTP/1.0\r\nHost: " + Options.Host + "\r\n\r\n");
    };
    Socket.OnDataAvailable = [this](TCustomWSocket& socket, WORD) {
      const std::string bytes = socket.ReceiveText();
      std::fwrite(bytes.data(), 1, bytes.size(), stdout);
      Received += bytes.size();
    };
    Socket.OnSessionClosed = [this](TCustomWSocket&, WORD error) {
      if (error != 0) {
        Fail("connection to " + Target() + " lost: " + SystemError(error));
      } else if (Received == 0) {
        Fail(Target() + " closed the connection without a reply");
      }
      Done = true;
    };
  }

  // Empty on success, else what went wrong.
  std::string Run() {
    try {
      Socket.SetAddr(Options.Host);
      Socket.SetPort(Options.Port);
      if (!Options.SocksHost.empty()) {
        Socket.SetSocksLevel(Options.SocksLevel);
        Socket.SetSocksServer(Options.SocksHost);
        Socket.SetSocksPort(Options.SocksPort);
        Socket.SocksUsercode = Options.User;
        Socket.SocksPassword = Options.Password;
        Socket.SocksAuthentication = Options.HasPassword ? socksAuthenticateUsercode : socksNoAuthentication;
      }
      const DWORD thread = GetCurrentThreadId();
      TDelayedCall watchdog(Options.TimeoutMs, [thread] { PostThreadMessageA(thread, WM_QUIT, 0, 0); });
      if (Socket.RunAndWait([this] { Socket.Connect(); }, Done) == TCustomSyncWSocket::kWaitQuitSeen) {
        Fail("no complete reply from " + Target() + " within " + std::to_string(Options.TimeoutMs / 1000) +
             " s");
      }
    } catch (const ESocketException& e) {
      Fail(e.Message);
    }
    std::fflush(stdout);
    return Failure;
  }

private:
  std::string Target() const {
    const std::string destination = Options.Host + ":" + Options.Port;
    return Options.SocksHost.empty()
               ? destination
               : destination + " through " + Options.SocksHost + ":" + Options.SocksPort;
  }
  void Fail(const std::string& text) {
    if (Failure.empty()) {
      Failure = text; // the first cause, not its consequences
    }
  }

  tOptions Options;
  TWSocket Socket;
  std::string Failure;
  size_t Received = 0;
  bool Done = false;
};

} // namespace

int main(int argc, char** argv) {
  const std::optional<tOptions> options = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string failure = tFetch(*options).Run();
  if (!failure.empty()) {
    std::fprintf(stderr, "KwsFetch: %s\n", failure.c_str());
    return 1;
  }
  return 0;
}
