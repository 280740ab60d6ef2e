// The system's dynamic loader, for LoadLibraryA and its kin. Plain C++.
#pragma once

#include <string>

namespace kwsplat::posix {

enum class LoadFailure { None, NotFound, AccessDenied, NotLoadable, MissingSymbol };

// Checks that a file is a shared object of this process's kind, without running any of it.
LoadFailure CheckSharedObject(const std::string& path);

// dlopen with RTLD_NOW | RTLD_LOCAL; a name without "/" goes through the loader's search.
void* OpenLibrary(const std::string& pathOrName, LoadFailure& failure);
void CloseLibrary(void* library);

// The program itself, as the loader sees it.
void* OpenProgram();

// The address of a symbol defined inside that very object (not one of its dependencies); nullptr otherwise.
void* FindOwnSymbol(void* library, const char* name);

// The file the loader mapped for a library; empty for the program.
std::string LibraryPath(void* library);

} // namespace kwsplat::posix
