#include "tests/support/ThisProcess.h"

#include <filesystem>
#include <iterator>

#include <stdlib.h>
#include <sys/resource.h>

namespace kwstest {

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

void RemoveEnvironmentValue(const std::string& name) {
  unsetenv(name.c_str());
}

int OpenDescriptorCount() {
  // Less the iterator's own descriptor.
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})) - 1;
}

double ThreadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
         usage.ru_stime.tv_usec / 1e3;
}

} // namespace kwstest
