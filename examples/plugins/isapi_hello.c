/* A sample ISAPI extension: answers with the request's server variables and its body, the header sent with
   HSE_REQ_SEND_RESPONSE_HEADER_EX; "?redirect" sends the client elsewhere instead. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Isapi2.h"

static const char* const Variables[] = {"REQUEST_METHOD",  "QUERY_STRING",    "SCRIPT_NAME",   "PATH_INFO",
                                        "SERVER_PROTOCOL", "SERVER_SOFTWARE", "SERVER_PORT",   "REMOTE_ADDR",
                                        "HTTP_USER_AGENT", "CONTENT_TYPE",    "CONTENT_LENGTH"};

typedef struct Reply {
  char* Text;
  size_t Length;
} Reply;

static void Append(Reply* reply, const char* bytes, size_t length) {
  char* grown = (char*)realloc(reply->Text, reply->Length + length + 1);
  if (grown == NULL)
    return;
  memcpy(grown + reply->Length, bytes, length);
  reply->Length += length;
  grown[reply->Length] = 0;
  reply->Text = grown;
}

static void AppendText(Reply* reply, const char* text) {
  Append(reply, text, strlen(text));
}

/* Asks for the size first, then for the value, as the published interface allows. */
static void AppendVariable(EXTENSION_CONTROL_BLOCK* ecb, Reply* reply, const char* name) {
  DWORD size = 0;
  char* value;
  AppendText(reply, name);
  AppendText(reply, "=");
  if (ecb->GetServerVariable(ecb->ConnID, (LPSTR)name, NULL, &size) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    AppendText(reply, "(none)\n");
    return;
  }
  value = (char*)malloc(size);
  if (value != NULL && ecb->GetServerVariable(ecb->ConnID, (LPSTR)name, value, &size))
    AppendText(reply, value);
  free(value);
  AppendText(reply, "\n");
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  strncpy(version->lpszExtensionDesc, "Sample extension", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  Reply reply = {NULL, 0};
  HSE_SEND_HEADER_EX_INFO header;
  char headerText[128];
  char buffer[1024];
  DWORD count;
  DWORD read;
  size_t i;
  if (strcmp(ecb->lpszQueryString, "redirect") == 0) {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, "/isapi/isapi_hello?redirected",
                               NULL, NULL);
    return HSE_STATUS_SUCCESS;
  }
  AppendText(&reply, "Hello from an ISAPI extension.\n");
  for (i = 0; i < sizeof Variables / sizeof Variables[0]; ++i)
    AppendVariable(ecb, &reply, Variables[i]);
  /* The control block holds the body's first part; ReadClient gives the rest as it arrives. */
  AppendText(&reply, "body=");
  if (ecb->lpbData != NULL)
    Append(&reply, (const char*)ecb->lpbData, ecb->cbAvailable);
  for (read = ecb->cbAvailable; read < ecb->cbTotalBytes; read += count) {
    count = sizeof buffer;
    if (!ecb->ReadClient(ecb->ConnID, buffer, &count) || count == 0)
      break; /* the client has gone */
    Append(&reply, buffer, count);
  }
  AppendText(&reply, "\n");
  snprintf(headerText, sizeof headerText, "Content-Type: text/plain\r\nContent-Length: %u\r\n\r\n",
           (unsigned)reply.Length);
  header.pszStatus = "200 OK";
  header.cchStatus = (DWORD)strlen(header.pszStatus);
  header.pszHeader = headerText;
  header.cchHeader = (DWORD)strlen(headerText);
  header.fKeepConn = FALSE;
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &header, NULL, NULL);
  count = (DWORD)reply.Length;
  ecb->WriteClient(ecb->ConnID, reply.Text, &count, HSE_IO_SYNC);
  free(reply.Text);
  return HSE_STATUS_SUCCESS;
}

BOOL WINAPI TerminateExtension(DWORD flags) {
  (void)flags;
  return TRUE;
}
