// Modules implemented inside the program, found by LoadLibraryA before any file (modules.cpp).
#pragma once

namespace kwsplat {

using BuiltinProc = void (*)();

// The "wsock32.dll" exports by name; nullptr for an unknown name (wsock32/module.cpp).
BuiltinProc Wsock32Export(const char* name);

} // namespace kwsplat
