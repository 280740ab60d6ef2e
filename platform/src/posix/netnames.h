// The host, service and protocol databases (resolver, /etc/services, /etc/protocols) behind plain C++
// functions, IPv4 only. Failures come back as Winsock error numbers (11001-11004 for look-ups).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwsplat::net {

struct HostEntry {
  std::string Name;
  std::vector<std::string> Aliases;
  std::vector<uint32_t> Addresses; // network byte order
  int Error = 0;
};

struct ServiceEntry {
  std::string Name;
  std::vector<std::string> Aliases;
  uint16_t Port = 0; // network byte order
  std::string Protocol;
  bool Found = false;
};

struct ProtocolEntry {
  std::string Name;
  std::vector<std::string> Aliases;
  int Number = 0;
  bool Found = false;
};

HostEntry HostByName(const std::string& name);
HostEntry HostByAddress(uint32_t address);
// A null protocol matches any.
ServiceEntry ServiceByName(const char* name, const char* protocol);
ProtocolEntry ProtocolByName(const char* name);
// The machine's name, or an empty text with the error.
std::string LocalHostName(int& error);

} // namespace kwsplat::net
