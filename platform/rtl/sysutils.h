// The runtime's exception classes and small system helpers, portable over platform/win32.h.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/win32.h"

// The one exception base: a message and the name of its class, for the last-resort report.
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  virtual const char* ClassName() const { return "Exception"; }
  std::string Message;
};

// A failed platform call: "Win32 Error.  Code: %d.\n%s", or "A Win32 API function failed" for code 0.
class EOSError : public Exception {
public:
  EOSError(std::string message, DWORD errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
  const char* ClassName() const override { return "EOSError"; }
  DWORD ErrorCode;
};

// The platform's text for an error code, without its line break and final dot.
std::string SysErrorMessage(DWORD errorCode);
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(DWORD errorCode);

// Command-line parameters; ParamStr(0) is the program's path.
int ParamCount();
std::string ParamStr(int index);
