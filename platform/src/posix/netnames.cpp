// The host, service and protocol databases for the built-in sockets module; see netnames.h.
#include "platform/src/posix/netnames.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/src/posix/net.h"

namespace kwsplat::net {

namespace {

constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoRecovery = 11003;
constexpr int kNoData = 11004;

int LookUpError(int code) {
  switch (code) {
  case EAI_NONAME:
    return kHostNotFound;
  case EAI_AGAIN:
    return kTryAgain;
  case EAI_NODATA:
  case EAI_ADDRFAMILY:
  case EAI_FAMILY:
    return kNoData;
  case EAI_MEMORY:
    return WinsockError(ENOMEM);
  case EAI_SYSTEM:
    return WinsockError(errno);
  default:
    return kNoRecovery;
  }
}

std::vector<std::string> AliasList(char** aliases) {
  std::vector<std::string> out;
  for (char** alias = aliases; alias && *alias; ++alias)
    out.emplace_back(*alias);
  return out;
}

} // namespace

HostEntry HostByName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM; // one entry per address
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int code = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (code != 0)
    return HostEntry{{}, {}, {}, LookUpError(code)};
  HostEntry entry;
  entry.Name = found->ai_canonname ? found->ai_canonname : name;
  for (addrinfo* item = found; item; item = item->ai_next) {
    if (item->ai_family != AF_INET)
      continue;
    uint32_t address = reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (uint32_t known : entry.Addresses)
      seen = seen || known == address;
    if (!seen)
      entry.Addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (entry.Addresses.empty())
    entry.Error = kNoData;
  return entry;
}

HostEntry HostByAddress(uint32_t address) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = address;
  char name[NI_MAXHOST];
  int code = ::getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, name, sizeof name, nullptr, 0,
                           NI_NAMEREQD);
  if (code != 0)
    return HostEntry{{}, {}, {}, LookUpError(code)};
  return HostEntry{name, {}, {address}, 0};
}

ServiceEntry ServiceByName(const char* name, const char* protocol) {
  servent result{};
  servent* found = nullptr;
  char buffer[4096];
  if (::getservbyname_r(name, protocol, &result, buffer, sizeof buffer, &found) != 0 || found == nullptr)
    return ServiceEntry{};
  return ServiceEntry{found->s_name, AliasList(found->s_aliases), static_cast<uint16_t>(found->s_port),
                      found->s_proto ? found->s_proto : "", true};
}

ProtocolEntry ProtocolByName(const char* name) {
  protoent result{};
  protoent* found = nullptr;
  char buffer[4096];
  if (::getprotobyname_r(name, &result, buffer, sizeof buffer, &found) != 0 || found == nullptr)
    return ProtocolEntry{};
  return ProtocolEntry{found->p_name, AliasList(found->p_aliases), found->p_proto, true};
}

std::string LocalHostName(int& error) {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    error = WinsockError(errno);
    return {};
  }
  error = 0;
  return name;
}

} // namespace kwsplat::net
