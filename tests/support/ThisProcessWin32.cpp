#include "tests/support/ThisProcess.h"

#include <limits>

#include <stdlib.h>
#include <windows.h>

namespace kwstest {

namespace {

double Milliseconds(const FILETIME& time) {
  return static_cast<double>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e4;
}

} // namespace

// The runtime's copy of the environment is the one getenv reads; it passes the change on to the system's.
bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

void RemoveEnvironmentValue(const std::string& name) {
  _putenv_s(name.c_str(), "");
}

// Handles of files, sockets and pipes, as descriptors are on Linux; the system's own events and threads, some
// made the first time a feature is used, are not counted.
int OpenDescriptorCount() {
  constexpr ULONG_PTR kHandleValueLimit = 0x20000;
  int count = 0;
  for (ULONG_PTR value = 4; value < kHandleValueLimit; value += 4)
    count += GetFileType(reinterpret_cast<HANDLE>(value)) != FILE_TYPE_UNKNOWN ? 1 : 0;
  return count;
}

double ThreadCpuMs() {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user))
    return std::numeric_limits<double>::quiet_NaN(); // fails every comparison
  return Milliseconds(kernel) + Milliseconds(user);
}

} // namespace kwstest
