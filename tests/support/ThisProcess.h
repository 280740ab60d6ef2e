// What the tests ask of their own process from the system: one implementation per system, chosen by the
// build.
#pragma once

#include <string>

namespace kwstest {

// Sets a variable of the process's environment, seen by getenv here and in the modules it loaded.
bool SetEnvironmentValue(const std::string& name, const std::string& value);
void RemoveEnvironmentValue(const std::string& name);
// Descriptors (handles of files, sockets and pipes, on Windows) open in this process.
int OpenDescriptorCount();
// Processor time the calling thread has used, in milliseconds.
double ThreadCpuMs();

} // namespace kwstest
