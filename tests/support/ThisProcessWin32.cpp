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

int OpenDescriptorCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return static_cast<int>(count);
}

double ThreadCpuMs() {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user))
    return std::numeric_limits<double>::quiet_NaN(); // fails every comparison
  return Milliseconds(kernel) + Milliseconds(user);
}

} // namespace kwstest
