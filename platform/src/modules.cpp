// Dynamic libraries: modules built into the program first, then ELF shared objects through the system loader.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/src/BuiltinModules.h"
#include "platform/src/Modules.h"
#include "platform/src/Paths.h"
#include "platform/src/posix/DynamicLibraries.h"
#include "platform/src/posix/FileSystem.h"
#include "platform/src/posix/ProcessInfo.h"
#include "platform/win32.h"

namespace kwsplat {

namespace {

// Handle values: built-ins fixed, loaded files from a counter whose values are never reused, so a stale
// handle is refused instead of being taken for a newer module.
constexpr uintptr_t kFirstBuiltinModule = 0x0F000000;
constexpr uintptr_t kFirstLoadedModule = 0x10000000;
constexpr uintptr_t kModuleStep = 0x10000;

struct BuiltinModule {
  const char* Name; // lower case, with ".dll"
  BuiltinProc (*Export)(const char* name);
};

constexpr BuiltinModule kBuiltins[] = {
    {"wsock32.dll", &Wsock32Export},
};
constexpr size_t kBuiltinCount = std::size(kBuiltins);

struct LoadedModule {
  uintptr_t Handle;
  void* Library;
  std::string Path;
  int Count; // LoadLibraryA calls not yet matched by FreeLibrary; each holds one loader reference
};

class ModuleTable {
public:
  std::mutex Lock;                       // guards everything below
  int BuiltinCounts[kBuiltinCount] = {}; // only counted: built-ins never unload
  std::vector<LoadedModule> Loaded;
  uintptr_t NextHandle = kFirstLoadedModule;

  LoadedModule* Find(uintptr_t handle) {
    for (LoadedModule& module : Loaded)
      if (module.Handle == handle)
        return &module;
    return nullptr;
  }
};

// Never destroyed: plug-ins may be looked up while static destructors run.
ModuleTable& Modules() {
  static ModuleTable* table = new ModuleTable;
  return *table;
}

const std::string& ProgramPath() {
  static const std::string* path = new std::string(posix::ExecutablePath());
  return *path;
}

void* ProgramLibrary() {
  static void* program = posix::OpenProgram();
  return program;
}

std::string FilePart(const std::string& name) {
  size_t separator = name.find_last_of("\\/");
  return separator == std::string::npos ? name : name.substr(separator + 1);
}

std::string FolderPart(const std::string& path) {
  size_t separator = path.rfind('/');
  if (separator == std::string::npos)
    return ".";
  return separator == 0 ? "/" : path.substr(0, separator);
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The built-in module a name means, by its file part in any case, with or without ".dll"; -1 for none.
int BuiltinIndex(const std::string& name) {
  std::string file = Lower(FilePart(name));
  for (size_t i = 0; i < kBuiltinCount; ++i) {
    std::string full = kBuiltins[i].Name;
    if (file == full || file + ".dll" == full)
      return static_cast<int>(i);
  }
  return -1;
}

int BuiltinIndexOf(uintptr_t handle) {
  if (handle < kFirstBuiltinModule || (handle - kFirstBuiltinModule) % kModuleStep != 0)
    return -1;
  size_t index = (handle - kFirstBuiltinModule) / kModuleStep;
  return index < kBuiltinCount ? static_cast<int>(index) : -1;
}

uintptr_t BuiltinHandle(int index) {
  return kFirstBuiltinModule + static_cast<uintptr_t>(index) * kModuleStep;
}

bool IsRegularFile(const std::string& path) {
  posix::FileInfo info;
  return posix::StatPath(path, info) == 0 && info.Kind == posix::FileKind::Regular;
}

// A bare name: the program's folder, then the current directory, each in any letter case.
std::string FindBesideProgram(const std::string& name) {
  std::vector<std::string> folders;
  if (!ProgramPath().empty())
    folders.push_back(FolderPart(ProgramPath()));
  std::string current = posix::CurrentDirectory();
  if (!current.empty())
    folders.push_back(current);
  for (const std::string& folder : folders) {
    std::string candidate = (folder == "/" ? "" : folder) + "/" + name;
    if (IsRegularFile(candidate))
      return candidate;
    NativePath resolved = ResolveCase(candidate);
    if (resolved.Error == 0 && IsRegularFile(resolved.Path))
      return resolved.Path;
  }
  return std::string();
}

DWORD ErrorOf(posix::LoadFailure failure) {
  switch (failure) {
  case posix::LoadFailure::AccessDenied:
    return ERROR_ACCESS_DENIED;
  case posix::LoadFailure::NotLoadable:
    return ERROR_BAD_EXE_FORMAT;
  case posix::LoadFailure::MissingSymbol:
    return ERROR_PROC_NOT_FOUND; // as Windows answers for a missing import
  default:
    return ERROR_MOD_NOT_FOUND;
  }
}

HMODULE Register(void* library, const std::string& path) {
  ModuleTable& table = Modules();
  std::lock_guard<std::mutex> guard(table.Lock);
  for (LoadedModule& module : table.Loaded)
    if (module.Library == library) {
      ++module.Count;
      return reinterpret_cast<HMODULE>(module.Handle);
    }
  uintptr_t handle = table.NextHandle;
  table.NextHandle += kModuleStep;
  if (table.NextHandle < kFirstLoadedModule) // wrapped (32-bit values): start again past the built-ins
    table.NextHandle = kFirstLoadedModule;
  table.Loaded.push_back(LoadedModule{handle, library, path, 1});
  return reinterpret_cast<HMODULE>(handle);
}

// The loader runs outside the table's lock: a library's constructors may load libraries themselves.
HMODULE LoadFile(const std::string& path, bool checkFile) {
  posix::LoadFailure failure = checkFile ? posix::CheckSharedObject(path) : posix::LoadFailure::None;
  void* library = nullptr;
  if (failure == posix::LoadFailure::None)
    library = posix::OpenLibrary(path, failure);
  if (library == nullptr) {
    SetLastError(ErrorOf(failure));
    return nullptr;
  }
  std::string loadedPath = posix::LibraryPath(library);
  return Register(library, loadedPath.empty() ? path : loadedPath);
}

bool HasFolder(const std::string& name) {
  return name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':');
}

template <class T> T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

} // namespace

} // namespace kwsplat

