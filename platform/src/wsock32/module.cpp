// The export table of the built-in "wsock32.dll": Winsock 1.1 names, found case-sensitively as GetProcAddress
// finds a module's exports.
#include <cstring>

#include "platform/src/BuiltinModules.h"
#include "platform/src/wsock32/Procedures.h"

namespace kwsplat {

namespace {

struct Export {
  const char* Name;
  BuiltinProc Proc;
};

const Export kExports[] = {
#define KWS_EXPORT(name, result, parameters, arguments) {#name, reinterpret_cast<BuiltinProc>(ws_##name)},
    KWS_WINSOCK_PROCEDURES(KWS_EXPORT)
#undef KWS_EXPORT
        {"KwsSendFile", reinterpret_cast<BuiltinProc>(ws_KwsSendFile)},
};

} // namespace

BuiltinProc Wsock32Export(const char* name) {
  if (name == nullptr)
    return nullptr;
  for (const Export& entry : kExports) {
    if (std::strcmp(entry.Name, name) == 0)
      return entry.Proc;
  }
  return nullptr;
}

} // namespace kwsplat
