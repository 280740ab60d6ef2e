// The records the settings file is read into. Plain values: copying one copies its strings.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Which response producer serves a virtual directory.
enum tVDirKind : uint8_t { vkStatic = 0, vkKWSP = 1, vkISAPI = 2, vkAKWSP = 3, vkUnsupported = 4 };

constexpr int32_t kMaxListeners = 256;
constexpr int32_t kMaxVDirs = 1024;
// MAXBODYSIZE when the file has none: bodies are streamed, so the bound guards only against a client that
// never stops sending; 1 GiB lets uploads of any common size through.
constexpr uint32_t kDefaultMaxBodySize = 1024u * 1024 * 1024;

// One virtual directory.
struct tVDirData {
  std::string VDirName;
  std::string BasePath;    // PATH, as read
  std::string VirtualPath; // VPATH: the URL prefix that selects this directory
  tVDirKind Kind = vkStatic;
  std::string DllPath;   // DLL, carried along only
  std::string OtherText; // OTHER after "#" decoding: name=value lines
};

// One listener. Large (the directory array is fixed), so keep it on the heap.
struct tListenerData {
  std::string ListenerName;
  std::string PortText;
  int32_t ConnectTimeout = 0; // milliseconds
  // MAXBODYSIZE: the largest request body accepted, in bytes; a larger one is answered 413. At most
  // 4294967295, the most a plug-in's 32-bit body length can say.
  uint32_t MaxBodySize = kDefaultMaxBodySize;
  int32_t VDirCount = 0; // used entries of VDirs, from the front
  std::array<tVDirData, kMaxVDirs> VDirs;
  bool Enabled = false; // set once the record and all its directories were read
};
