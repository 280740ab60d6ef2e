// Unit files of the service manager: what an installed service becomes, and what the layer reads back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kwsplat {

// What CreateServiceA records, checked already except for what only the text can tell.
struct UnitSettings {
  std::string ServiceName;
  std::string DisplayName;
  std::string BinaryPath; // as given: a bare path, or a path and arguments
  uint32_t ServiceType = 0;
  uint32_t StartType = 0;
  uint32_t ErrorControl = 0;
  std::string LoadOrderGroup;
  std::optional<uint32_t> Tag;
  std::vector<std::string> ServiceDependencies;
  std::vector<std::string> GroupDependencies; // without their "+"
  std::string User;                           // empty: root
};

struct UnitText {
  uint32_t Error = 0; // 87 for a value a unit file cannot hold
  std::string Text;
};
UnitText ComposeUnit(const UnitSettings& settings);

// What a unit the layer wrote tells about its service; nullopt for any other file.
struct UnitFacts {
  std::string ServiceName;
  std::string DisplayName;
  std::string LoadOrderGroup;
  uint32_t Tag = 0;
};
std::optional<UnitFacts> ReadLayerUnit(const std::string& text);

// KWSPLAT_UNIT_DIR, else the system's folder for local units.
std::string UnitDirectory();
bool IsDefaultUnitDirectory(const std::string& folder);
// Letters, digits and "_ . - :".
bool IsValidServiceName(const std::string& name);
inline std::string UnitFileName(const std::string& serviceName) {
  return serviceName + ".service";
}
inline constexpr const char* kWantsFolder = "multi-user.target.wants";

} // namespace kwsplat
