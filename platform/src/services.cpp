// The service manager's installation calls over unit files in the unit folder.
#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/src/Errors.h"
#include "platform/src/HandleTable.h"
#include "platform/src/Paths.h"
#include "platform/src/Units.h"
#include "platform/src/posix/FileSystem.h"
#include "platform/src/posix/UnitFolder.h"
#include "platform/win32.h"

namespace kwsplat {
namespace {

struct ScObject {
  bool IsManager = false;
  std::string Folder;
  std::string FileName; // a service's unit file
  bool Deleted = false; // guarded by gUnitsLock
};

HandleTable<ScObject>& ScHandles() {
  static auto* table = new HandleTable<ScObject>(0x5C000, 4); // never destroyed
  return *table;
}

std::mutex gUnitsLock; // serialises the changes of unit folders and the reads that decide them

constexpr size_t kUnitSizeLimit = 1 << 20;
constexpr char kGroupPrefix = '+';
constexpr const char* kLocalSystem = "LOCALSYSTEM";

struct LayerUnit {
  std::string FileName;
  UnitFacts Facts;
};

std::vector<std::string> UnitFileNames(const std::string& folder) {
  std::vector<std::string> names;
  posix::ListDirectory(folder, names);
  std::erase_if(names, [](const std::string& name) { return !name.ends_with(".service"); });
  return names;
}

std::vector<LayerUnit> LayerUnits(const std::string& folder) {
  std::vector<LayerUnit> units;
  for (const auto& name : UnitFileNames(folder)) {
    std::string content;
    posix::FileInfo info;
    if (posix::ReadWholeFile(folder + "/" + name, kUnitSizeLimit, content, info) != 0)
      continue;
    if (auto facts = ReadLayerUnit(content))
      units.push_back(LayerUnit{name, *facts});
  }
  return units;
}

bool SameName(const std::string& a, const std::string& b) {
  return FoldCase(a) == FoldCase(b);
}

std::shared_ptr<ScObject> FindManager(SC_HANDLE handle) {
  auto object = ScHandles().Find(reinterpret_cast<uintptr_t>(handle));
  return object && object->IsManager ? object : nullptr;
}

SC_HANDLE AddHandle(ScObject object) {
  return reinterpret_cast<SC_HANDLE>(ScHandles().Add(std::make_shared<ScObject>(std::move(object))));
}

template <class T> T FailWith(DWORD error, T result) {
  SetLastError(error);
  return result;
}

// Service type 16 or 32, optionally interactive; start types 2 to 4; the four error controls.
bool AcceptedKinds(DWORD serviceType, DWORD startType, DWORD errorControl) {
  const DWORD base = serviceType & ~static_cast<DWORD>(SERVICE_INTERACTIVE_PROCESS);
  return (base == SERVICE_WIN32_OWN_PROCESS || base == SERVICE_WIN32_SHARE_PROCESS) &&
         startType >= SERVICE_AUTO_START && startType <= SERVICE_DISABLED &&
         errorControl <= SERVICE_ERROR_CRITICAL;
}

// The system user an account names; empty for the local system account (root). nullopt when unknown.
std::optional<std::string> UserOf(LPCSTR account) {
  const std::string name = account != nullptr ? account : "";
  const std::string user = name.substr(name.rfind('\\') == std::string::npos ? 0 : name.rfind('\\') + 1);
  if (user.empty() || FoldCase(user) == kLocalSystem)
    return std::string();
  if (!posix::SystemUserExists(user))
    return std::nullopt;
  return user;
}

// A list of zero-ended names ended by an empty one; "+" marks a group.
void SplitDependencies(LPCSTR list, UnitSettings& settings) {
  for (const char* entry = list; entry != nullptr && *entry != '\0'; entry += std::string(entry).size() + 1) {
    if (entry[0] == kGroupPrefix)
      settings.GroupDependencies.push_back(entry + 1);
    else
      settings.ServiceDependencies.push_back(entry);
  }
}

// 1073 for a unit of that name in any letter case, 1078 for a layer unit shown under that name.
DWORD ClashWithInstalled(const std::string& folder, const UnitSettings& settings) {
  for (const auto& name : UnitFileNames(folder))
    if (SameName(name, UnitFileName(settings.ServiceName)))
      return ERROR_SERVICE_EXISTS;
  for (const auto& unit : LayerUnits(folder))
    if (SameName(unit.Facts.DisplayName, settings.DisplayName) ||
        SameName(unit.Facts.ServiceName, settings.DisplayName))
      return ERROR_DUPLICATE_SERVICE_NAME;
  return 0;
}

uint32_t NextTag(const std::string& folder, const std::string& group) {
  uint32_t highest = 0;
  for (const auto& unit : LayerUnits(folder))
    if (SameName(unit.Facts.LoadOrderGroup, group))
      highest = std::max(highest, unit.Facts.Tag);
  return highest + 1;
}

void ReloadIfManaged(const std::string& folder) {
  if (posix::SystemdRuns() && IsDefaultUnitDirectory(folder))
    posix::ReloadSystemd();
}

// Writes the unit, then its link for automatic start; without the link the unit goes again.
DWORD WriteUnit(const std::string& folder, const UnitSettings& settings, const std::string& text) {
  const std::string file = UnitFileName(settings.ServiceName);
  if (int error = posix::WriteFileWhole(folder, file, text))
    return Win32ErrorFromErrno(error);
  if (settings.StartType != SERVICE_AUTO_START)
    return 0;
  if (int error = posix::MakeSymbolicLink(folder + "/" + file, folder + "/" + kWantsFolder + "/" + file)) {
    posix::RemoveFile(folder + "/" + file);
    return Win32ErrorFromErrno(error);
  }
  return 0;
}

} // namespace
} // namespace kwsplat

