#include "plugins/BaseLoadedLibrary.h"

tBaseLoadedLibrary::tBaseLoadedLibrary(const std::string& fileName)
    : ModuleHandle(LoadLibraryA(fileName.c_str())), Valid(ModuleHandle != nullptr), FileName(fileName) {}

tBaseLoadedLibrary::~tBaseLoadedLibrary() {
  if (ModuleHandle != nullptr)
    FreeLibrary(ModuleHandle);
}
