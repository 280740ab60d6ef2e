// Unit texts: written with systemd's escapes, read back through the marker line only the layer writes.
#include <cctype>
#include <sstream>

#include "platform/src/Units.h"
#include "platform/src/posix/UnitFolder.h"

namespace kwsplat {
namespace {

constexpr const char* kDefaultUnitDirectory = "/etc/systemd/system";
constexpr const char* kServiceMarker = "Environment=KWSPLAT_SERVICE=";
constexpr uint32_t kAutoStart = 2;

std::string Escaped(const std::string& value, const char* special) {
  std::string text;
  for (char c : value) {
    if (c == '%' || c == '$') {
      if (std::string(special).find(c) != std::string::npos)
        text += c;
    } else if ((c == '"' || c == '\\') && std::string(special).find(c) != std::string::npos) {
      text += '\\';
    }
    text += c;
  }
  return text;
}

// Specifiers expand in every value.
std::string PlainValue(const std::string& value) {
  return Escaped(value, "%");
}

// A line break would end the value; a final backslash would join the next line to it.
bool Holdable(const std::string& value) {
  return value.find_first_of("\r\n") == std::string::npos && (value.empty() || value.back() != '\\');
}

// The program quoted, so a path with blanks stays one word; -NT when no arguments are given, because the
// program enters service mode on this platform only with that switch.
std::string ExecStartValue(const std::string& binaryPath) {
  std::string path = binaryPath;
  std::string arguments;
  if (!path.empty() && path.front() == '"') {
    const size_t close = path.find('"', 1);
    arguments = close == std::string::npos ? "" : path.substr(close + 1);
    path = path.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  while (!arguments.empty() && arguments.front() == ' ')
    arguments.erase(0, 1);
  return '"' + Escaped(path, "%$\"\\") + '"' + ' ' + (arguments.empty() ? "-NT" : Escaped(arguments, "%$"));
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items)
    text += (text.empty() ? "" : " ") + item;
  return text;
}

} // namespace

UnitText ComposeUnit(const UnitSettings& s) {
  std::vector<std::string> values{s.DisplayName, s.BinaryPath, s.LoadOrderGroup, s.User};
  values.insert(values.end(), s.ServiceDependencies.begin(), s.ServiceDependencies.end());
  values.insert(values.end(), s.GroupDependencies.begin(), s.GroupDependencies.end());
  for (const auto& value : values)
    if (!Holdable(value))
      return UnitText{87, {}};
  std::ostringstream unit;
  unit << "[Unit]\nDescription=" << PlainValue(s.DisplayName) << '\n';
  for (const auto& dependency : s.ServiceDependencies)
    unit << "Requires=" << PlainValue(dependency) << ".service\nAfter=" << PlainValue(dependency)
         << ".service\n";
  unit << "[Service]\nType=notify\nNotifyAccess=main\nExecStart=" << ExecStartValue(s.BinaryPath) << '\n'
       << kServiceMarker << s.ServiceName << '\n';
  if (!s.User.empty())
    unit << "User=" << PlainValue(s.User) << "\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n";
  unit << "X-Win32-ServiceType=" << s.ServiceType << "\nX-Win32-StartType=" << s.StartType
       << "\nX-Win32-ErrorControl=" << s.ErrorControl << '\n';
  if (!s.LoadOrderGroup.empty())
    unit << "X-Win32-LoadOrderGroup=" << PlainValue(s.LoadOrderGroup) << '\n';
  if (s.Tag)
    unit << "X-Win32-Tag=" << *s.Tag << '\n';
  if (!s.GroupDependencies.empty())
    unit << "X-Win32-GroupDependencies=" << PlainValue(Joined(s.GroupDependencies)) << '\n';
  if (s.StartType == kAutoStart)
    unit << "[Install]\nWantedBy=multi-user.target\n";
  return UnitText{0, unit.str()};
}

std::optional<UnitFacts> ReadLayerUnit(const std::string& text) {
  UnitFacts facts;
  std::istringstream lines(text);
  auto unescape = [](const std::string& value) {
    std::string plain;
    for (size_t i = 0; i < value.size(); ++i) {
      plain += value[i];
      if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%')
        ++i;
    }
    return plain;
  };
  for (std::string line; std::getline(lines, line);) {
    auto valueAfter = [&](const std::string& key) { return line.substr(key.size()); };
    if (line.starts_with(kServiceMarker))
      facts.ServiceName = valueAfter(kServiceMarker);
    else if (line.starts_with("Description="))
      facts.DisplayName = unescape(valueAfter("Description="));
    else if (line.starts_with("X-Win32-LoadOrderGroup="))
      facts.LoadOrderGroup = unescape(valueAfter("X-Win32-LoadOrderGroup="));
    else if (line.starts_with("X-Win32-Tag="))
      facts.Tag = static_cast<uint32_t>(std::stoul("0" + valueAfter("X-Win32-Tag=")));
  }
  if (facts.ServiceName.empty())
    return std::nullopt;
  return facts;
}

std::string UnitDirectory() {
  const std::string configured = posix::EnvironmentValue("KWSPLAT_UNIT_DIR");
  return configured.empty() ? kDefaultUnitDirectory : configured;
}

bool IsDefaultUnitDirectory(const std::string& folder) {
  return posix::EnvironmentValue("KWSPLAT_UNIT_DIR").empty() && folder == kDefaultUnitDirectory;
}

bool IsValidServiceName(const std::string& name) {
  if (name.empty())
    return false;
  for (unsigned char c : name)
    if (!std::isalnum(c) && c != '_' && c != '.' && c != '-' && c != ':')
      return false;
  return true;
}

} // namespace kwsplat
