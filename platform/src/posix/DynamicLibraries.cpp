#include "platform/src/posix/DynamicLibraries.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kwsplat::posix {

namespace {

#if defined(__x86_64__)
constexpr unsigned char kElfClass = ELFCLASS64;
constexpr uint16_t kMachine = EM_X86_64;
#elif defined(__i386__)
constexpr unsigned char kElfClass = ELFCLASS32;
constexpr uint16_t kMachine = EM_386;
#elif defined(__aarch64__)
constexpr unsigned char kElfClass = ELFCLASS64;
constexpr uint16_t kMachine = EM_AARCH64;
#endif

// Both ELF classes start with the same identification, type and machine fields.
struct ElfStart {
  unsigned char Ident[EI_NIDENT];
  uint16_t Type;
  uint16_t Machine;
};

LoadFailure FailureFromMessage(const char* message) {
  if (message == nullptr)
    return LoadFailure::NotLoadable;
  if (std::strstr(message, "No such file") != nullptr)
    return LoadFailure::NotFound;
  if (std::strstr(message, "Permission denied") != nullptr)
    return LoadFailure::AccessDenied;
  if (std::strstr(message, "undefined symbol") != nullptr)
    return LoadFailure::MissingSymbol;
  return LoadFailure::NotLoadable;
}

} // namespace

LoadFailure CheckSharedObject(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return errno == EACCES || errno == EPERM ? LoadFailure::AccessDenied : LoadFailure::NotFound;
  struct stat st;
  ElfStart start;
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  bool complete = regular && pread(fd, &start, sizeof(start), 0) == static_cast<ssize_t>(sizeof(start));
  close(fd);
  if (!complete || std::memcmp(start.Ident, ELFMAG, SELFMAG) != 0 || start.Ident[EI_CLASS] != kElfClass ||
      start.Type != ET_DYN || start.Machine != kMachine)
    return LoadFailure::NotLoadable;
  return LoadFailure::None;
}

void* OpenLibrary(const std::string& pathOrName, LoadFailure& failure) {
  void* library = dlopen(pathOrName.c_str(), RTLD_NOW | RTLD_LOCAL);
  failure = library != nullptr ? LoadFailure::None : FailureFromMessage(dlerror());
  return library;
}

void CloseLibrary(void* library) {
  dlclose(library);
}

void* OpenProgram() {
  return dlopen(nullptr, RTLD_NOW);
}

void* FindOwnSymbol(void* library, const char* name) {
  dlerror();
  void* symbol = dlsym(library, name);
  if (symbol == nullptr)
    return nullptr;
  struct link_map* own = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr)
    return nullptr;
  Dl_info info;
  struct link_map* holder = nullptr;
  if (dladdr1(symbol, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0 || holder != own)
    return nullptr;
  return symbol;
}

std::string LibraryPath(void* library) {
  struct link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
    return std::string();
  return map->l_name;
}

} // namespace kwsplat::posix