using namespace kwsplat;

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == '\0')
    return Fail(ERROR_INVALID_PARAMETER, HMODULE(nullptr));
  std::string name = lpLibFileName;
  int builtin = BuiltinIndex(name);
  if (builtin >= 0) {
    std::lock_guard<std::mutex> guard(Modules().Lock);
    ++Modules().BuiltinCounts[builtin];
    return reinterpret_cast<HMODULE>(BuiltinHandle(builtin));
  }
  if (HasFolder(name)) {
    NativePath resolved = ResolvePath(name.c_str());
    if (resolved.Error != 0)
      return Fail(resolved.Error == ERROR_FILENAME_EXCED_RANGE ? resolved.Error : ERROR_MOD_NOT_FOUND,
                  HMODULE(nullptr));
    return LoadFile(resolved.Path, true);
  }
  std::string beside = FindBesideProgram(name);
  if (!beside.empty())
    return LoadFile(beside, true);
  return LoadFile(name, false);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  uintptr_t handle = reinterpret_cast<uintptr_t>(hLibModule);
  if (handle == kProgramModule)
    return TRUE;
  ModuleTable& table = Modules();
  int builtin = BuiltinIndexOf(handle);
  void* unload = nullptr;
  {
    std::lock_guard<std::mutex> guard(table.Lock);
    if (builtin >= 0) {
      if (table.BuiltinCounts[builtin] > 0)
        --table.BuiltinCounts[builtin];
      return TRUE;
    }
    LoadedModule* module = table.Find(handle);
    if (module == nullptr)
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    unload = module->Library;
    if (--module->Count == 0)
      table.Loaded.erase(table.Loaded.begin() + (module - table.Loaded.data()));
  }
  posix::CloseLibrary(unload);
  return TRUE;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  // Exports are found by name only; ordinals have no meaning here.
  if (lpProcName == nullptr || IS_INTRESOURCE(lpProcName))
    return Fail(ERROR_PROC_NOT_FOUND, FARPROC(nullptr));
  uintptr_t handle = reinterpret_cast<uintptr_t>(hModule);
  void* library = nullptr;
  int builtin = BuiltinIndexOf(handle);
  if (builtin >= 0) {
    BuiltinProc proc = kBuiltins[builtin].Export(lpProcName);
    if (proc == nullptr)
      return Fail(ERROR_PROC_NOT_FOUND, FARPROC(nullptr));
    return reinterpret_cast<FARPROC>(proc);
  }
  if (handle == kProgramModule) {
    library = ProgramLibrary();
  } else {
    std::lock_guard<std::mutex> guard(Modules().Lock);
    LoadedModule* module = Modules().Find(handle);
    if (module != nullptr)
      library = module->Library;
  }
  if (library == nullptr)
    return Fail(ERROR_MOD_NOT_FOUND, FARPROC(nullptr));
  void* symbol = posix::FindOwnSymbol(library, lpProcName);
  if (symbol == nullptr)
    return Fail(ERROR_PROC_NOT_FOUND, FARPROC(nullptr));
  return reinterpret_cast<FARPROC>(symbol);
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr)
    return reinterpret_cast<HMODULE>(kProgramModule);
  std::string name = lpModuleName;
  NativePath resolved = HasFolder(name) ? ResolvePath(name.c_str()) : NativePath{};
  ModuleTable& table = Modules();
  std::lock_guard<std::mutex> guard(table.Lock);
  int builtin = BuiltinIndex(name);
  if (builtin >= 0)
    return table.BuiltinCounts[builtin] > 0 ? reinterpret_cast<HMODULE>(BuiltinHandle(builtin))
                                            : Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
  if (HasFolder(name)) {
    for (const LoadedModule& module : table.Loaded)
      if (resolved.Error == 0 && module.Path == resolved.Path)
        return reinterpret_cast<HMODULE>(module.Handle);
    return Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
  }
  std::string file = Lower(name);
  for (const LoadedModule& module : table.Loaded)
    if (Lower(FilePart(module.Path)) == file)
      return reinterpret_cast<HMODULE>(module.Handle);
  if (Lower(FilePart(ProgramPath())) == file)
    return reinterpret_cast<HMODULE>(kProgramModule);
  return Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  uintptr_t handle = reinterpret_cast<uintptr_t>(hModule);
  std::string path;
  // Built-in modules live in the program file.
  if (handle == 0 || handle == kProgramModule || BuiltinIndexOf(handle) >= 0) {
    path = ProgramPath();
  } else {
    std::lock_guard<std::mutex> guard(Modules().Lock);
    LoadedModule* module = Modules().Find(handle);
    if (module == nullptr)
      return Fail(ERROR_MOD_NOT_FOUND, DWORD(0));
    path = module->Path;
  }
  if (lpFilename == nullptr || nSize == 0)
    return Fail(ERROR_INSUFFICIENT_BUFFER, DWORD(0));
  if (path.size() < nSize) {
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  std::memcpy(lpFilename, path.data(), nSize - 1);
  lpFilename[nSize - 1] = '\0';
  return Fail(ERROR_INSUFFICIENT_BUFFER, nSize);
}
