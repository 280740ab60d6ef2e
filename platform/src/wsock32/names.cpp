// Byte order, address texts and the host, service and protocol databases of the built-in "wsock32.dll".
// Results of inet_ntoa and get*by* live in per-thread storage, as Winsock keeps them: valid until the same
// thread's next call.
#include <array>
#include <cctype>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "platform/src/posix/netnames.h"
#include "platform/src/wsock32/Procedures.h"
#include "platform/src/wsock32/Socket.h"

namespace kwsplat {

namespace {

uint16_t Swap16(uint16_t value) {
  if constexpr (std::endian::native == std::endian::big)
    return value;
  return static_cast<uint16_t>((value >> 8) | (value << 8));
}

uint32_t Swap32(uint32_t value) {
  if constexpr (std::endian::native == std::endian::big)
    return value;
  return __builtin_bswap32(value);
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b))
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i]))
      return false;
  }
  return true;
}

std::string Lowered(const char* text) {
  std::string out(text);
  for (char& c : out)
    c = LowerAscii(c);
  return out;
}

// Services and protocols every Winsock user may count on, for systems without the databases.
struct KnownService {
  const char* Name;
  const char* Alias;
  uint16_t Port;
  const char* Protocol;
};
constexpr KnownService kServices[] = {
    {"echo", nullptr, 7, "tcp"},      {"echo", nullptr, 7, "udp"},     {"discard", nullptr, 9, "tcp"},
    {"discard", nullptr, 9, "udp"},   {"daytime", nullptr, 13, "tcp"}, {"daytime", nullptr, 13, "udp"},
    {"ftp-data", nullptr, 20, "tcp"}, {"ftp", nullptr, 21, "tcp"},     {"ssh", nullptr, 22, "tcp"},
    {"telnet", nullptr, 23, "tcp"},   {"smtp", "mail", 25, "tcp"},     {"time", nullptr, 37, "tcp"},
    {"time", nullptr, 37, "udp"},     {"domain", nullptr, 53, "tcp"},  {"domain", nullptr, 53, "udp"},
    {"http", "www", 80, "tcp"},       {"http", "www", 80, "udp"},      {"pop3", nullptr, 110, "tcp"},
    {"nntp", nullptr, 119, "tcp"},    {"ntp", nullptr, 123, "udp"},    {"imap", nullptr, 143, "tcp"},
    {"snmp", nullptr, 161, "udp"},    {"ldap", nullptr, 389, "tcp"},   {"https", nullptr, 443, "tcp"},
    {"https", nullptr, 443, "udp"},   {"socks", nullptr, 1080, "tcp"}, {"http-alt", "webcache", 8080, "tcp"},
};

struct KnownProtocol {
  const char* Name;
  const char* Alias;
  int Number;
};
constexpr KnownProtocol kProtocols[] = {
    {"ip", "IP", 0}, {"icmp", "ICMP", 1}, {"tcp", "TCP", 6}, {"udp", "UDP", 17}};

net::ServiceEntry KnownServiceByName(const char* name, const char* protocol) {
  for (const KnownService& known : kServices) {
    bool named = SameText(known.Name, name) || (known.Alias && SameText(known.Alias, name));
    if (named && (protocol == nullptr || SameText(known.Protocol, protocol))) {
      std::vector<std::string> aliases;
      if (known.Alias)
        aliases.emplace_back(known.Alias);
      return net::ServiceEntry{known.Name, aliases, Swap16(known.Port), known.Protocol, true};
    }
  }
  return net::ServiceEntry{};
}

net::ProtocolEntry KnownProtocolByName(const char* name) {
  for (const KnownProtocol& known : kProtocols) {
    if (SameText(known.Name, name))
      return net::ProtocolEntry{known.Name, {known.Alias}, known.Number, true};
  }
  return net::ProtocolEntry{};
}

// Texts behind a returned structure, kept until the thread's next call of the same kind.
struct TextList {
  std::vector<std::string> Texts;
  std::vector<char*> Pointers;

  char** Set(const std::vector<std::string>& texts) {
    Texts = texts;
    Pointers.clear();
    for (std::string& text : Texts)
      Pointers.push_back(text.data());
    Pointers.push_back(nullptr);
    return Pointers.data();
  }
};