using namespace kwsplat;

extern "C" SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                           DWORD dwDesiredAccess) {
  if (lpMachineName != nullptr && lpMachineName[0] != '\0')
    return FailWith<SC_HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
  if (lpDatabaseName != nullptr && !SameName(lpDatabaseName, SERVICES_ACTIVE_DATABASEA))
    return FailWith<SC_HANDLE>(ERROR_DATABASE_DOES_NOT_EXIST, nullptr);
  const std::string folder = UnitDirectory();
  if (!posix::FolderExists(folder) ||
      ((dwDesiredAccess & SC_MANAGER_CREATE_SERVICE) != 0 && !posix::FolderWritable(folder)))
    return FailWith<SC_HANDLE>(ERROR_ACCESS_DENIED, nullptr);
  return AddHandle(ScObject{true, folder, {}, false});
}

extern "C" SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                                           DWORD, DWORD dwServiceType, DWORD dwStartType,
                                           DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                                           LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                                           LPCSTR lpServiceStartName, LPCSTR) {
  auto manager = FindManager(hSCManager);
  if (!manager)
    return FailWith<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
  if (lpServiceName == nullptr || !IsValidServiceName(lpServiceName))
    return FailWith<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
  UnitSettings settings;
  settings.ServiceName = lpServiceName;
  settings.DisplayName = lpDisplayName != nullptr && lpDisplayName[0] != '\0' ? lpDisplayName : lpServiceName;
  settings.BinaryPath = lpBinaryPathName != nullptr ? lpBinaryPathName : "";
  settings.ServiceType = dwServiceType;
  settings.StartType = dwStartType;
  settings.ErrorControl = dwErrorControl;
  settings.LoadOrderGroup = lpLoadOrderGroup != nullptr ? lpLoadOrderGroup : "";
  if (!AcceptedKinds(dwServiceType, dwStartType, dwErrorControl) || settings.BinaryPath.empty() ||
      (lpdwTagId != nullptr && settings.LoadOrderGroup.empty()))
    return FailWith<SC_HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
  const auto user = UserOf(lpServiceStartName);
  if (!user)
    return FailWith<SC_HANDLE>(ERROR_INVALID_SERVICE_ACCOUNT, nullptr);
  settings.User = *user;
  SplitDependencies(lpDependencies, settings);
  std::lock_guard<std::mutex> guard(gUnitsLock);
  if (DWORD clash = ClashWithInstalled(manager->Folder, settings))
    return FailWith<SC_HANDLE>(clash, nullptr);
  if (lpdwTagId != nullptr)
    settings.Tag = NextTag(manager->Folder, settings.LoadOrderGroup);
  const UnitText unit = ComposeUnit(settings);
  if (unit.Error != 0)
    return FailWith<SC_HANDLE>(unit.Error, nullptr);
  if (DWORD error = WriteUnit(manager->Folder, settings, unit.Text))
    return FailWith<SC_HANDLE>(error, nullptr);
  ReloadIfManaged(manager->Folder);
  if (lpdwTagId != nullptr)
    *lpdwTagId = *settings.Tag;
  return AddHandle(ScObject{false, manager->Folder, UnitFileName(settings.ServiceName), false});
}

extern "C" SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD) {
  auto manager = FindManager(hSCManager);
  if (!manager)
    return FailWith<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
  if (lpServiceName == nullptr)
    return FailWith<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
  std::lock_guard<std::mutex> guard(gUnitsLock);
  for (const auto& unit : LayerUnits(manager->Folder))
    if (SameName(unit.Facts.ServiceName, lpServiceName))
      return AddHandle(ScObject{false, manager->Folder, unit.FileName, false});
  return FailWith<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE hService) {
  auto service = ScHandles().Find(reinterpret_cast<uintptr_t>(hService));
  if (!service || service->IsManager)
    return FailWith<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  std::lock_guard<std::mutex> guard(gUnitsLock);
  if (service->Deleted)
    return FailWith<BOOL>(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
  posix::RemoveFile(service->Folder + "/" + kWantsFolder + "/" + service->FileName);
  if (int error = posix::RemoveFile(service->Folder + "/" + service->FileName))
    return FailWith<BOOL>(Win32ErrorFromErrno(error), FALSE);
  service->Deleted = true;
  ReloadIfManaged(service->Folder);
  return TRUE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
  if (!ScHandles().Remove(reinterpret_cast<uintptr_t>(hSCObject)))
    return FailWith<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}
