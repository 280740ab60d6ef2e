// What the three plug-in interfaces share: loading a file by name, finding its exports, unloading it.
#pragma once

#include <memory>
#include <string>

#include "platform/win32.h"
#include "server/LoadedLibrary.h"

class tBaseLoadedLibrary : public tLoadedLibrary {
public:
  // Loads the file; the interface's class then looks up its entries and runs the plug-in's initialisation.
  explicit tBaseLoadedLibrary(const std::string& fileName);
  ~tBaseLoadedLibrary() override;
  tBaseLoadedLibrary(const tBaseLoadedLibrary&) = delete;
  tBaseLoadedLibrary& operator=(const tBaseLoadedLibrary&) = delete;

  template <class tLibrary>
  static std::unique_ptr<tLoadedLibrary> Create(tWSIOBase& producer, const std::string& fileName) {
    return std::make_unique<tLibrary>(producer, fileName);
  }

  bool IsValid() const override { return Valid; }

  HMODULE ModuleHandle = nullptr;
  bool Valid = false; // set while the object is made, on one thread, before anyone else sees it
  const std::string FileName;

protected:
  // The export of that name as the given function type, or nullptr.
  template <class tProc> tProc Entry(const char* name) const {
    return reinterpret_cast<tProc>(reinterpret_cast<void (*)()>(GetProcAddress(ModuleHandle, name)));
  }
};