struct HostStorage {
  std::string Name;
  TextList Aliases;
  std::vector<std::array<char, 4>> Addresses;
  std::vector<char*> AddressPointers;
  hostent Entry{};
};

struct ServiceStorage {
  std::string Name;
  std::string Protocol;
  TextList Aliases;
  servent Entry{};
};

struct ProtocolStorage {
  std::string Name;
  TextList Aliases;
  protoent Entry{};
};

thread_local char NtoaText[16];
thread_local HostStorage HostResult;
thread_local ServiceStorage ServiceResult;
thread_local ProtocolStorage ProtocolResult;

hostent* StoreHost(const net::HostEntry& entry) {
  HostStorage& out = HostResult;
  out.Name = entry.Name;
  out.Entry.h_name = out.Name.data();
  out.Entry.h_aliases = out.Aliases.Set(entry.Aliases);
  out.Entry.h_addrtype = AF_INET;
  out.Entry.h_length = 4;
  out.Addresses.clear();
  for (uint32_t address : entry.Addresses) {
    std::array<char, 4> bytes;
    std::memcpy(bytes.data(), &address, 4);
    out.Addresses.push_back(bytes);
  }
  out.AddressPointers.clear();
  for (std::array<char, 4>& bytes : out.Addresses)
    out.AddressPointers.push_back(bytes.data());
  out.AddressPointers.push_back(nullptr);
  out.Entry.h_addr_list = out.AddressPointers.data();
  return &out.Entry;
}

// One part of a dotted address: decimal, octal after 0 or hexadecimal after 0x, as inet_addr reads them.
bool ReadPart(const char*& p, uint64_t& value) {
  int base = 10;
  if (*p == '0') {
    base = 8;
    ++p;
    if (*p == 'x' || *p == 'X') {
      base = 16;
      ++p;
      if (!std::isxdigit(static_cast<unsigned char>(*p)))
        return false;
    } else {
      value = 0;
    }
  } else if (!(*p >= '0' && *p <= '9')) {
    return false;
  }
  value = 0;
  for (;; ++p) {
    int digit;
    if (*p >= '0' && *p <= '9')
      digit = *p - '0';
    else if (base == 16 && std::isxdigit(static_cast<unsigned char>(*p)))
      digit = LowerAscii(*p) - 'a' + 10;
    else
      break;
    if (digit >= base)
      return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull)
      return false;
  }
  return true;
}

} // namespace

void ClearThreadResults() {
  NtoaText[0] = '\0';
  HostResult = HostStorage{};
  ServiceResult = ServiceStorage{};
  ProtocolResult = ProtocolStorage{};
}

u_short WSAAPI ws_htons(u_short value) {
  return Swap16(value);
}
u_short WSAAPI ws_ntohs(u_short value) {
  return Swap16(value);
}
u_long WSAAPI ws_htonl(u_long value) {
  return Swap32(static_cast<uint32_t>(value));
}
u_long WSAAPI ws_ntohl(u_long value) {
  return Swap32(static_cast<uint32_t>(value));
}

unsigned long WSAAPI ws_inet_addr(const char* cp) {
  if (cp == nullptr)
    return INADDR_NONE;
  // "a.b.c.d", "a.b.c" (c 16 bits), "a.b" (b 24 bits) or "a" (32 bits); blanks may end the text.
  uint64_t parts[4] = {};
  int count = 0;
  const char* p = cp;
  for (;;) {
    if (count == 4 || !ReadPart(p, parts[count]))
      return INADDR_NONE;
    ++count;
    if (*p != '.')
      break;
    ++p;
  }
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
    ++p;
  if (*p != '\0')
    return INADDR_NONE;
  uint64_t host = 0;
  const uint64_t lastLimit[] = {0xFFFFFFFFull, 0xFFFFFFull, 0xFFFFull, 0xFFull};
  for (int i = 0; i < count - 1; ++i) {
    if (parts[i] > 0xFF)
      return INADDR_NONE;
    host |= parts[i] << (24 - 8 * i);
  }
  if (parts[count - 1] > lastLimit[count - 1])
    return INADDR_NONE;
  host |= parts[count - 1];
  return Swap32(static_cast<uint32_t>(host));
}

