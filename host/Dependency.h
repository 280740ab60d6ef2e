// One service or load-order group that a service needs started before itself.
#pragma once

#include <string>

struct TDependency {
  std::string Name;
  bool IsGroup = false;
};
