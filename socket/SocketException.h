// The socket layer's one exception class: a message, nothing else.
#pragma once

#include <string>

#include "platform/rtl/sysutils.h"

class ESocketException : public Exception {
public:
  explicit ESocketException(std::string message) : Exception(std::move(message)) {}
  const char* ClassName() const override { return "ESocketException"; }
};
