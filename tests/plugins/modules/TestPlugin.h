/* What the test plug-ins share: exports of their own for the tests, and a note of their termination entries
   in the file KWS_TEST_MARKER names, when it is set. */
#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

static inline void Note(const char* line) {
  const char* marker = getenv("KWS_TEST_MARKER");
  FILE* file = marker != NULL ? fopen(marker, "ab") : NULL;
  if (file != NULL) {
    fputs(line, file);
    fclose(file);
  }
}
