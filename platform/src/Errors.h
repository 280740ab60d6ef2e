// Error numbers shared by the layer's sources.
#pragma once

#include "platform/win32.h"

namespace kwsplat {

// The Win32 number for a file operation's errno. ENOENT gives 2 here; a caller that knows a folder on the way
// is missing reports 3 itself.
DWORD Win32ErrorFromErrno(int error);

} // namespace kwsplat
