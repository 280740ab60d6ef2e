/* An AKWSP plug-in for the host's tests: the query names the reply. Built twice, once refusing to load. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugins/sdk/AKWSPlugin.h"
#include "tests/plugins/modules/TestPlugin.h"

static char InitPath[AKWSP_PATH_SIZE + 1];
AKWSP_CONSTANT_TEXT(ConstantBody, "constant");

EXPORT const char* TestAkwspInitPath(void) {
  return InitPath;
}

EXPORT int32_t AKWSP_CALL AKWSPGInit(int32_t code, AKWSPInitRecord* record) {
  memcpy(InitPath, record->Path, AKWSP_PATH_SIZE);
  (void)code;
#ifndef TEST_REFUSE
  record->Accepted = code == AKWSP_INIT_CODE;
#endif
  return 0;
}

EXPORT void AKWSP_QUERY2_CALL AKWSPGQuery2(AKWSP_QUERY2_PARAMS(AKWSPText peer, AKWSPText request,
                                                               AKWSPText query, AKWSPText* body,
                                                               AKWSPText* headers, int32_t* status)) {
  const char* q = query != NULL ? query : "";
  (void)peer;
  (void)request;
  *status = 200;
  if (strcmp(q, "trailing") == 0) {
    *headers = AKWSPTextFromString("  Content-Type: text/plain\r\n\r\n");
    *body = AKWSPTextFromString("hi");
  } else if (strcmp(q, "none") == 0) {
    *body = AKWSPTextFromString("hi");
  } else if (strcmp(q, "odd") == 0) {
    *status = 299;
    *body = AKWSP_TEXT(ConstantBody);
  } else if (strcmp(q, "echo") == 0) {
    char line[300];
    snprintf(line, sizeof line, "peer=%s length=%d", peer, AKWSPTextLength(request));
    *headers = AKWSPTextFromString("Content-Type: text/plain");
    *body = AKWSPTextFromString(line);
  } else {
    *headers = AKWSPTextFromString("Content-Type: text/plain");
    *body = AKWSPTextFromString("hi");
  }
}

EXPORT int32_t AKWSP_CALL AKWSPGDone(int32_t code) {
  Note(code == AKWSP_DONE_CODE ? "AKWSPGDone 3\n" : "AKWSPGDone ?\n");
  return 0;
}
