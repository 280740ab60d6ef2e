/* A sample AKWSP plug-in: answers every request with the client's address and the query. */
#include <stdio.h>
#include <string.h>

#include "AKWSPlugin.h"

AKWSP_CONSTANT_TEXT(PlainText, "Content-Type: text/plain");

AKWSP_EXPORT int32_t AKWSP_CALL AKWSPGInit(int32_t code, AKWSPInitRecord* record) {
  record->Accepted = code == AKWSP_INIT_CODE;
  return 0;
}

AKWSP_EXPORT void AKWSP_QUERY2_CALL AKWSPGQuery2(AKWSP_QUERY2_PARAMS(AKWSPText peer, AKWSPText request,
                                                                     AKWSPText query, AKWSPText* body,
                                                                     AKWSPText* headers, int32_t* status)) {
  char text[512];
  int length =
      snprintf(text, sizeof text, "Hello %s from an AKWSP plug-in; query \"%s\", %d request bytes.\n",
               peer != NULL ? peer : "", query != NULL ? query : "", AKWSPTextLength(request));
  *status = 200;
  *headers = AKWSP_TEXT(PlainText);
  *body = AKWSPTextMake(text, length > 0 ? (size_t)length : 0);
}

AKWSP_EXPORT int32_t AKWSP_CALL AKWSPGDone(int32_t code) {
  (void)code;
  return 0;
}