char* WSAAPI ws_inet_ntoa(in_addr in) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&in.s_addr);
  std::string text = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                     std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
  std::memcpy(NtoaText, text.c_str(), text.size() + 1);
  return NtoaText;
}

int WSAAPI ws_gethostname(char* name, int namelen) {
  if (!WinsockStarted())
    return WinsockFail(WSANOTINITIALISED);
  if (name == nullptr || namelen <= 0)
    return WinsockFail(WSAEFAULT);
  int error = 0;
  std::string local = net::LocalHostName(error);
  if (error)
    return WinsockFail(error);
  if (local.size() + 1 > static_cast<size_t>(namelen))
    return WinsockFail(WSAEFAULT);
  std::memcpy(name, local.c_str(), local.size() + 1);
  return 0;
}

hostent* WSAAPI ws_gethostbyname(const char* name) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return nullptr;
  }
  std::string wanted = name ? name : "";
  if (wanted.empty()) {
    // Winsock answers for the machine itself.
    int error = 0;
    wanted = net::LocalHostName(error);
    if (error) {
      WinsockFail(error);
      return nullptr;
    }
  }
  net::HostEntry entry = net::HostByName(wanted);
  if (entry.Error) {
    WinsockFail(entry.Error);
    return nullptr;
  }
  return StoreHost(entry);
}

hostent* WSAAPI ws_gethostbyaddr(const char* addr, int len, int type) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return nullptr;
  }
  if (type != AF_INET) {
    WinsockFail(WSAEAFNOSUPPORT);
    return nullptr;
  }
  if (addr == nullptr || len < 4) {
    WinsockFail(WSAEFAULT);
    return nullptr;
  }
  uint32_t address;
  std::memcpy(&address, addr, 4);
  net::HostEntry entry = net::HostByAddress(address);
  if (entry.Error) {
    WinsockFail(entry.Error);
    return nullptr;
  }
  return StoreHost(entry);
}

servent* WSAAPI ws_getservbyname(const char* name, const char* proto) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return nullptr;
  }
  if (name == nullptr) {
    WinsockFail(WSAEFAULT);
    return nullptr;
  }
  net::ServiceEntry entry = net::ServiceByName(name, proto);
  if (!entry.Found) {
    // The databases hold lower-case names; Winsock's look-up ignores case.
    std::string lowerName = Lowered(name);
    std::string lowerProto = proto ? Lowered(proto) : "";
    entry = net::ServiceByName(lowerName.c_str(), proto ? lowerProto.c_str() : nullptr);
  }
  if (!entry.Found)
    entry = KnownServiceByName(name, proto);
  if (!entry.Found) {
    WinsockFail(WSANO_DATA);
    return nullptr;
  }
  ServiceStorage& out = ServiceResult;
  out.Name = entry.Name;
  out.Protocol = entry.Protocol;
  out.Entry.s_name = out.Name.data();
  out.Entry.s_aliases = out.Aliases.Set(entry.Aliases);
  out.Entry.s_port = static_cast<int16_t>(entry.Port);
  out.Entry.s_proto = out.Protocol.data();
  return &out.Entry;
}

protoent* WSAAPI ws_getprotobyname(const char* name) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return nullptr;
  }
  if (name == nullptr) {
    WinsockFail(WSAEFAULT);
    return nullptr;
  }
  net::ProtocolEntry entry = net::ProtocolByName(name);
  if (!entry.Found)
    entry = net::ProtocolByName(Lowered(name).c_str());
  if (!entry.Found)
    entry = KnownProtocolByName(name);
  if (!entry.Found) {
    WinsockFail(WSANO_DATA);
    return nullptr;
  }
  ProtocolStorage& out = ProtocolResult;
  out.Name = entry.Name;
  out.Entry.p_name = out.Name.data();
  out.Entry.p_aliases = out.Aliases.Set(entry.Aliases);
  out.Entry.p_proto = static_cast<int16_t>(entry.Number);
  return &out.Entry;
}

} // namespace kwsplat
