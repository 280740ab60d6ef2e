// A plug-in library as the request path sees it: whether it serves, and one call for a request. The plug-in
// interfaces themselves live above the server.
#pragma once

#include <string>

class tWSIOBase;

class tLoadedLibrary {
public:
  virtual ~tLoadedLibrary() = default;

  // Loaded, and its initialisation accepted: only a valid library is asked to serve.
  virtual bool IsValid() const = 0;
  // Serves one call of the producer's request: the first carries the whole request, later ones the bytes
  // that arrived after it.
  virtual void Run(tWSIOBase& producer, const std::string& text) = 0;
  // The producer's reply is complete.
  virtual void Release(tWSIOBase& /*producer*/) {}
  // The producer's connection is about to end, on its worker: once this returns no call of the plug-in may
  // reach the producer any more.
  virtual void Detach(tWSIOBase& /*producer*/) {}
};
