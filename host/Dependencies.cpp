#include "host/Dependencies.h"

std::string TDependencies::List() const {
  std::string list;
  for (const TDependency& item : Items) {
    if (item.IsGroup) {
      list += '+';
    }
    list += item.Name;
    list += '\0';
  }
  if (!list.empty()) {
    list += '\0';
  }
  return list;
}
