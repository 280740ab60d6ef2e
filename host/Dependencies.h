// The services and groups a service depends on, in order.
#pragma once

#include <string>
#include <vector>

#include "host/Dependency.h"

class TDependencies {
public:
  TDependency& Add() { return Items.emplace_back(); }
  int Count() const { return static_cast<int>(Items.size()); }
  const TDependency& operator[](int index) const { return Items.at(static_cast<size_t>(index)); }
  void Clear() { Items.clear(); }

  // The service manager's form: each name ("+" before a group) ended by a zero byte, then one more zero
  // byte; empty for no dependencies.
  std::string List() const;

private:
  std::vector<TDependency> Items;
};
