// Answers requests of AKWSP directories, once per connection.
#pragma once

#include <string>

#include "server/WSIOBase.h"

class tWSIO_AKWSP : public tWSIOBase {
public:
  using tWSIOBase::tWSIOBase;

  // The first call is answered; bytes arriving after the request (a trailing CR LF) are not a new request.
  void HandleData(const std::string& text) override;
  bool UsesPlugin() const override { return true; }

private:
  bool Answered = false; // touched only by the thread that runs HandleData, one call at a time
};
