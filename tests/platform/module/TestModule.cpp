// A tiny plug-in for the module loader's tests.
#include <cstring>

extern "C" int kwsTestAnswer() {
  return 42;
}

// Calls into the C library, so the library's own symbols are reachable through this module's dependencies.
extern "C" size_t kwsTestLength(const char* text) {
  return std::strlen(text);
}
