// The export table of the built-in "wsock32.dll".
#include "platform/src/BuiltinModules.h"

namespace kwsplat {

BuiltinProc Wsock32Export(const char*) { return nullptr; }

} // namespace kwsplat
